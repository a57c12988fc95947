// Moving a relayed datagram's payload into the program's buffers past the SOCKS5 header.
#include "lsp/iovec_shift.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

namespace {

// Simulates a read of `datagram` into a `head_size` scratch buffer followed by `buffers`.
std::string Receive(const std::string& datagram, size_t head_size, size_t header,
                    std::vector<std::string>& buffers) {
  std::vector<uint8_t> head(head_size);
  size_t at = 0;
  for (; at < datagram.size() && at < head_size; ++at)
    head[at] = static_cast<uint8_t>(datagram[at]);
  std::vector<iovec> iov;
  size_t tail = 0;
  for (std::string& b : buffers) {
    for (size_t i = 0; i < b.size() && at < datagram.size(); ++i, ++at, ++tail) b[i] = datagram[at];
    iov.push_back({b.data(), b.size()});
  }
  size_t n = ShiftPayloadIntoIovecs(head.data(), std::min(head_size, datagram.size()), header,
                                    iov.data(), iov.size(), tail);
  std::string joined = std::accumulate(buffers.begin(), buffers.end(), std::string());
  return joined.substr(0, n);
}

TEST(IovecShiftTest, PayloadLandsAtTheStartOfTheBuffers) {
  const std::string header = "HHHHHHHHHH";  // an IPv4 header is 10 bytes
  const std::string payload = "0123456789abcdefghijklmnopqrstuvwxyz";
  struct Row {
    size_t head_size;
    std::vector<size_t> buffers;
    size_t expect;
  } rows[] = {
      {22, {100}, 36},        // payload spills from the scratch into one buffer
      {22, {5, 7, 100}, 36},  // scattered buffers
      {22, {20}, 20},         // cut at the buffers' capacity
      {46, {100}, 36},        // whole datagram fits the scratch
      {22, {3, 4}, 7},        // capacity smaller than the scratch's share
      {10, {100}, 36},        // scratch holds the header only
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.head_size);
    std::vector<std::string> buffers;
    for (size_t size : row.buffers) buffers.emplace_back(size, '.');
    EXPECT_EQ(Receive(header + payload, row.head_size, header.size(), buffers),
              payload.substr(0, row.expect));
  }
}

TEST(IovecShiftTest, EmptyPayloadAndNoBuffers) {
  std::vector<std::string> buffers{std::string(8, '.')};
  EXPECT_EQ(Receive("HHHHHHHHHH", 22, 10, buffers), "");
  std::vector<std::string> none;
  EXPECT_EQ(Receive("HHHHHHHHHHpayload", 22, 10, none), "");
}

}  // namespace
