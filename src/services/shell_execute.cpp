#include "services/shell_execute.h"

#include <chrono>
#include <csignal>
#include <optional>

#include "base/compare.h"
#include "base/path.h"
#include "platform/child_reaper.h"
#include "platform/process_spawn.h"
#include "services/shell_start.h"

namespace {

constexpr uint32_t kInfinite = 0xFFFFFFFF;
constexpr std::chrono::milliseconds kTerminateGrace{200};

// The text of `file` before its last separator; empty when it has none.
Text WorkingDirectoryOf(const Text& file) {
  Text path = ToForwardSlashes(file);
  size_t slash = path.rfind(u'/');
  if (slash == Text::npos) return Text();
  // "/x" lies in the root; its directory text is empty but means "/".
  return slash == 0 ? Text(u"/") : path.substr(0, slash);
}

bool IsRunVerb(const Text& verb) {
  return verb.empty() || CompareNoCase(verb, u"open") == 0 || CompareNoCase(verb, u"runas") == 0;
}

// Ends a child whose time ran out: SIGTERM first, so that it may clean up, then SIGKILL.
void EndChild(const ProcessHandle& child) {
  (void)child.Signal(SIGTERM);
  Result<bool> ended = child.WaitEnded(kTerminateGrace);
  if (!ended || !*ended) (void)child.Signal(SIGKILL);
}

}  // namespace

int32_t ShellExecute(const Text& file, const Text& parameters, int32_t show) {
  ShellStart start = StartShellTarget(file, parameters, WorkingDirectoryOf(file));
  if (start.process) ReapWhenEnded(std::move(*start.process));
  return start.code;
}

int32_t ShellExecuteAndWait(const Text& verb, const Text& file, const Text& parameters,
                            int32_t show, int32_t timeout) {
  if (!IsRunVerb(verb)) return kShellNoProcess;
  ShellStart start = StartShellTarget(file, parameters, Text());
  if (!start.process) return kShellNoProcess;
  const ProcessHandle& child = *start.process;

  uint32_t limit = static_cast<uint32_t>(timeout);
  std::optional<std::chrono::milliseconds> wait;
  if (limit != kInfinite) wait = std::chrono::milliseconds(limit);
  Result<bool> ended = child.WaitEnded(wait);
  bool timed_out = ended && !*ended;
  if (!ended || timed_out) EndChild(child);
  Result<int> status = ReapChild(child);
  if (timed_out) return kShellWaitTimedOut;
  return status ? *status : kShellNoProcess;
}
