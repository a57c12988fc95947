// The process's command line as one text, for page script.
#pragma once

#include "base/text.h"

// Script method: the program path followed by the arguments the process was started with, each
// written so that it reads back as the same argument (see argument_quoting.h). Read afresh on
// every call; empty when the command line cannot be read.
[[nodiscard]] Text GetCommandLine();
