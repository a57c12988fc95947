// The program's one icon in the desktop's notification area, on whatever the desktop offers:
// a StatusNotifierItem on the session bus where a StatusNotifierWatcher runs (KDE, GNOME with
// the AppIndicator extension, most current panels), else the XEmbed system tray (older panels,
// light window managers). It follows the watcher: when one appears the icon moves to it, when it
// goes the icon falls back to the XEmbed tray. UI thread only.
#pragma once

#include <functional>
#include <memory>

#include "platform/status_icon_menu.h"

class StatusIcon {
 public:
  struct Handlers {
    std::function<void()> activate;             // primary click on the icon
    std::function<void()> context_menu;         // secondary click the desktop leaves to us
    std::function<void(uint16_t)> menu_chosen;  // the desktop showed the menu; an item was chosen
  };
  explicit StatusIcon(Handlers handlers);
  ~StatusIcon();
  StatusIcon(const StatusIcon&) = delete;
  StatusIcon& operator=(const StatusIcon&) = delete;

  // Puts the icon on the desktop or updates it.
  void Show(const Text& icon_file, const Text& tooltip, const StatusIconMenu& menu);
  void Hide();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
