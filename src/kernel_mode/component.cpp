#include "kernel_mode/component.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <set>

#include "base/monotonic_clock.h"
#include "kernel_mode/acc_pipe.h"
#include "kernel_mode/cgroup_tree.h"
#include "kernel_mode/nft.h"
#include "kernel_mode/nft_script.h"
#include "kernel_mode/policy_routing.h"
#include "kernel_mode/proc_events.h"
#include "kernel_mode/process_info.h"
#include "kernel_mode/relay.h"
#include "kernel_mode/status_file.h"
#include "kernel_mode/user_keys.h"

namespace {

constexpr int kTickMs = 1000;
constexpr int kWineRetryMs = 50;
constexpr int kWineRetryForMs = 5000;
constexpr int kProbeTimeoutMs = 500;
// How long the acceleration pipe may fail to answer before morvil counts as gone. A busy or
// restarting server (and a machine under load) makes single questions fail now and then.
constexpr int64_t kPipeGoneMs = 3000;

std::filesystem::path UserStateDir(const std::filesystem::path& system_dir, uid_t uid) {
  return system_dir / "users" / std::to_string(uid);
}

// Holds the lock that orders every user's changes of the shared table.
class TableLock {
 public:
  explicit TableLock(const std::filesystem::path& system_dir)
      : fd_(::open((system_dir / "rules.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                   0600)) {
    if (fd_ && ::flock(fd_.get(), LOCK_EX) != 0) fd_.reset();
    if (!fd_) std::perror("morvil-kernel: lock of the rules");
  }
  // False when the lock could not be taken: another user's component may change the table now.
  [[nodiscard]] bool held() const { return static_cast<bool>(fd_); }

 private:
  UniqueFd fd_;  // closing it releases the lock
};

// The program groups of the user whose counters `listing` (of the table) holds.
std::vector<uint32_t> CountedGroups(const std::string& listing, const UserKeys& keys) {
  std::vector<uint32_t> groups;
  const std::string marker = "counter " + keys.name + "_g";
  for (size_t at = listing.find(marker); at != std::string::npos;
       at = listing.find(marker, at + 1)) {
    uint32_t group = 0;
    for (size_t i = at + marker.size();
         i < listing.size() && listing[i] >= '0' && listing[i] <= '9' && group < kLauncherGroup;
         ++i)
      group = group * 10 + static_cast<uint32_t>(listing[i] - '0');
    if (group == 0 || group >= kLauncherGroup) continue;
    const std::string counter = "counter " + CounterName(keys, group, true) + " {";
    if (listing.compare(at, counter.size(), counter) == 0) groups.push_back(group);
  }
  return groups;
}

// Removes the user's chains and counters, and the table once no user has chains in it.
void RemoveRules(Nft& nft, const UserKeys& keys, const std::vector<uint32_t>& groups,
                 const std::filesystem::path& system_dir) {
  TableLock lock(system_dir);
  Result<std::string> listing = nft.Run(ListTableScript());
  if (!listing) return;  // no table: nothing of ours
  std::vector<uint32_t> all = groups;
  // Counters of groups of a component that did not end cleanly are found in the listing.
  const std::vector<uint32_t> counted = CountedGroups(*listing, keys);
  all.insert(all.end(), counted.begin(), counted.end());
  std::sort(all.begin(), all.end());
  all.erase(std::unique(all.begin(), all.end()), all.end());
  if (!nft.Run(RemovalScript(keys, all)))
    std::fprintf(stderr, "morvil-kernel: cannot remove the rules of %s\n", keys.name.c_str());
  listing = nft.Run(ListTableScript());
  // Without the lock another user's component may be adding its chains to the table just now.
  if (lock.held() && listing && ChainOwners(*listing).empty() &&
      listing->find("chain ") == std::string::npos)
    (void)nft.Run(DeleteTableScript());
}

bool ProbeProxy(const ProxyEndpoint& proxy) {
  UniqueFd fd(::socket(proxy.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd) return false;
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&proxy.address), proxy.length) == 0)
    return true;
  if (errno != EINPROGRESS) return false;
  pollfd wait{fd.get(), POLLOUT, 0};
  if (::poll(&wait, 1, kProbeTimeoutMs) != 1) return false;
  int error = 0;
  socklen_t length = sizeof error;
  return ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

struct Component::State {
  struct Tracked {
    uint64_t start = 0;
    std::string path;
    uint32_t group = 0;                     // 0: not in a program group of its own
    bool launcher_listed = false;           // in the launcher's group and answered 1
    std::optional<std::string> server_dir;  // a Wine program's prefix
  };
  struct Group {
    pid_t owner = 0;
    std::string origin;                    // where the owner came from
    std::map<pid_t, std::string> servers;  // wineservers moved in, with their origins
  };

  ComponentOptions options;
  UserKeys keys;
  std::filesystem::path state_dir;
  Nft nft;
  std::optional<CgroupTree> tree;
  std::optional<PolicyRouting> routing;
  std::unique_ptr<Relay> relay;
  std::optional<ProcEvents> events;
  AccPipe pipe;
  std::map<pid_t, Tracked> tracked;
  std::map<uint32_t, Group> groups;
  uint32_t next_group = 1;
  uint32_t spare = 0;  // a group ready for the next program answered 1
  std::vector<uint32_t> dropped;
  std::optional<AccReply> proxy;
  std::optional<ProxyEndpoint> endpoint;
  std::vector<std::string> proxy_ipv4, proxy_ipv6;
  bool proxy_down = false;
  bool rules_dirty = true;
  bool status_dirty = false;       // programs came or went since the status was written
  int64_t pipe_failing_since = 0;  // 0 while the pipe answers
  std::set<pid_t> wine_pending;
  int64_t wine_pending_until = 0;

  State(const ComponentOptions& o, Nft n)
      : options(o),
        keys(KeysForUser(o.uid)),
        state_dir(UserStateDir(o.system_dir, o.uid)),
        nft(std::move(n)),
        pipe(o.uid, o.runtime_dir) {}
  ~State() { TearDown(); }

  bool Launcher() const {
    for (const auto& [pid, t] : tracked)
      if (t.launcher_listed) return true;
    return false;
  }

  void ApplyRules() {
    if (!rules_dirty || !relay) return;
    CatchPlan plan;
    plan.ports = relay->ports();
    for (const auto& [group, g] : groups) plan.groups.push_back(group);
    plan.catching = proxy.has_value();
    plan.launcher = Launcher();
    plan.proxy_down = proxy_down;
    plan.proxy_ipv4 = proxy_ipv4;
    plan.proxy_ipv6 = proxy_ipv6;
    TableLock lock(options.system_dir);
    if (!lock.held()) return;  // tried again on the next round
    Result<std::string> applied = nft.Run(ApplyScript(keys, plan, dropped));
    if (!applied) {
      std::fprintf(stderr, "morvil-kernel: %s\n", applied.error().context.c_str());
      return;
    }
    dropped.clear();
    rules_dirty = false;
  }

  // Takes the proxy from an answer; an answer without a usable proxy turns acceleration off.
  void TakeProxy(const AccReply& reply) {
    if (reply.port == 0) return TurnOff();
    if (proxy && std::strcmp(proxy->server, reply.server) == 0 && proxy->port == reply.port &&
        std::strcmp(proxy->token, reply.token) == 0)
      return;
    proxy = reply;
    endpoint.reset();
    proxy_ipv4.clear();
    proxy_ipv6.clear();
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (::getaddrinfo(reply.server, std::to_string(reply.port).c_str(), &hints, &found) == 0) {
      for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
        char text[INET6_ADDRSTRLEN];
        const void* address =
            a->ai_family == AF_INET
                ? static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr)
                : static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(a->ai_addr)->sin6_addr);
        if (::inet_ntop(a->ai_family, address, text, sizeof text) == nullptr) continue;
        (a->ai_family == AF_INET ? proxy_ipv4 : proxy_ipv6).push_back(text);
        if (!endpoint) {
          endpoint.emplace();
          std::memcpy(&endpoint->address, a->ai_addr, a->ai_addrlen);
          endpoint->length = a->ai_addrlen;
          endpoint->token.assign(reply.token, reply.token_size);
        }
      }
      ::freeaddrinfo(found);
    }
    relay->SetProxy(endpoint);
    proxy_down = !endpoint || !ProbeProxy(*endpoint);
    rules_dirty = true;
  }

  void TurnOff() {
    for (auto& [pid, t] : tracked) {
      if (t.group != 0) ReleaseGroup(t.group);
      t.launcher_listed = false;
    }
    if (spare != 0) ReleaseGroup(std::exchange(spare, 0));
    if (proxy) rules_dirty = true;
    proxy.reset();
    endpoint.reset();
    relay->SetProxy(std::nullopt);
    proxy_ipv4.clear();
    proxy_ipv6.clear();
    proxy_down = false;
    wine_pending.clear();
  }

  // The pipe could not be asked: acceleration goes off once that has lasted kPipeGoneMs.
  void PipeFailed() {
    pipe.Close();
    int64_t now = NowMs();
    if (pipe_failing_since == 0) pipe_failing_since = now;
    if (now - pipe_failing_since >= kPipeGoneMs) TurnOff();
  }

  bool OpenPipe() {
    if (!pipe.Open()) return false;
    pipe_failing_since = 0;
    return true;
  }

  // Where `pid` is in the user's tree: 0 outside it, kLauncherGroup in the user's cgroup
  // itself, else its program group.
  uint32_t PlaceOf(pid_t pid) const {
    std::optional<std::string> cgroup = CgroupOf(pid);
    const std::string user = "/" + UserCgroup(keys);
    if (!cgroup || !cgroup->starts_with(user)) return 0;
    if (cgroup->size() == user.size()) return kLauncherGroup;
    if (!cgroup->starts_with(user + "/g")) return 0;
    return static_cast<uint32_t>(std::strtoul(cgroup->c_str() + user.size() + 2, nullptr, 10));
  }

  bool IsUsers(pid_t pid) const {
    std::optional<ProcessOwner> owner = OwnerOf(pid);
    return owner && owner->real == options.uid && owner->effective == options.uid;
  }

  std::optional<pid_t> FindWineServer(const std::string& server_dir) const {
    for (pid_t pid : AllProcesses())
      if (IsUsers(pid) && IsWineServer(pid) && BaseName(WorkingDirectoryOf(pid)) == server_dir)
        return pid;
    return std::nullopt;
  }

  // Moves the wineserver of a Wine program's prefix into the program's group. False while the
  // server cannot be found yet.
  bool AdoptWineServer(pid_t program) {
    auto it = tracked.find(program);
    if (it == tracked.end() || it->second.group == 0 || !it->second.server_dir) return true;
    std::optional<pid_t> server = FindWineServer(*it->second.server_dir);
    if (!server) return false;
    for (const auto& [group, g] : groups)
      if (g.servers.count(*server)) return true;  // with another program of the prefix already
    std::optional<std::string> origin = CgroupOf(*server);
    if (!origin) return false;
    // Started by the program after it was moved: it came from where the program came from.
    if (PlaceOf(*server) == it->second.group) origin = groups[it->second.group].origin;
    if (tree->Move(*server, it->second.group)) groups[it->second.group].servers[*server] = *origin;
    return true;
  }

  // A new group with its rules loaded. One is kept ready while acceleration is on, so that a
  // program answered 1 goes into a group at once, without waiting for the rules.
  uint32_t NewGroup() {
    uint32_t group = next_group;
    for (uint32_t i = 0; groups.count(group) && i < kLauncherGroup; ++i)
      group = group % (kLauncherGroup - 1) + 1;
    if (groups.count(group) || !tree->CreateGroup(group)) return 0;
    next_group = group % (kLauncherGroup - 1) + 1;
    groups[group] = Group{};
    rules_dirty = true;
    ApplyRules();
    return group;
  }

  void KeepSpare() {
    if (spare == 0 && proxy) spare = NewGroup();
  }

  void Accelerate(pid_t pid, const std::string& path, uint64_t start) {
    std::optional<std::string> origin = CgroupOf(pid);
    if (!origin) return;
    uint32_t group = std::exchange(spare, 0);
    if (group == 0) group = NewGroup();
    if (group == 0) return;
    groups[group] = Group{pid, *origin, {}};
    status_dirty = true;
    Tracked& t = tracked[pid];
    t = Tracked{start, path, group, false, WineServerDirectoryOf(pid)};
    if (!tree->Move(pid, group)) {
      ReleaseGroup(group);
      return;
    }
    if (t.server_dir && !AdoptWineServer(pid)) {
      wine_pending.insert(pid);
      wine_pending_until = NowMs() + kWineRetryForMs;
    }
    KeepSpare();
  }

  // Moves everything in `group` back where it came from and removes the group. A wineserver
  // goes on with another accelerated program of its prefix when there is one.
  void ReleaseGroup(uint32_t group) {
    auto found = groups.find(group);
    if (found == groups.end()) return;
    Group g = std::move(found->second);
    groups.erase(found);
    status_dirty = true;
    for (auto& [pid, t] : tracked)
      if (t.group == group) t.group = 0;
    for (pid_t member : tree->Members(group)) {
      auto server = g.servers.find(member);
      if (server == g.servers.end()) {
        MoveBack(member, g.origin);
        continue;
      }
      uint32_t heir = 0;
      for (auto& [pid, t] : tracked)
        if (t.group != 0 && t.server_dir &&
            WineServerDirectoryOf(pid) ==
                std::optional<std::string>(BaseName(WorkingDirectoryOf(member))))
          heir = t.group;
      if (heir != 0 && tree->Move(member, heir))
        groups[heir].servers[member] = server->second;
      else
        MoveBack(member, server->second);
    }
    tree->RemoveGroup(group);
    dropped.push_back(group);
    rules_dirty = true;
  }

  // Asks about `pid` and acts on the answer. False when the pipe could not be asked.
  bool Consider(pid_t pid, std::map<std::string, std::pair<AccPipe::Answer, AccReply>>* cache) {
    if (!IsUsers(pid)) {
      auto it = tracked.find(pid);
      if (it != tracked.end()) {  // changed its user: no longer ours to route
        if (it->second.group != 0) ReleaseGroup(it->second.group);
        tracked.erase(it);
      }
      return true;
    }
    if (IsWineServer(pid)) return true;  // goes with the programs of its prefix
    std::optional<uint64_t> start = StartTimeOf(pid);
    std::string path = ProgramPathOf(pid);
    if (!start || path.empty()) return true;
    auto it = tracked.find(pid);
    if (it != tracked.end() && it->second.start != *start) {  // a new process with an old pid
      if (it->second.group != 0) ReleaseGroup(it->second.group);
      tracked.erase(it);
      it = tracked.end();
    }
    uint32_t place = PlaceOf(pid);
    bool owner = it != tracked.end() && it->second.group != 0 && place == it->second.group;
    if (place != 0 && place != kLauncherGroup && !owner) return true;  // a child in a group

    AccPipe::Answer answer;
    AccReply reply;
    auto cached = cache ? cache->find(path) : decltype(cache->end()){};
    if (cache && cached != cache->end()) {
      std::tie(answer, reply) = cached->second;
    } else {
      answer = pipe.Ask(pid, path, reply);
      if (answer == AccPipe::Answer::kNoAnswer) return false;
      if (cache) cache->emplace(path, std::make_pair(answer, reply));
    }
    if (answer == AccPipe::Answer::kSkip) return true;
    TakeProxy(reply);
    bool yes = answer == AccPipe::Answer::kAccelerate && proxy.has_value();
    if (place == kLauncherGroup) {
      Tracked& t = tracked[pid];
      t.start = *start;
      t.path = path;
      if (t.launcher_listed != yes) rules_dirty = status_dirty = true;
      t.launcher_listed = yes;
      return true;
    }
    if (owner) {
      if (!yes) ReleaseGroup(it->second.group);
      return true;
    }
    if (yes) Accelerate(pid, path, *start);
    return true;
  }

  void OnEvents() {
    bool lost = false;
    std::vector<ProcEvent> batch = events->Read(lost);
    if (lost) return Round();
    bool opened = false, failed = false;
    for (const ProcEvent& event : batch) {
      if (event.kind == ProcEvent::Kind::kExit) {
        tracked.erase(event.pid);
        wine_pending.erase(event.pid);
        continue;
      }
      // After a failure, processes left unasked are asked by the next round.
      if (failed || (!IsUsers(event.pid) && !tracked.count(event.pid))) continue;
      if ((!opened && !(opened = OpenPipe())) || !Consider(event.pid, nullptr)) {
        PipeFailed();
        failed = true;
      }
    }
    pipe.Close();
    KeepSpare();
    ApplyRules();
    // The page shows a program as soon as it is caught, not at the next tick.
    if (status_dirty) WriteStatus();
  }

  // Asks about every process of the user again, so that changes in the page reach programs
  // that are running.
  void Round() {
    if (!OpenPipe()) {
      PipeFailed();
      ApplyRules();
      return;
    }
    std::map<std::string, std::pair<AccPipe::Answer, AccReply>> cache;
    for (pid_t pid : AllProcesses()) {
      if (!IsUsers(pid)) continue;
      if (!Consider(pid, &cache)) {
        PipeFailed();
        break;
      }
    }
    pipe.Close();
    // A wineserver that was not there when its program was caught may have come since.
    for (const auto& [pid, t] : tracked)
      if (t.group != 0 && t.server_dir) AdoptWineServer(pid);
    // Processes that ended (an exit event may have been lost) no longer count.
    std::erase_if(tracked, [](const auto& entry) {
      std::optional<uint64_t> start = StartTimeOf(entry.first);
      return !start || *start != entry.second.start;
    });
    // Groups whose program ended go once only their wineservers are left.
    std::vector<uint32_t> done;
    for (const auto& [group, g] : groups) {
      if (group == spare) continue;
      bool owner_alive = tracked.count(g.owner) && tracked[g.owner].group == group;
      if (owner_alive) continue;
      bool others = false;
      for (pid_t member : tree->Members(group)) others = others || !g.servers.count(member);
      if (!others) done.push_back(group);
    }
    for (uint32_t group : done) ReleaseGroup(group);
    KeepSpare();
    ApplyRules();
  }

  void Tick() {
    if (relay->TakeProxyFailure() && proxy && !proxy_down) {
      proxy_down = true;
      rules_dirty = true;
    } else if (proxy_down && endpoint && ProbeProxy(*endpoint)) {
      proxy_down = false;
      rules_dirty = true;
    }
    Round();
    WriteStatus();
  }

  void RetryWine() {
    for (auto it = wine_pending.begin(); it != wine_pending.end();)
      it = AdoptWineServer(*it) ? wine_pending.erase(it) : std::next(it);
    if (NowMs() >= wine_pending_until) wine_pending.clear();
  }

  void WriteStatus() {
    status_dirty = false;
    ComponentStatus status;
    status.component = ::getpid();
    status.updated = ::time(nullptr);
    status.cgroup = tree->Directory(kLauncherGroup).string();
    if (proxy) {
      status.proxy_host = proxy->server;
      status.proxy_port = proxy->port;
    }
    Result<std::string> listing = nft.Run(ListTableScript());
    std::string counters = listing ? *listing : std::string();
    for (const auto& [pid, t] : tracked) {
      uint32_t group = t.group != 0 ? t.group : t.launcher_listed ? kLauncherGroup : 0;
      if (group == 0) continue;
      status.programs.push_back({pid, CounterBytes(counters, CounterName(keys, group, true)),
                                 CounterBytes(counters, CounterName(keys, group, false)), t.path});
    }
    if (!ReplaceFile(state_dir / "status", FormatStatus(status)))
      std::fprintf(stderr, "morvil-kernel: cannot write %s\n", (state_dir / "status").c_str());
  }

  void TearDown() {
    if (tree) {
      std::vector<uint32_t> all;
      for (const auto& [group, g] : groups) all.push_back(group);
      for (uint32_t group : all) ReleaseGroup(group);
    }
    RemoveRules(nft, keys, dropped, options.system_dir);
    routing.reset();
    relay.reset();
    if (tree) CgroupTree::RemoveAll(keys);
    std::error_code ec;
    std::filesystem::remove_all(state_dir, ec);
  }
};

Component::Component(std::unique_ptr<State> state) : state_(std::move(state)) {}
Component::~Component() = default;

void Component::CleanUp(uid_t uid, const std::filesystem::path& system_dir) {
  UserKeys keys = KeysForUser(uid);
  Result<Nft> nft = Nft::Create();
  if (nft) RemoveRules(*nft, keys, {}, system_dir);
  PolicyRouting::Remove(keys);
  CgroupTree::RemoveAll(keys);
  std::error_code ec;
  std::filesystem::remove_all(UserStateDir(system_dir, uid), ec);
}

Result<std::unique_ptr<Component>> Component::Start(const ComponentOptions& options) {
  // The system directory must be root's and closed to others: the status is read from it.
  for (const std::filesystem::path& dir : {options.system_dir, options.system_dir / "users",
                                           UserStateDir(options.system_dir, options.uid)}) {
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
      return Error::FromErrno("mkdir " + dir.string());
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != 0 ||
        (st.st_mode & 022) != 0)
      return Error{EPERM, dir.string() + " is not a directory of root's closed to others"};
  }
  Result<Nft> nft = Nft::Create();
  if (!nft) return nft.error();
  UserKeys keys = KeysForUser(options.uid);
  {
    Result<std::string> listing = nft->Run(ListTableScript());
    if (listing)
      for (uint32_t owner : ChainOwners(*listing))
        if (owner != options.uid && (owner & 0xffff) == (options.uid & 0xffff))
          return Error{EBUSY, "user " + std::to_string(owner) + " shares this user's marks"};
  }
  CleanUp(options.uid, options.system_dir);
  // Made again: CleanUp removes the state directory.
  if (::mkdir(UserStateDir(options.system_dir, options.uid).c_str(), 0755) != 0)
    return Error::FromErrno("mkdir state directory");
  auto state = std::make_unique<State>(options, std::move(*nft));
  Result<CgroupTree> tree = CgroupTree::Create(keys);
  if (!tree) return tree.error();
  state->tree.emplace(std::move(*tree));
  Result<std::unique_ptr<Relay>> relay = Relay::Start(keys.relay_mark);
  if (!relay) return relay.error();
  state->relay = std::move(*relay);
  Result<PolicyRouting> routing = PolicyRouting::Install(keys);
  if (!routing) return routing.error();
  state->routing.emplace(std::move(*routing));
  state->ApplyRules();
  if (state->rules_dirty) return Error{EIO, "nftables rules could not be loaded"};
  Result<ProcEvents> events = ProcEvents::Open();
  if (!events) return events.error();
  state->events.emplace(std::move(*events));
  state->Round();
  state->WriteStatus();
  return std::unique_ptr<Component>(new Component(std::move(state)));
}

void Component::Run(int stop_fd) {
  State& s = *state_;
  int64_t next_tick = NowMs() + kTickMs;
  for (;;) {
    int64_t now = NowMs();
    int64_t wake = next_tick;
    if (!s.wine_pending.empty()) wake = std::min(wake, now + kWineRetryMs);
    pollfd fds[2] = {{s.events->fd(), POLLIN, 0}, {stop_fd, POLLIN, 0}};
    int n = ::poll(fds, 2, static_cast<int>(std::max<int64_t>(0, wake - now)));
    if (n > 0 && (fds[1].revents & POLLIN)) return;
    if (n > 0 && (fds[0].revents & POLLIN)) s.OnEvents();
    if (!s.wine_pending.empty()) s.RetryWine();
    if (NowMs() >= next_tick) {
      s.Tick();
      next_tick = NowMs() + kTickMs;
    }
  }
}
