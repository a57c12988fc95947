// The texts of a one-file multipart/form-data upload. All are UTF-8, so characters outside
// ASCII in the boundary, the disposition or the user agent go out as their UTF-8 bytes and the
// declared length counts those bytes.
#pragma once

#include <string>
#include <vector>

#include "base/text.h"

struct MultipartTexts {
  std::vector<std::string> request_headers;  // Content-Type with the boundary, User-Agent
  std::string part_header;  // delimiter line, part headers and the empty line that ends them
  std::string closing;      // line break before the closing delimiter, the delimiter, line break
};

// Builds the texts; the delimiter lines are "--" + boundary. Nothing when the boundary or the
// user agent holds a line break, which would split the request's headers.
[[nodiscard]] bool BuildMultipartTexts(TextView boundary, TextView user_agent, TextView disposition,
                                       MultipartTexts& out);
