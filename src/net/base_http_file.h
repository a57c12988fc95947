// Downloads and uploads of files for page script. One process-wide instance; every call blocks
// its caller (the window's thread) until the transfer has ended, opens its own Internet session
// and keeps nothing afterwards. Not thread-safe: calls come one at a time from the UI thread.
#pragma once

#include "base/text.h"

class CBaseHttpFile {
 public:
  // Stores the resource at `url` in the file `path`. Only status 200 counts; the body goes to a
  // temporary file beside the target, which replaces the target only once the whole body has
  // arrived, so on any failure an existing file stays as it was. Connects within 2 s, one retry.
  [[nodiscard]] bool DownLoadFile(const Text& url, const Text& path);

  // Posts the file `path` as the one part of a multipart/form-data body (delimiters "--" +
  // boundary, part headers "Content-Disposition: form-data; " + disposition and
  // "Content-Type: application/octet-stream"), with `userAgent` as the User-Agent header. True
  // when the server answers 200. A file that cannot be opened fails before any connection.
  [[nodiscard]] bool UploadFile(const Text& url, const Text& path, const Text& userAgent,
                                const Text& boundary, const Text& disposition);
};

// The process-wide instance.
[[nodiscard]] CBaseHttpFile& TheHttpFile();
