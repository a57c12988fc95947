// The wire format between the page-side shim and the host. One request or reply is UTF-8 text:
//
//   request:  "<page id>\n<frame URL (JSON string)>\n<method name (JSON string)>\n<arg>\n<arg>..."
//   argument: 's' JSON string | 'i' decimal int32 | 'd' number | 'b0' / 'b1' | 'u' undefined |
//             'n' null | 'o' object
//   reply:    'u' | 's' JSON string | 'i' decimal | 'b0' / 'b1' | 'e' HRESULT "\n" JSON message
//
// While the host serves a page's call it may first ask that page's web process to evaluate a
// script in the page's main frame: it sends 'q' + script where the reply would come; the web
// process answers 'a' + the value as JSON (nothing after the 'a' when the script failed) and
// goes on waiting for its reply. No reply starts with 'q'.
//
// JSON strings carry any UTF-16 text, lone surrogates included (as \uXXXX escapes). The page id
// and frame URL are put in front by the web-process side, never by page script. Pure functions.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/script_value.h"

struct BridgeRequest {
  uint64_t page_id = 0;
  Text frame_url;
  Text method;
  std::vector<ScriptValue> args;
};

[[nodiscard]] std::optional<BridgeRequest> ParseBridgeRequest(std::string_view wire);

[[nodiscard]] std::string EncodeBridgeReply(const ScriptResult& value);
[[nodiscard]] std::string EncodeBridgeError(HRESULT status, const Text& message);

// A JSON string literal (with its quotes) from any UTF-16 text, and back. Surrogates and
// control characters are escaped; other characters are written as UTF-8.
[[nodiscard]] std::string EncodeJsonString(TextView text);
[[nodiscard]] std::optional<Text> DecodeJsonString(std::string_view json);

inline constexpr char kBridgeQuery = 'q';
inline constexpr char kBridgeAnswer = 'a';

// The elements of a JSON array whose elements are strings and numbers: strings decoded, numbers
// as written. Nullopt for any other JSON.
[[nodiscard]] std::optional<std::vector<Text>> ParseJsonArray(std::string_view json);
