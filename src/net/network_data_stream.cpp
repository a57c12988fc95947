#include "net/network_data_stream.h"

CNetWorkDataStream::CNetWorkDataStream(std::filesystem::path sysfsNetRoot, AdapterList listAdapters)
    : m_counters(std::move(sysfsNetRoot)), m_listAdapters(std::move(listAdapters)) {}

bool CNetWorkDataStream::GetNetworkInfo() {
  Result<std::vector<NetworkAdapter>> adapters = m_listAdapters();
  if (!adapters || adapters->empty()) return false;
  for (const NetworkAdapter& adapter : *adapters) {
    Result<InterfaceByteCounters> counters = m_counters.Read(adapter.name);
    if (!counters) continue;
    m_dwDownloadTotal = counters->received;
    m_dwUploadTotal = counters->sent;
  }
  return true;
}

int32_t CNetWorkDataStream::GetCurrDownloadTotal() const {
  return static_cast<int32_t>(m_dwDownloadTotal);
}

int32_t CNetWorkDataStream::GetCurrUploadTotal() const {
  return static_cast<int32_t>(m_dwUploadTotal);
}
