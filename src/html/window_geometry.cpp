#include "html/window_geometry.h"

WindowOrigin CenterOnScreenOrigin(const RECT& d, const RECT& c) {
  return WindowOrigin{((d.right - d.left) - (c.right - c.left)) / 2 - c.left,
                      ((d.bottom - d.top) - (c.bottom - c.top)) / 2 - c.top};
}

WindowOrigin CenterOnParentOrigin(const RECT& p, const RECT& pc, const RECT& c) {
  return WindowOrigin{p.left + pc.left - c.left + ((pc.right - pc.left) - (c.right - c.left)) / 2,
                      p.top + pc.top - c.top + ((pc.bottom - pc.top) - (c.bottom - c.top)) / 2};
}
