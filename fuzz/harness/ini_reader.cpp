// An INI file as found on disk, read and changed the way the profile functions do. The first
// three lines of the input name a section, a key and a value; the rest is the file. A value that
// could be set reads back from the rewritten file.
#include <string>

#include "fuzz_input.h"
#include "platform/ini_document.h"

namespace {

std::string_view TakeLine(std::string_view& rest) {
  size_t nl = rest.find('\n');
  std::string_view line = rest.substr(0, nl);
  rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view rest = Bytes(data, size);
  Text section = FromUtf8(TakeLine(rest));
  Text key = FromUtf8(TakeLine(rest));
  Text value = FromUtf8(TakeLine(rest));
  IniDocument doc(rest);
  (void)doc.Find(section, key);
  (void)doc.Find(u"", u"");
  if (doc.Set(section, key, value)) {
    IniDocument again(doc.Serialize());
    (void)again.Find(section, key);
  }
  return 0;
}
