// Asking whether the backend service at the system location serves, for its starter and for a
// user's service that gives way to it.
#pragma once

#include <chrono>

// True when the service at the system location (never a user's) answers a status question
// within `wait`. Blocks up to `wait`. Thread-safe.
[[nodiscard]] bool SystemServiceAnswers(std::chrono::milliseconds wait);
