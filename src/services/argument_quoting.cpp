#include "services/argument_quoting.h"

namespace {

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t';
}

bool NeedsQuotes(TextView argument) {
  if (argument.empty()) return true;
  for (char16_t c : argument)
    if (IsBlank(c) || c == u'"' || c == u'\n' || c == u'\v') return true;
  return false;
}

}  // namespace

Text QuoteArgument(TextView argument) {
  if (!NeedsQuotes(argument)) return Text(argument);
  Text out = u"\"";
  size_t backslashes = 0;
  for (char16_t c : argument) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote itself escaped.
    out.append(c == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, u'\\');  // they now precede the closing quote
  out += u'"';
  return out;
}

Text JoinCommandLine(const std::vector<Text>& arguments) {
  Text line;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i == 0) {
      bool blanks = arguments[0].empty() || arguments[0].find_first_of(u" \t") != Text::npos;
      line = blanks ? u"\"" + arguments[0] + u"\"" : arguments[0];
    } else {
      line += u' ';
      line += QuoteArgument(arguments[i]);
    }
  }
  return line;
}

std::vector<Text> SplitArguments(TextView text) {
  std::vector<Text> arguments;
  size_t i = 0;
  for (;;) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i == text.size()) return arguments;
    Text argument;
    bool quoted = false;
    while (i < text.size() && (quoted || !IsBlank(text[i]))) {
      if (text[i] == u'\\') {
        size_t backslashes = 0;
        while (i < text.size() && text[i] == u'\\') ++backslashes, ++i;
        if (i < text.size() && text[i] == u'"') {
          argument.append(backslashes / 2, u'\\');
          if (backslashes % 2 == 1) {
            argument += u'"';
            ++i;
          }
        } else {
          argument.append(backslashes, u'\\');
        }
      } else if (text[i] == u'"') {
        if (quoted && i + 1 < text.size() && text[i + 1] == u'"') {
          argument += u'"';  // "" inside quotes is a literal quote
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        argument += text[i++];
      }
    }
    arguments.push_back(std::move(argument));
  }
}
