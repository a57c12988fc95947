// The user-interface thread: the thread that runs GTK and owns every window. Workers reach it
// only through these calls; they never touch GTK themselves.
#pragma once

#include <functional>

// Marks the calling thread as the user-interface thread. Called once at start-up.
void BindUiThread();
[[nodiscard]] bool IsUiThread();

// Runs `task` on the user-interface thread at its next idle moment. Safe from any thread.
void PostToUi(std::function<void()> task);

// Runs `task` on the user-interface thread and waits for it; runs it at once when called there.
void RunOnUiAndWait(const std::function<void()>& task);
