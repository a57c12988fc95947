// Runs a program of the system (searched in the fixed PATH the component runs with) and waits
// for it. Thread-safe.
#pragma once

#include <string>
#include <vector>

// The exit status; -1 when it could not be started or was killed. Its output is discarded.
[[nodiscard]] int RunCommand(const std::vector<std::string>& argv);
