// Shortcuts as desktop entries (.desktop files) that start a program with arguments.
#pragma once

#include "base/text.h"

// Script method: writes a desktop entry at `linkFile` (the path as given, '\' read as '/', its
// extension included; an existing file is replaced) that starts `target` with `arguments`. The
// target must be an existing regular file that can be read now (a directory cannot be a target);
// `arguments` is a command-line text, split into arguments as page script writes them (see
// argument_quoting.h). The entry is of type Application, named after the link file (its name
// without extension), and executable like a program, as desktops require of launchers they trust.
// True when the file was written. The last three strings are accepted and ignored.
[[nodiscard]] bool CreateShortcut(const Text& target, const Text& linkFile, const Text& arguments,
                                  const Text& unused4, const Text& unused5, const Text& unused6);
