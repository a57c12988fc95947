// The Exec value of a desktop entry: the program and its arguments, each written by the desktop
// entry rules so that the launcher hands the program exactly these arguments. Pure; thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// One argument: as is when it holds no reserved character, otherwise in double quotes with
// '"', '`', '$' and '\' escaped by a backslash; '%' is doubled in either form (it introduces
// field codes), and the empty argument is "". The result is the value before key-file escaping
// (GKeyFile adds that layer when it writes the value).
[[nodiscard]] std::string QuoteExecArgument(std::string_view argument);

// The arguments, quoted, one blank apart.
[[nodiscard]] std::string BuildExec(const std::vector<std::string>& arguments);
