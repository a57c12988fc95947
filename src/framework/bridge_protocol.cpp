#include "framework/bridge_protocol.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<ScriptValue> ParseArgument(std::string_view a) {
  if (a.empty()) return std::nullopt;
  std::string_view rest = a.substr(1);
  switch (a[0]) {
    case 's': {
      std::optional<Text> s = DecodeJsonString(rest);
      if (!s) return std::nullopt;
      return ScriptValue::String(std::move(*s));
    }
    case 'i': {
      int32_t value = 0;
      auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
      if (ec != std::errc() || end != rest.data() + rest.size()) return std::nullopt;
      return ScriptValue::Int(value);
    }
    case 'd': {
      std::string text(rest);
      char* end = nullptr;
      double value = std::strtod(text.c_str(), &end);
      if (text.empty() || *end != '\0') {
        // JavaScript writes these three without digits.
        if (text == "NaN")
          value = NAN;
        else if (text == "Infinity")
          value = INFINITY;
        else if (text == "-Infinity")
          value = -INFINITY;
        else
          return std::nullopt;
      }
      return ScriptValue::Double(value);
    }
    case 'b':
      if (rest == "0" || rest == "1") return ScriptValue::Bool(rest == "1");
      return std::nullopt;
    case 'u':
      return rest.empty() ? std::optional(ScriptValue::Empty()) : std::nullopt;
    case 'n':
      return rest.empty() ? std::optional(ScriptValue::Null()) : std::nullopt;
    case 'o':
      return rest.empty() ? std::optional(ScriptValue::Object()) : std::nullopt;
    default:
      return std::nullopt;
  }
}

}  // namespace

std::optional<BridgeRequest> ParseBridgeRequest(std::string_view wire) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  for (;;) {
    size_t nl = wire.find('\n', start);
    lines.push_back(wire.substr(start, nl == std::string_view::npos ? nl : nl - start));
    if (nl == std::string_view::npos) break;
    start = nl + 1;
  }
  if (lines.size() < 3) return std::nullopt;
  BridgeRequest request;
  auto [end, ec] =
      std::from_chars(lines[0].data(), lines[0].data() + lines[0].size(), request.page_id);
  if (ec != std::errc() || end != lines[0].data() + lines[0].size()) return std::nullopt;
  std::optional<Text> frame = DecodeJsonString(lines[1]);
  std::optional<Text> method = DecodeJsonString(lines[2]);
  if (!frame || !method) return std::nullopt;
  request.frame_url = std::move(*frame);
  request.method = std::move(*method);
  for (size_t i = 3; i < lines.size(); ++i) {
    std::optional<ScriptValue> arg = ParseArgument(lines[i]);
    if (!arg) return std::nullopt;
    request.args.push_back(std::move(*arg));
  }
  return request;
}

std::string EncodeBridgeReply(const ScriptResult& value) {
  switch (value.index()) {
    case 1:
      return "s" + EncodeJsonString(std::get<Text>(value));
    case 2:
      return "i" + std::to_string(std::get<int32_t>(value));
    case 3:
      return std::get<bool>(value) ? "b1" : "b0";
    default:
      return "u";
  }
}

std::string EncodeBridgeError(HRESULT status, const Text& message) {
  return "e" + std::to_string(status) + "\n" + EncodeJsonString(message);
}

std::string EncodeJsonString(TextView text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  out.reserve(text.size() + 2);
  size_t run = 0;  // start of the pending run of plain characters
  auto flush = [&](size_t end) {
    if (end > run) out += ToUtf8(text.substr(run, end - run));
  };
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    const bool surrogate = c >= 0xD800 && c <= 0xDFFF;
    if (c >= 0x20 && c != u'"' && c != u'\\' && !surrogate) continue;
    flush(i);
    run = i + 1;
    if (c == u'"') {
      out += "\\\"";
    } else if (c == u'\\') {
      out += "\\\\";
    } else {
      out += "\\u";
      out += kHex[(c >> 12) & 15];
      out += kHex[(c >> 8) & 15];
      out += kHex[(c >> 4) & 15];
      out += kHex[c & 15];
    }
  }
  flush(text.size());
  out += '"';
  return out;
}

std::optional<Text> DecodeJsonString(std::string_view json) {
  if (json.size() < 2 || json.front() != '"' || json.back() != '"') return std::nullopt;
  std::string_view body = json.substr(1, json.size() - 2);
  Text out;
  out.reserve(body.size());
  size_t run = 0;
  for (size_t i = 0; i < body.size(); ++i) {
    char c = body[i];
    if (c == '"') return std::nullopt;
    if (c != '\\') continue;
    out += FromUtf8(body.substr(run, i - run));
    if (++i >= body.size()) return std::nullopt;
    switch (body[i]) {
      case '"':
        out += u'"';
        break;
      case '\\':
        out += u'\\';
        break;
      case '/':
        out += u'/';
        break;
      case 'b':
        out += u'\b';
        break;
      case 'f':
        out += u'\f';
        break;
      case 'n':
        out += u'\n';
        break;
      case 'r':
        out += u'\r';
        break;
      case 't':
        out += u'\t';
        break;
      case 'u': {
        int value = 0;
        for (int k = 1; k <= 4; ++k) {
          int h = i + k < body.size() ? HexValue(body[i + k]) : -1;
          if (h < 0) return std::nullopt;
          value = value * 16 + h;
        }
        out += static_cast<char16_t>(value);
        i += 4;
        break;
      }
      default:
        return std::nullopt;
    }
    run = i + 1;
  }
  out += FromUtf8(body.substr(run));
  return out;
}

std::optional<std::vector<Text>> ParseJsonArray(std::string_view json) {
  auto skip_blanks = [&](size_t i) {
    while (i < json.size() &&
           (json[i] == ' ' || json[i] == '\n' || json[i] == '\t' || json[i] == '\r'))
      ++i;
    return i;
  };
  size_t i = skip_blanks(0);
  if (i >= json.size() || json[i] != '[') return std::nullopt;
  std::vector<Text> items;
  i = skip_blanks(i + 1);
  if (i < json.size() && json[i] == ']')
    return skip_blanks(i + 1) == json.size() ? std::optional(items) : std::nullopt;
  for (;;) {
    if (i >= json.size()) return std::nullopt;
    size_t end = i;
    if (json[i] == '"') {
      for (end = i + 1; end < json.size() && json[end] != '"'; ++end)
        if (json[end] == '\\') ++end;
      if (end >= json.size()) return std::nullopt;
      std::optional<Text> item = DecodeJsonString(json.substr(i, end + 1 - i));
      if (!item) return std::nullopt;
      items.push_back(std::move(*item));
      ++end;
    } else {
      while (end < json.size() &&
             (std::isdigit(static_cast<unsigned char>(json[end])) || json[end] == '-' ||
              json[end] == '+' || json[end] == '.' || json[end] == 'e' || json[end] == 'E'))
        ++end;
      if (end == i) return std::nullopt;
      items.push_back(FromUtf8(json.substr(i, end - i)));
    }
    i = skip_blanks(end);
    if (i < json.size() && json[i] == ']') {
      if (skip_blanks(i + 1) != json.size()) return std::nullopt;
      return items;
    }
    if (i >= json.size() || json[i] != ',') return std::nullopt;
    i = skip_blanks(i + 1);
  }
}
