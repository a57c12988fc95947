// Where a page window goes so that its container box, not the window, is centred. Integer
// arithmetic; divisions truncate toward zero.
#pragma once

#include "base/win_types.h"

struct WindowOrigin {
  int32_t x;
  int32_t y;
  friend bool operator==(const WindowOrigin&, const WindowOrigin&) = default;
};

// The window origin that centres `container` (page coordinates) on the desktop rectangle.
[[nodiscard]] WindowOrigin CenterOnScreenOrigin(const RECT& desktop, const RECT& container);

// The window origin that centres `container` on the parent window's container box.
[[nodiscard]] WindowOrigin CenterOnParentOrigin(const RECT& parent_window,
                                                const RECT& parent_container,
                                                const RECT& container);
