// The tray menu's items as page script names them: a comma-separated list that alternates item
// text and command number ("Open,1001,Exit,1002"). Thread-safe: pure.
#pragma once

#include <cstdint>
#include <vector>

#include "base/text.h"

struct TrayMenuItem {
  Text text;
  // The number travels in the low 16 bits of a command message, so only those are kept.
  uint16_t command = 0;
  friend bool operator==(const TrayMenuItem&, const TrayMenuItem&) = default;
};

// Items in order. Numbers are read as _wtoi does (text that is no number gives 0). There is no
// escaping: an item text cannot hold a comma. A trailing text without a number is dropped, and
// a list without any comma gives no items.
[[nodiscard]] std::vector<TrayMenuItem> ParseTrayMenuSpec(TextView spec);
