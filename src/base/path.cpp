#include "base/path.h"

#include <unistd.h>

#include <climits>

Text ToForwardSlashes(TextView path) {
  Text out(path);
  for (char16_t& c : out)
    if (c == u'\\') c = u'/';
  return out;
}

Text GetParentPath(TextView path) {
  Text p = ToForwardSlashes(path);
  while (!p.empty() && p.back() == u'/') p.pop_back();
  size_t slash = p.rfind(u'/');
  if (slash == Text::npos) return Text();
  return p.substr(0, slash);
}

Text GetAppDirectory() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return Text();
  return GetParentPath(FromUtf8(std::string_view(buf, static_cast<size_t>(n))));
}
