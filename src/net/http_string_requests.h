// Short text requests of page script. Both block the caller until the answer is in, open their
// own Internet session, and give the empty text on any failure or a status other than 200.
#pragma once

#include <cstdint>

#include "base/text.h"

// GETs `url` with the page's extra header lines and returns the first 8000 bytes of the answer
// decoded as UTF-8 (a character cut by the limit is dropped).
[[nodiscard]] Text GetStringFromUrl(const Text& url, const Text& headers);

// POSTs the first `length` bytes of the data's UTF-16LE form (cut to the data's size; a negative
// length sends nothing and fails) with the page's header lines, or a form Content-Type when
// there are none, and returns the answer's first line read as UTF-16LE.
[[nodiscard]] Text PostDataToUrl(const Text& url, const Text& data, int32_t length,
                                 const Text& headers);
