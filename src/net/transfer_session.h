// The Internet session each HTTP transfer of page script opens for itself.
#pragma once

#include <memory>

#include "platform/internet_session.h"

// The application's name, sent as the user agent.
inline constexpr char kHttpUserAgent[] = "morvil";

// A fresh session, or null when none can be opened.
[[nodiscard]] std::shared_ptr<InternetSession> OpenTransferSession();
