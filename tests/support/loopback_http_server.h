// Test helper: runs tests/support/http_test_server.py on a loopback port, optionally over TLS
// with a CA and server certificate made by openssl at start, and reads back what it recorded.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

extern char** environ;

namespace testing_support {

inline std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// One recorded request.
struct RecordedRequest {
  std::string line;     // request line with its CRLF
  std::string headers;  // header block
  std::string body;
  std::string parts;  // multipart parse result ("" when not multipart)
  std::filesystem::path base;
};

class LoopbackHttpServer {
 public:
  enum class Mode { kPlain, kTls };

  explicit LoopbackHttpServer(Mode mode = Mode::kPlain) : dir_(MakeTempDir("morvil-http")) {
    std::filesystem::create_directories(records());
    std::filesystem::create_directories(root());
    std::vector<std::string> args = {"python3", ServerScript(), "--record-dir",
                                     records(), "--root",       root()};
    if (mode == Mode::kTls) {
      MakeCertificates();
      args.insert(args.end(), {"--cert", (dir_ / "server.crt").string(), "--key",
                               (dir_ / "server.key").string()});
    }
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, "python3", &actions, nullptr, argv.data(), environ) != 0)
      throw std::runtime_error("spawn python3");
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    port_ = std::atoi(line.c_str());
    if (port_ <= 0) throw std::runtime_error("test server did not start");
  }
  ~LoopbackHttpServer() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  int port() const { return port_; }
  std::string ca_file() const { return (dir_ / "ca.crt").string(); }
  std::filesystem::path root() const { return dir_ / "root"; }
  std::string url(const std::string& scheme, const std::string& path) const {
    return scheme + "://127.0.0.1:" + std::to_string(port_) + path;
  }
  std::string http(const std::string& path) const { return url("http", path); }

  // Every request recorded so far, in arrival order.
  std::vector<RecordedRequest> Requests() const {
    std::vector<RecordedRequest> out;
    for (int n = 1;; ++n) {
      char name[16];
      std::snprintf(name, sizeof name, "%04d", n);
      std::filesystem::path base = records() / name;
      if (!std::filesystem::exists(base.string() + ".line")) break;
      RecordedRequest r;
      r.base = base;
      r.line = ReadWholeFile(base.string() + ".line");
      r.headers = ReadWholeFile(base.string() + ".headers");
      r.body = ReadWholeFile(base.string() + ".body");
      if (std::filesystem::exists(base.string() + ".parts"))
        r.parts = ReadWholeFile(base.string() + ".parts");
      out.push_back(std::move(r));
    }
    return out;
  }

  // Waits up to `timeout` for at least `count` recorded requests.
  std::vector<RecordedRequest> WaitForRequests(size_t count,
                                               std::chrono::milliseconds timeout) const {
    auto end = std::chrono::steady_clock::now() + timeout;
    std::vector<RecordedRequest> got = Requests();
    while (got.size() < count && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      got = Requests();
    }
    return got;
  }

 private:
  std::filesystem::path records() const { return dir_ / "records"; }

  static std::string ServerScript() {
    return std::string(MORVIL_TEST_SUPPORT_DIR) + "/http_test_server.py";
  }

  void Run(const std::string& command) const {
    std::string full = "cd '" + dir_.string() + "' && " + command + " >/dev/null 2>&1";
    if (std::system(full.c_str()) != 0) throw std::runtime_error("failed: " + command);
  }

  // A CA and a server certificate for 127.0.0.1 and localhost, signed by it.
  void MakeCertificates() const {
    Run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=morvil-test-ca "
        "-keyout ca.key -out ca.crt");
    Run("openssl req -newkey rsa:2048 -nodes -subj /CN=localhost -keyout server.key "
        "-out server.csr");
    Run("printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\\n' > ext.cnf && "
        "openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 "
        "-extfile ext.cnf -out server.crt");
  }

  std::filesystem::path dir_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace testing_support
