// Process events as the kernel sends them, and datagrams no kernel would send: the parser takes
// only well-formed process events and never reads past what it was given.
#include "kernel_mode/proc_events.h"

#include <gtest/gtest.h>
#include <linux/cn_proc.h>
#include <linux/connector.h>
#include <linux/netlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using Kind = ProcEvent::Kind;

// One netlink message holding a connector message holding `event`, of `event_size` bytes.
std::vector<uint8_t> Message(const proc_event& event, size_t event_size = sizeof(proc_event),
                             uint32_t idx = CN_IDX_PROC) {
  std::vector<uint8_t> out(NLMSG_ALIGN(sizeof(nlmsghdr) + sizeof(cn_msg) + event_size));
  nlmsghdr header{};
  header.nlmsg_len = static_cast<uint32_t>(sizeof(nlmsghdr) + sizeof(cn_msg) + event_size);
  cn_msg message{};
  message.id.idx = idx;
  message.id.val = CN_VAL_PROC;
  message.len = static_cast<uint16_t>(event_size);
  std::memcpy(out.data(), &header, sizeof header);
  std::memcpy(out.data() + sizeof header, &message, sizeof message);
  std::memcpy(out.data() + sizeof header + sizeof message, &event, event_size);
  return out;
}

proc_event Exec(pid_t tgid) {
  proc_event e{};
  e.what = proc_event::PROC_EVENT_EXEC;
  e.event_data.exec.process_pid = tgid + 1;
  e.event_data.exec.process_tgid = tgid;
  return e;
}

proc_event Exit(pid_t pid, pid_t tgid) {
  proc_event e{};
  e.what = proc_event::PROC_EVENT_EXIT;
  e.event_data.exit.process_pid = pid;
  e.event_data.exit.process_tgid = tgid;
  return e;
}

bool Same(const std::vector<ProcEvent>& got, const std::vector<std::pair<Kind, pid_t>>& want) {
  if (got.size() != want.size()) return false;
  for (size_t i = 0; i < got.size(); ++i)
    if (got[i].kind != want[i].first || got[i].pid != want[i].second) return false;
  return true;
}

TEST(ProcEventsTest, ReadsEventsOfSeveralMessagesByProcess) {
  proc_event comm{};
  comm.what = proc_event::PROC_EVENT_COMM;
  comm.event_data.comm.process_pid = 51;
  comm.event_data.comm.process_tgid = 50;
  std::vector<uint8_t> datagram;
  for (const proc_event& e : {Exec(40), comm, Exit(60, 60), Exit(71, 70)}) {
    std::vector<uint8_t> m = Message(e);
    datagram.insert(datagram.end(), m.begin(), m.end());
  }
  // A thread's exit (71 of 70) is not the end of its process.
  EXPECT_TRUE(
      Same(ParseProcEvents(datagram), {{Kind::kExec, 40}, {Kind::kComm, 50}, {Kind::kExit, 60}}));
}

TEST(ProcEventsTest, SkipsWhatIsNotAWholeProcessEvent) {
  std::vector<uint8_t> other_connector = Message(Exec(10), sizeof(proc_event), CN_IDX_PROC + 7);
  std::vector<uint8_t> short_event =
      Message(Exec(11), offsetof(proc_event, event_data) + 4);  // exec data cut short
  proc_event unknown = Exec(12);
  unknown.what = static_cast<decltype(unknown.what)>(0x12345);
  std::vector<uint8_t> unknown_kind = Message(unknown);
  std::vector<uint8_t> zero_pid = Message(Exec(0));
  for (const auto& datagram : {other_connector, short_event, unknown_kind, zero_pid})
    EXPECT_TRUE(ParseProcEvents(datagram).empty());
}

TEST(ProcEventsTest, LengthsThatLieStopTheParse) {
  std::vector<uint8_t> good = Message(Exec(20));
  // A netlink length beyond the datagram, or shorter than its own header.
  for (uint32_t length : {static_cast<uint32_t>(2 * good.size() + 1), 4u, 0u, 0xffffffffu}) {
    std::vector<uint8_t> bad = Message(Exec(21));
    std::memcpy(bad.data(), &length, sizeof length);
    bad.insert(bad.end(), good.begin(), good.end());
    SCOPED_TRACE(length);
    EXPECT_TRUE(ParseProcEvents(bad).empty());
  }
  // A connector length beyond its netlink message.
  std::vector<uint8_t> bad = Message(Exec(22));
  uint16_t too_long = 0xffff;
  std::memcpy(bad.data() + sizeof(nlmsghdr) + offsetof(cn_msg, len), &too_long, sizeof too_long);
  EXPECT_TRUE(ParseProcEvents(bad).empty());
  // Every cut of a good datagram.
  for (size_t cut = 0; cut < good.size(); ++cut)
    EXPECT_TRUE(ParseProcEvents({good.data(), cut}).empty()) << cut;
}

}  // namespace

// What reaches the socket from the real kernel: the threads a program starts and ends send
// nothing (the component would wake for each), the programs it runs do.
TEST(ProcEventsTest, ThreadsReachNoSocketAndProgramsDo) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  Result<ProcEvents> events = ProcEvents::Open();
  if (!events) GTEST_SKIP() << "no process events here: " << events.error().context;
  for (int i = 0; i < 20; ++i) std::thread([] {}).join();
  pid_t child = ::fork();
  if (child == 0) {
    ::execl("/bin/true", "true", nullptr);
    ::_exit(127);
  }
  ASSERT_GT(child, 0);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  bool exec_seen = false, exit_seen = false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!(exec_seen && exit_seen) && std::chrono::steady_clock::now() < deadline) {
    pollfd ready{events->fd(), POLLIN, 0};
    if (::poll(&ready, 1, 100) != 1) continue;
    uint8_t datagram[8192];
    ssize_t n = ::recv(events->fd(), datagram, sizeof datagram, 0);
    if (n < static_cast<ssize_t>(sizeof(nlmsghdr) + sizeof(cn_msg) + sizeof(proc_event))) continue;
    proc_event event;
    std::memcpy(&event, datagram + sizeof(nlmsghdr) + sizeof(cn_msg), sizeof event);
    EXPECT_NE(event.what, proc_event::PROC_EVENT_FORK);
    if (event.what == proc_event::PROC_EVENT_EXIT) {
      EXPECT_EQ(event.event_data.exit.process_pid, event.event_data.exit.process_tgid);
    }
    exec_seen |=
        event.what == proc_event::PROC_EVENT_EXEC && event.event_data.exec.process_tgid == child;
    exit_seen |=
        event.what == proc_event::PROC_EVENT_EXIT && event.event_data.exit.process_tgid == child;
  }
  EXPECT_TRUE(exec_seen);
  EXPECT_TRUE(exit_seen);
}
