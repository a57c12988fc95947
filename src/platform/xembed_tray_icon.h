// A notification-area icon in the XEmbed system tray (the freedesktop system tray protocol),
// for panels that run no StatusNotifierWatcher. Shown while this object lives (and a tray
// exists). UI thread only.
#pragma once

#include <functional>
#include <memory>

#include "base/text.h"

class XEmbedTrayIcon {
 public:
  struct Handlers {
    std::function<void()> activate;      // left click
    std::function<void()> context_menu;  // right click
  };
  explicit XEmbedTrayIcon(Handlers handlers);
  ~XEmbedTrayIcon();
  XEmbedTrayIcon(const XEmbedTrayIcon&) = delete;
  XEmbedTrayIcon& operator=(const XEmbedTrayIcon&) = delete;

  void Update(const Text& icon_file, const Text& tooltip);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
