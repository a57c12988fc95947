// A popup menu shown at the mouse pointer, as a notification-area icon's menu opens where the
// user clicked. UI thread only.
#pragma once

#include <functional>

#include "platform/status_icon_menu.h"

// Shows `menu` at the pointer and returns at once; `chosen` runs with the item's number when the
// user picks one. An empty menu shows nothing.
void PopupMenuAtPointer(const StatusIconMenu& menu, std::function<void(uint16_t)> chosen);
