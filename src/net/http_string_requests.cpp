#include "net/http_string_requests.h"

#include <optional>

#include "net/http_text.h"
#include "platform/http_url.h"
#include "net/transfer_session.h"

namespace {

// An answer's first line is read up to its first LF; a line longer than this is cut here so
// that a server cannot make the program hold an unbounded answer.
constexpr size_t kFirstLineLimit = 1 << 20;

// Keeps the start of a 200 answer and ends the transfer once it has enough.
class PrefixSink : public HttpResponseSink {
 public:
  // `stop_after_lf`: enough once an LF byte has arrived.
  PrefixSink(size_t limit, bool stop_after_lf) : limit_(limit), stop_after_lf_(stop_after_lf) {}

  bool OnStatus(long status) override {
    status_ = status;
    return status == 200;
  }
  bool OnData(const char* data, size_t size) override {
    std::string_view piece(data, std::min(size, limit_ - bytes_.size()));
    if (stop_after_lf_) {
      if (size_t lf = piece.find('\n'); lf != std::string_view::npos) {
        piece = piece.substr(0, lf + 1);
        enough_ = true;
      }
    }
    bytes_ += piece;
    cut_ = cut_ || piece.size() < size;
    if (bytes_.size() >= limit_) enough_ = true;
    return !enough_;
  }

  // True when the answer was 200 and either arrived whole or gave all that was wanted.
  [[nodiscard]] bool Succeeded(bool transfer_ok) const {
    return status_ == 200 && (transfer_ok || enough_);
  }
  [[nodiscard]] const std::string& bytes() const { return bytes_; }
  [[nodiscard]] bool cut() const { return cut_; }

 private:
  size_t limit_;
  bool stop_after_lf_;
  long status_ = 0;
  std::string bytes_;
  bool enough_ = false;
  bool cut_ = false;
};

std::optional<HttpRequest> RequestFor(const Text& url, const char* method) {
  std::optional<HttpUrlParts> parts = ParseHttpUrl(ToUtf8(url));
  if (!parts) return std::nullopt;
  HttpRequest request;
  request.method = method;
  request.url = RequestUrlFor(*parts);
  return request;
}

}  // namespace

Text GetStringFromUrl(const Text& url, const Text& headers) {
  std::optional<HttpRequest> request = RequestFor(url, "GET");
  if (!request) return {};
  auto session = OpenTransferSession();
  if (!session) return {};
  request->headers = HeaderLines(headers);
  PrefixSink sink(kStringAnswerLimit, /*stop_after_lf=*/false);
  auto status = session->Send(*request, sink);
  if (!sink.Succeeded(static_cast<bool>(status))) return {};
  return DecodeUtf8Answer(sink.bytes(), sink.cut());
}

Text PostDataToUrl(const Text& url, const Text& data, int32_t length, const Text& headers) {
  if (length < 0) return {};
  std::optional<HttpRequest> request = RequestFor(url, "POST");
  if (!request) return {};
  auto session = OpenTransferSession();
  if (!session) return {};
  request->headers = HeaderLines(
      headers.empty() ? Text(u"Content-Type: application/x-www-form-urlencoded") : headers);
  const std::string body = Utf16LeBody(data, static_cast<size_t>(length));
  request->body = body;
  PrefixSink sink(kFirstLineLimit, /*stop_after_lf=*/true);
  auto status = session->Send(*request, sink);
  if (!sink.Succeeded(static_cast<bool>(status))) return {};
  return DecodeUtf16LeFirstLine(sink.bytes());
}
