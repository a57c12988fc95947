// Command-line texts as the system's pages know them: arguments separated by blanks, an argument
// that holds blanks or double quotes written in double quotes, a quote inside written as \", and
// backslashes doubled only where they precede a quote. Pure functions; thread-safe.
//
//   {a b} -> "a b"     {say "hi"} -> "say \"hi\""     {C:\dir\} -> C:\dir\     {x y\} -> "x y\\"
#pragma once

#include <vector>

#include "base/text.h"

// One argument in its command-line form; the empty argument is "".
[[nodiscard]] Text QuoteArgument(TextView argument);

// The program path (quoted when it holds blanks, never escaped, as a program path is read up to
// its closing quote) followed by every other argument in its command-line form, one blank apart.
[[nodiscard]] Text JoinCommandLine(const std::vector<Text>& arguments);

// Splits a text of arguments (no program path) back into the arguments: the inverse of joining
// QuoteArgument forms with blanks.
[[nodiscard]] std::vector<Text> SplitArguments(TextView text);
