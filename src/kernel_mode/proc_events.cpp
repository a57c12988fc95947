#include "kernel_mode/proc_events.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/cn_proc.h>
#include <linux/connector.h>
#include <linux/filter.h>
#include <linux/netlink.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace {

// The kernel drops, before they reach the socket, the events the component does not use: the
// creation of every process and thread of the machine, threads that end, and the rest. Without
// it the component woke for each thread any program started.
bool FilterEvents(int fd) {
  // Offsets in a datagram: nlmsghdr (16), cn_msg (20), then proc_event: what, cpu, timestamp,
  // then the event's data; an exit's data starts with the thread's id and its process's id.
  constexpr uint32_t kWhat = 36, kExitPid = 52, kExitTgid = 56;
  // A filter loads words in network byte order; the event's fields are in the host's.
  auto what = [](uint32_t event) { return htonl(event); };
  sock_filter code[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kWhat),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, what(proc_event::PROC_EVENT_EXEC), 5, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, what(proc_event::PROC_EVENT_COMM), 4, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, what(proc_event::PROC_EVENT_UID), 3, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, what(proc_event::PROC_EVENT_NONE), 2, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, what(proc_event::PROC_EVENT_EXIT), 2, 0),
      BPF_STMT(BPF_RET | BPF_K, 0),
      BPF_STMT(BPF_RET | BPF_K, 0xffffffff),
      // An exit: kept only when the thread that ended was the whole process's.
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kExitPid),
      BPF_STMT(BPF_MISC | BPF_TAX, 0),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kExitTgid),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_X, 0, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, 0xffffffff),
      BPF_STMT(BPF_RET | BPF_K, 0),
  };
  static_assert(sizeof(nlmsghdr) + sizeof(cn_msg) == kWhat);
  static_assert(kWhat + offsetof(proc_event, event_data.exit.process_pid) == kExitPid);
  static_assert(kWhat + offsetof(proc_event, event_data.exit.process_tgid) == kExitTgid);
  sock_fprog program{static_cast<unsigned short>(std::size(code)), code};
  return ::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

// A subscribed connector socket in the calling thread's network namespace.
Result<UniqueFd> Subscribe() {
  UniqueFd fd(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_CONNECTOR));
  if (!fd) return Error::FromErrno("netlink connector socket");
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = CN_IDX_PROC;
  if (!FilterEvents(fd.get())) return Error::FromErrno("process event filter");
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    return Error::FromErrno("bind netlink connector");
  int size = 4 << 20;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
  // nlmsghdr, cn_msg, then the operation.
  alignas(nlmsghdr) uint8_t request[sizeof(nlmsghdr) + sizeof(cn_msg) + sizeof(uint32_t)] = {};
  nlmsghdr header{};
  header.nlmsg_len = sizeof request;
  header.nlmsg_type = NLMSG_DONE;
  cn_msg message{};
  message.id.idx = CN_IDX_PROC;
  message.id.val = CN_VAL_PROC;
  message.len = sizeof(uint32_t);
  uint32_t op = PROC_CN_MCAST_LISTEN;
  std::memcpy(request, &header, sizeof header);
  std::memcpy(request + sizeof header, &message, sizeof message);
  std::memcpy(request + sizeof header + sizeof message, &op, sizeof op);
  if (::send(fd.get(), request, sizeof request, 0) != sizeof request)
    return Error::FromErrno("subscribe to process events");
  return fd;
}

pid_t ParentOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), {});
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  char state = 0;
  long parent = 0;
  if (std::sscanf(stat.c_str() + close + 1, " %c %ld", &state, &parent) != 2) return 0;
  return static_cast<pid_t>(parent);
}

// Opens the socket in another network namespace for this thread only, then comes back.
Result<UniqueFd> SubscribeIn(const std::string& namespace_path) {
  UniqueFd own(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC));
  UniqueFd other(::open(namespace_path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!own || !other) return Error::FromErrno("open " + namespace_path);
  if (::setns(other.get(), CLONE_NEWNET) != 0) return Error::FromErrno("setns");
  Result<UniqueFd> fd = Subscribe();
  if (::setns(own.get(), CLONE_NEWNET) != 0) ::abort();  // never run on in a foreign namespace
  return fd;
}

}  // namespace

std::vector<ProcEvent> ParseProcEvents(std::span<const uint8_t> datagram) {
  std::vector<ProcEvent> events;
  size_t at = 0;
  while (datagram.size() - at >= sizeof(nlmsghdr)) {
    nlmsghdr header;
    std::memcpy(&header, datagram.data() + at, sizeof header);
    if (header.nlmsg_len < sizeof header || header.nlmsg_len > datagram.size() - at) break;
    std::span<const uint8_t> body =
        datagram.subspan(at + sizeof header, header.nlmsg_len - sizeof header);
    at += NLMSG_ALIGN(header.nlmsg_len);
    if (body.size() < sizeof(cn_msg)) continue;
    cn_msg message;
    std::memcpy(&message, body.data(), sizeof message);
    if (message.id.idx != CN_IDX_PROC || message.id.val != CN_VAL_PROC ||
        message.len > body.size() - sizeof message)
      continue;
    std::span<const uint8_t> payload = body.subspan(sizeof message, message.len);
    proc_event event;
    if (payload.size() < offsetof(proc_event, event_data)) continue;
    std::memset(&event, 0, sizeof event);
    std::memcpy(&event, payload.data(), std::min(payload.size(), sizeof event));
    const size_t data_size = payload.size() - offsetof(proc_event, event_data);
    switch (event.what) {
      case proc_event::PROC_EVENT_EXEC:
        if (data_size >= sizeof event.event_data.exec)
          events.push_back({ProcEvent::Kind::kExec, event.event_data.exec.process_tgid});
        break;
      case proc_event::PROC_EVENT_COMM:
        if (data_size >= sizeof event.event_data.comm)
          events.push_back({ProcEvent::Kind::kComm, event.event_data.comm.process_tgid});
        break;
      case proc_event::PROC_EVENT_UID:
        if (data_size >= sizeof event.event_data.id)
          events.push_back({ProcEvent::Kind::kUid, event.event_data.id.process_tgid});
        break;
      case proc_event::PROC_EVENT_EXIT:
        if (data_size >= offsetof(decltype(event.event_data.exit), parent_pid) &&
            event.event_data.exit.process_pid == event.event_data.exit.process_tgid)
          events.push_back({ProcEvent::Kind::kExit, event.event_data.exit.process_tgid});
        break;
      default:
        break;
    }
  }
  std::erase_if(events, [](const ProcEvent& e) { return e.pid <= 0; });
  return events;
}

Result<ProcEvents> ProcEvents::Open() {
  Result<UniqueFd> fd = Subscribe();
  if (fd) return ProcEvents(std::move(*fd));
  if (fd.error().code != ECONNREFUSED) return fd.error();
  struct stat own {};
  if (::stat("/proc/self/ns/net", &own) != 0) return fd.error();
  for (pid_t pid = ParentOf(::getpid()); pid > 1; pid = ParentOf(pid)) {
    std::string path = "/proc/" + std::to_string(pid) + "/ns/net";
    struct stat other {};
    if (::stat(path.c_str(), &other) != 0) continue;
    if (other.st_ino == own.st_ino && other.st_dev == own.st_dev) continue;
    Result<UniqueFd> opened = SubscribeIn(path);
    if (opened) return ProcEvents(std::move(*opened));
  }
  return fd.error();
}

std::vector<ProcEvent> ProcEvents::Read(bool& lost) {
  std::vector<ProcEvent> events;
  lost = false;
  alignas(nlmsghdr) uint8_t buffer[16384];
  for (int i = 0; i < 64; ++i) {
    sockaddr_nl from{};
    socklen_t from_length = sizeof from;
    ssize_t n = ::recvfrom(fd_.get(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from),
                           &from_length);
    if (n < 0) {
      if (errno == ENOBUFS) {
        lost = true;
        continue;
      }
      break;
    }
    if (from.nl_pid != 0) continue;  // only the kernel speaks here
    std::vector<ProcEvent> parsed = ParseProcEvents({buffer, static_cast<size_t>(n)});
    events.insert(events.end(), parsed.begin(), parsed.end());
  }
  return events;
}
