// What a SOCKS5 proxy answers, as the network-stack component parses it: a parsed message never
// claims more bytes than it was given, and a reply's size announced by its first five bytes is
// the size the full parse finds.
#include "fuzz_input.h"
#include "lsp/socks5.h"

using socks5::Parse;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> in(data, size);
  (void)socks5::ParseMethodChoice(in);
  (void)socks5::ParseAuthStatus(in);

  socks5::Reply reply;
  Parse parsed = socks5::ParseReply(in, reply);
  if (parsed == Parse::kOk) FUZZ_CHECK(reply.size <= size && reply.size <= socks5::kMaxReplySize);
  if (size >= 5) {
    size_t expected = socks5::ExpectedReplySize(in.first(5));
    if (expected != 0 && parsed == Parse::kOk) FUZZ_CHECK(expected == reply.size);
    if (expected != 0 && size >= expected) FUZZ_CHECK(parsed != Parse::kIncomplete);
  }

  socks5::UdpHeader header;
  if (socks5::ParseUdpHeader(in, header) == Parse::kOk) FUZZ_CHECK(header.size <= size);
  return 0;
}
