// The tray menu text page script hands to ShowTray: every item keeps a text without a comma.
#include "services/tray_menu.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Text spec = Utf16Units(data, size);
  std::vector<TrayMenuItem> items = ParseTrayMenuSpec(spec);
  FUZZ_CHECK(items.size() <= spec.size() / 2 + 1);
  for (const TrayMenuItem& item : items) FUZZ_CHECK(item.text.find(u',') == Text::npos);
  return 0;
}
