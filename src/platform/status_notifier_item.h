// A notification-area icon exported on the session bus as a StatusNotifierItem, with its menu
// as a dbusmenu object, and registered with the desktop's StatusNotifierWatcher. The object lives
// on the bus as long as this object does. UI thread only (callbacks run in the default main
// context).
#pragma once

#include <functional>
#include <memory>

#include "platform/status_icon_menu.h"

typedef struct _GDBusConnection GDBusConnection;

class StatusNotifierItem {
 public:
  struct Handlers {
    std::function<void()> activate;             // the desktop's primary click
    std::function<void()> context_menu;         // a secondary click the desktop did not serve
    std::function<void(uint16_t)> menu_chosen;  // an item of the exported menu was clicked
    std::function<void(bool)> registered;       // the watcher accepted (true) or refused
  };

  // Exports the item and its menu on `bus` under a bus name of its own and asks the watcher to
  // show it; the answer arrives through `registered`.
  StatusNotifierItem(GDBusConnection* bus, Handlers handlers);
  ~StatusNotifierItem();
  StatusNotifierItem(const StatusNotifierItem&) = delete;
  StatusNotifierItem& operator=(const StatusNotifierItem&) = delete;

  // Sends the registration again (after the watcher restarted).
  void Register();
  // Changes the icon's picture file, tool-tip and menu, and tells the desktop.
  void Update(const Text& icon_file, const Text& tooltip, const StatusIconMenu& menu);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
