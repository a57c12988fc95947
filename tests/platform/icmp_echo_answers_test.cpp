// How each kind of echo socket reads the answers it may get. Runs in a private network namespace
// where the kernel's own echo answers are off and a scripted responder answers instead.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/ip.h>
#include <poll.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "platform/icmp_echo.h"
#include "support/icmp_test_support.h"
#include "support/private_network.h"

namespace {

enum class Answer {
  kReplyAfter30Ms,
  kReplyWithOtherSequence,
  kSourceQuench,
  kHostUnreachable,
  kTimeExceeded,
  kNothing
};

uint16_t Checksum(const std::vector<uint8_t>& bytes) {
  uint32_t sum = 0;
  for (size_t i = 0; i < bytes.size(); i += 2)
    sum += bytes[i] << 8 | (i + 1 < bytes.size() ? bytes[i + 1] : 0);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

// Answers every echo request on loopback as `answer` says, from a raw socket of its own.
class Responder {
 public:
  Responder() : fd_(socket(AF_INET, SOCK_RAW, IPPROTO_ICMP)), thread_([this] { Run(); }) {}
  ~Responder() {
    stop_ = true;
    thread_.join();
  }
  std::atomic<Answer> answer{Answer::kNothing};

 private:
  void Run() {
    uint8_t buffer[2048];
    while (!stop_) {
      pollfd watch{fd_.get(), POLLIN, 0};
      if (poll(&watch, 1, 20) <= 0) continue;
      ssize_t got = recv(fd_.get(), buffer, sizeof buffer, 0);
      size_t header = (buffer[0] & 0x0F) * 4u;
      if (got < static_cast<ssize_t>(header + 8) || buffer[header] != 8) continue;
      Respond(std::vector<uint8_t>(buffer, buffer + got), header);
    }
  }
  void Respond(const std::vector<uint8_t>& request, size_t header) {
    std::vector<uint8_t> icmp;
    switch (answer.load()) {
      case Answer::kNothing:
        return;
      case Answer::kReplyAfter30Ms:
      case Answer::kReplyWithOtherSequence:
        icmp.assign(request.begin() + header, request.end());
        icmp[0] = 0;
        if (answer == Answer::kReplyWithOtherSequence) ++icmp[7];
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        break;
      default: {
        // An error message quotes the request's IP header and the first 8 bytes after it.
        auto [type, code] = answer == Answer::kSourceQuench      ? std::pair{4, 0}
                            : answer == Answer::kHostUnreachable ? std::pair{3, 1}
                                                                 : std::pair{11, 0};
        icmp = {static_cast<uint8_t>(type), static_cast<uint8_t>(code), 0, 0, 0, 0, 0, 0};
        icmp.insert(icmp.end(), request.begin(), request.begin() + header + 8);
      }
    }
    icmp[2] = icmp[3] = 0;
    uint16_t sum = Checksum(icmp);
    icmp[2] = static_cast<uint8_t>(sum >> 8);
    icmp[3] = static_cast<uint8_t>(sum);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = kLoopbackAddress;
    sendto(fd_.get(), icmp.data(), icmp.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }

  UniqueFd fd_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Returns the number of rows that went wrong (details on stderr).
int CheckAnswers(IcmpEchoSocket::Kind kind) {
  if (!WriteProcSys("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1")) return 100;
  Result<IcmpEchoSocket> probe = IcmpEchoSocket::Open();
  if (!probe || probe->kind() != kind) return 101;
  struct Row {
    Answer answer;
    IcmpStatus status;
  } rows[] = {
      {Answer::kReplyAfter30Ms, kIcmpSuccess},
      {Answer::kReplyWithOtherSequence, kIcmpTimedOut},
      {Answer::kSourceQuench, kIcmpSourceQuench},
      {Answer::kHostUnreachable, kIcmpDestHostUnreachable},
      {Answer::kTimeExceeded, kIcmpTtlExpiredInTransit},
      {Answer::kNothing, kIcmpTimedOut},
  };
  int failures = 0;
  Responder responder;
  std::vector<uint8_t> data(33, 0x41);
  for (const Row& row : rows) {
    responder.answer = row.answer;
    IcmpEchoReply reply = SendIcmpEcho(kLoopbackAddress, data, 300);
    bool timely =
        row.status != kIcmpSuccess || (reply.round_trip_ms >= 30 && reply.round_trip_ms < 300);
    if (reply.status != row.status || !timely) {
      std::fprintf(stderr, "answer %d: status %u (expected %u), %u ms\n",
                   static_cast<int>(row.answer), reply.status, row.status, reply.round_trip_ms);
      ++failures;
    }
  }
  // No route leads anywhere but loopback here: the send itself fails, nothing goes out.
  IcmpEchoReply unroutable = SendIcmpEcho(inet_addr("192.0.2.1"), data, 300);
  if (unroutable.status != kIcmpDestNetUnreachable) {
    std::fprintf(stderr, "unroutable: status %u\n", unroutable.status);
    ++failures;
  }
  return failures;
}

TEST(IcmpEchoAnswersTest, RawSocketReadsEveryAnswerKind) {
  // A fresh namespace refuses datagram echo sockets ("1 0"), so the raw kind is used.
  std::optional<int> failures = RunInPrivateNetwork([] {
    if (!IcmpEchoSocket::Open()) return 77;
    return CheckAnswers(IcmpEchoSocket::Kind::kRaw);
  });
  if (!failures) GTEST_SKIP() << "a private network namespace cannot be created here";
  if (*failures == 77) GTEST_SKIP() << "raw ICMP sockets are not allowed here";
  EXPECT_EQ(*failures, 0);
}

TEST(IcmpEchoAnswersTest, DatagramSocketReadsEveryAnswerKind) {
  std::optional<int> failures = RunInPrivateNetwork([] {
    if (!WriteProcSys("/proc/sys/net/ipv4/ping_group_range", "0 2147483647")) return 77;
    return CheckAnswers(IcmpEchoSocket::Kind::kDatagram);
  });
  if (!failures) GTEST_SKIP() << "a private network namespace cannot be created here";
  if (*failures == 77) GTEST_SKIP() << "net.ipv4.ping_group_range cannot be set here";
  EXPECT_EQ(*failures, 0);
}

}  // namespace
