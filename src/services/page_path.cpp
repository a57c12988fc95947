#include "services/page_path.h"

#include "base/path.h"

std::string ToFileSystemPath(TextView path) {
  return ToUtf8(ToForwardSlashes(path));
}

Text NormalizeDirPath(TextView path) {
  Text out = ToForwardSlashes(path);
  if (!out.empty() && out.back() == u'/') out.pop_back();
  return out;
}
