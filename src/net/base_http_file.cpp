#include "net/base_http_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <optional>

#include "base/path.h"
#include "base/unique_fd.h"
#include "platform/http_url.h"
#include "net/multipart_upload.h"
#include "net/replacing_file.h"
#include "net/transfer_session.h"

namespace {

constexpr long kDownloadConnectTimeoutMs = 2000;
constexpr int kDownloadConnectRetries = 1;

// Writes a 200 answer's body into a replacing file; any other status ends the transfer before
// a file is created.
class DownloadSink : public HttpResponseSink {
 public:
  explicit DownloadSink(std::string target) : target_(std::move(target)) {}

  bool OnStatus(long status) override {
    if (status != 200) return false;
    auto file = ReplacingFile::Create(target_);
    if (!file) return false;
    file_.emplace(std::move(file.value()));
    return true;
  }
  bool OnData(const char* data, size_t size) override {
    return static_cast<bool>(file_->Write(data, size));
  }
  [[nodiscard]] bool Commit() { return file_ && file_->Commit(); }

 private:
  std::string target_;
  std::optional<ReplacingFile> file_;
};

// The upload body: part header, exactly `file_size` bytes of the file, closing delimiter.
class UploadBody : public HttpBodySource {
 public:
  UploadBody(const MultipartTexts& texts, int fd, uint64_t file_size)
      : texts_(texts), fd_(fd), file_left_(file_size) {}

  uint64_t size(uint64_t file_size) const {
    return texts_.part_header.size() + file_size + texts_.closing.size();
  }

  size_t Read(char* buffer, size_t size) override {
    if (header_sent_ < texts_.part_header.size())
      return Copy(texts_.part_header, header_sent_, buffer, size);
    if (file_left_ > 0) {
      size_t want = static_cast<size_t>(std::min<uint64_t>(size, file_left_));
      ssize_t n;
      do n = ::read(fd_, buffer, want);
      while (n < 0 && errno == EINTR);
      if (n <= 0) return 0;  // the file shrank or failed: the transfer is abandoned
      file_left_ -= static_cast<uint64_t>(n);
      return static_cast<size_t>(n);
    }
    return Copy(texts_.closing, closing_sent_, buffer, size);
  }

 private:
  static size_t Copy(const std::string& text, size_t& sent, char* buffer, size_t size) {
    size_t n = std::min(size, text.size() - sent);
    text.copy(buffer, n, sent);
    sent += n;
    return n;
  }

  const MultipartTexts& texts_;
  int fd_;
  uint64_t file_left_;
  size_t header_sent_ = 0;
  size_t closing_sent_ = 0;
};

// Only notes the status; the body of an upload's answer is not used.
class StatusOnlySink : public HttpResponseSink {
 public:
  bool OnStatus(long) override { return true; }
  bool OnData(const char*, size_t) override { return true; }
};

}  // namespace

bool CBaseHttpFile::DownLoadFile(const Text& url, const Text& path) {
  std::optional<HttpUrlParts> parts = ParseHttpUrl(ToUtf8(url));
  if (!parts) return false;
  auto session = OpenTransferSession();
  if (!session) return false;
  HttpRequest request;
  request.url = RequestUrlFor(*parts);
  request.connect_timeout_ms = kDownloadConnectTimeoutMs;
  request.connect_retries = kDownloadConnectRetries;
  DownloadSink sink(ToUtf8(ToForwardSlashes(path)));
  auto status = session->Send(request, sink);
  return status && status.value() == 200 && sink.Commit();
}

bool CBaseHttpFile::UploadFile(const Text& url, const Text& path, const Text& userAgent,
                               const Text& boundary, const Text& disposition) {
  UniqueFd file(::open(ToUtf8(ToForwardSlashes(path)).c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) return false;
  struct stat info {};
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  MultipartTexts texts;
  if (!BuildMultipartTexts(boundary, userAgent, disposition, texts)) return false;
  std::optional<HttpUrlParts> parts = ParseHttpUrl(ToUtf8(url));
  if (!parts) return false;
  auto session = OpenTransferSession();
  if (!session) return false;

  const uint64_t file_size = static_cast<uint64_t>(info.st_size);
  UploadBody body(texts, file.get(), file_size);
  HttpRequest request;
  request.method = "POST";
  request.url = RequestUrlFor(*parts);
  request.headers = texts.request_headers;
  request.body_source = &body;
  request.body_size = body.size(file_size);
  StatusOnlySink sink;
  auto status = session->Send(request, sink);
  return status && status.value() == 200;
}

CBaseHttpFile& TheHttpFile() {
  static CBaseHttpFile instance;
  return instance;
}
