// A call as the web process sends it: the wire text is decoded, then every argument is converted
// to each parameter type a method can declare. Decoded strings survive a round trip through the
// JSON string form the replies use. The same bytes go through the reader of the web process's
// answers to the host's questions (a JSON array).
#include "framework/bridge_protocol.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // What a web process answers to the host's own questions during a call.
  (void)ParseJsonArray(Bytes(data, size));
  std::optional<BridgeRequest> request = ParseBridgeRequest(Bytes(data, size));
  if (!request) return 0;
  for (const ScriptValue& arg : request->args) {
    for (ScriptType type : {ScriptType::kString, ScriptType::kInt, ScriptType::kBool}) {
      ScriptArg out = Text(u"\xbd");
      if (ConvertArgument(arg, type, out) != S_OK) {
        FUZZ_CHECK(std::get<Text>(out) == u"\xbd");  // untouched on failure
      }
    }
    if (arg.kind == ScriptValue::Kind::kString) {
      std::optional<Text> back = DecodeJsonString(EncodeJsonString(arg.string));
      FUZZ_CHECK(back && *back == arg.string);
    }
  }
  (void)EncodeBridgeError(E_FAIL, request->method);
  return 0;
}
