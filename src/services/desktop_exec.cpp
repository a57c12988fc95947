#include "services/desktop_exec.h"

namespace {

constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";

}  // namespace

std::string QuoteExecArgument(std::string_view argument) {
  const bool quote = argument.empty() || argument.find_first_of(kReserved) != std::string::npos;
  std::string out;
  if (quote) out += '"';
  for (char c : argument) {
    if (c == '%') {
      out += "%%";
      continue;
    }
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
    out += c;
  }
  if (quote) out += '"';
  return out;
}

std::string BuildExec(const std::vector<std::string>& arguments) {
  std::string exec;
  for (const std::string& argument : arguments) {
    if (!exec.empty()) exec += ' ';
    exec += QuoteExecArgument(argument);
  }
  return exec;
}
