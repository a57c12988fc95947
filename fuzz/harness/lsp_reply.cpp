// The acceleration pipe's reply as the network-stack component reads it inside any program: a
// usable reply names a server and a port, and a token (perhaps empty) that fits the SOCKS5
// limits.
#include <cstring>

#include "fuzz_input.h"
#include "lsp/acc_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AccReply reply;
  bool ok = ParseAccReply({data, size}, reply);
  FUZZ_CHECK(ok == reply.accelerate);
  if (ok) {
    size_t server = strnlen(reply.server, sizeof reply.server);
    FUZZ_CHECK(server > 0 && server < sizeof reply.server);
    FUZZ_CHECK(reply.port != 0);
    FUZZ_CHECK(reply.token_size <= 255);  // empty: the proxy takes no authentication
    FUZZ_CHECK(reply.token[reply.token_size] == '\0');
  }
  return 0;
}
