// The product display name: the single-instance lock's name, the title a second start searches
// for (the main page's title must equal it) and the name of the uninstall registry key.
#pragma once

inline constexpr char16_t kProductDisplayName[] = u"Morvil Accelerator";
