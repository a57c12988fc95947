// The system's file class for local files (the HTTP transfers' downloads and uploads, the page's
// whole-file reads). It is the platform file class (platform/local_file.h: open modes, sharing by
// lock, Read/Write/SeekToEnd/SeekToBegin/GetLength/Close) opened with a path as page script
// gives it. Not thread-safe; the file closes with the object.
#pragma once

#include "base/text.h"
#include "base/win_types.h"
#include "platform/local_file.h"

class CBaseFile : public LocalFile {
 public:
  // Opens `path` ('\' counts as '/') with LocalFile's flags; FALSE when it cannot be opened, also for
  // a path of kMaxPath units or more.
  BOOL Open(const Text& path, uint32_t flags);
};
