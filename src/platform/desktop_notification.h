// One desktop notification (org.freedesktop.Notifications on the session bus) that can be shown,
// replaced and closed: the balloon of the notification-area icon. Calls never wait for the
// notification server. Without a session bus nothing is shown. UI thread only.
#pragma once

#include <memory>

#include "base/text.h"

class DesktopNotification {
 public:
  DesktopNotification();
  // Closes a notification still shown.
  ~DesktopNotification();
  DesktopNotification(const DesktopNotification&) = delete;
  DesktopNotification& operator=(const DesktopNotification&) = delete;

  // Shows (or replaces) the notification. `timeout_ms` <= 0 leaves the time to the server.
  void Show(const Text& app_name, const Text& icon_file, const Text& summary, const Text& body,
            int32_t timeout_ms);
  void Close();

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};
