// Reaps children that nobody waits for, so that a program started and left to run never stays
// behind as a zombie once it ends. One thread, started on first use, watches the children's
// pidfds; it lives as long as the process. Thread-safe.
#pragma once

#include "platform/process_handle.h"

// Takes the child over and reaps it when it ends; its exit status is dropped.
void ReapWhenEnded(ProcessHandle child);
