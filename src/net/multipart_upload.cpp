#include "net/multipart_upload.h"

namespace {

bool HasLineBreak(TextView text) {
  return text.find_first_of(u"\r\n") != TextView::npos;
}

}  // namespace

bool BuildMultipartTexts(TextView boundary, TextView user_agent, TextView disposition,
                         MultipartTexts& out) {
  if (HasLineBreak(boundary) || HasLineBreak(user_agent)) return false;
  const std::string b = ToUtf8(boundary);
  out.request_headers = {"Content-Type: multipart/form-data; boundary=" + b,
                         "User-Agent: " + ToUtf8(user_agent)};
  out.part_header = "--" + b + "\r\nContent-Disposition: form-data; " + ToUtf8(disposition) +
                    "\r\nContent-Type: application/octet-stream\r\n\r\n";
  out.closing = "\r\n--" + b + "--\r\n";
  return true;
}
