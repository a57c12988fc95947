#include "services/tray_menu.h"

#include "base/decimal.h"

std::vector<TrayMenuItem> ParseTrayMenuSpec(TextView spec) {
  std::vector<TrayMenuItem> items;
  TextView rest = spec;
  while (!rest.empty()) {
    size_t comma = rest.find(u',');
    if (comma == TextView::npos) break;
    TextView text = rest.substr(0, comma);
    rest.remove_prefix(comma + 1);
    TextView number = rest;
    size_t next = rest.find(u',');
    if (next != TextView::npos) {
      number = rest.substr(0, next);
      rest.remove_prefix(next + 1);
    }
    items.push_back({Text(text), static_cast<uint16_t>(static_cast<uint32_t>(WToI(number)))});
  }
  return items;
}
