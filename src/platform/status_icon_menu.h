// An item of a notification-area icon's menu: its label and the number it reports when chosen.
#pragma once

#include <cstdint>
#include <vector>

#include "base/text.h"

struct StatusIconMenuEntry {
  Text label;
  uint16_t command = 0;
};
using StatusIconMenu = std::vector<StatusIconMenuEntry>;
