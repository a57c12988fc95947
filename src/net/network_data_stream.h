// Byte totals of the machine's network traffic for page script: GetNetworkInfo reads the IPv4
// adapter list and takes the counters of the last adapter whose counters can be read; the two
// total methods answer what was stored then (0 before the first successful read). The totals
// are the interface's own 32-bit counters: they wrap after 4 GiB and reach page script as signed
// numbers, so 2^31 bytes and more arrive negative. Not thread-safe: the window's thread calls it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

#include "platform/interface_table.h"

class CNetWorkDataStream {
 public:
  using AdapterList = std::function<Result<std::vector<NetworkAdapter>>()>;

  // `sysfsNetRoot` and `listAdapters` replace the system's counters and adapter list (tests).
  explicit CNetWorkDataStream(std::filesystem::path sysfsNetRoot = "/sys/class/net",
                              AdapterList listAdapters = ListIpv4Adapters);
  virtual ~CNetWorkDataStream() = default;

  // TRUE when the adapter list was read and is not empty. The totals change only when some
  // adapter's counters could be read; otherwise they stay as they were.
  bool GetNetworkInfo();
  [[nodiscard]] int32_t GetCurrDownloadTotal() const;
  [[nodiscard]] int32_t GetCurrUploadTotal() const;

 private:
  InterfaceCounterReader m_counters;
  AdapterList m_listAdapters;
  uint32_t m_dwDownloadTotal = 0;
  uint32_t m_dwUploadTotal = 0;
};
