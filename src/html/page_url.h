// How page windows name their pages: relative URLs resolve against the directory of the page
// that loaded last (PageBaseDirectory), which starts as the program directory. Pure text rules.
#pragma once

#include "base/text.h"

// The process-wide base directory for relative page URLs. UI thread only.
[[nodiscard]] Text& PageBaseDirectory();

// An absolute URL is returned unchanged. A relative one gets the base and one '/' in front,
// and a scheme: "res://" for a resource-id URL, "file://" for an absolute path base (so
// "res/index.html" with base "/opt/morvil" gives "file:///opt/morvil/res/index.html"), none
// when the base is already a URL. A path base is percent-escaped where URL syntax needs it.
[[nodiscard]] Text ResolvePageUrl(TextView url, TextView base);

// Relative unless it begins with "www.", "http://", "https://", "ftp://", "res://" or
// "file:///" (backslashes read as slashes).
[[nodiscard]] bool IsRelativeUrl(TextView text);

// Names a resource of a module: ".exe" or ".dll" (the first that occurs) followed by one
// separator character and then only slashes and digits. A text that ends right at the extension
// names a file, not a resource in it, and is not such a URL.
[[nodiscard]] bool IsResourceIdUrl(TextView text);

// Loaded over the network ("http:" or "https:"); such a page never becomes the base.
[[nodiscard]] bool IsRemotePageUrl(TextView text);

// Loaded from the local disk: "file:///", "res://", or a drive-letter path.
[[nodiscard]] bool IsLocalPageUrl(TextView text);

// A page from the web: an "http://" or "https://" URL, the scheme in any letter case.
[[nodiscard]] bool IsWebPageUrl(TextView text);
