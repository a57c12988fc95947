// A message on the acceleration pipe, answered from a store that lists a few programs: a reply
// is always "0," or "1," followed by the proxy data as stored.
#include "fuzz_input.h"
#include "pipe/acc_request_server.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static PairStore store;
  static const bool filled = [] {
    store.Store(u"acc.processes", u"curl,Game.exe, spaced ,,\u00e9t\u00e9.bin");
    store.Store(u"acc.proxy_server", u"192.0.2.10");
    store.Store(u"acc.proxy_port", u"1080");
    store.Store(u"acc.proxy_token", u"t,o\u4e16ken");
    return true;
  }();
  (void)filled;
  std::optional<Text> reply = AnswerAccMessage(Utf16Units(data, size), store);
  if (reply) {
    FUZZ_CHECK(reply->size() > 2 && ((*reply)[0] == u'0' || (*reply)[0] == u'1'));
    FUZZ_CHECK(reply->substr(1) == u",192.0.2.10,1080,t,o\u4e16ken");
  }
  return 0;
}
