#include "services/command_line_text.h"

#include "base/command_line.h"
#include "services/argument_quoting.h"

Text GetCommandLine() {
  return JoinCommandLine(GetCommandLineArgs());
}
