// The process's command line as a list of texts, in order; the first is the program path as the
// command line gave it. Read afresh on every call; an unreadable command line gives an empty list.
#pragma once

#include <vector>

#include "base/text.h"

[[nodiscard]] std::vector<Text> GetCommandLineArgs();
