#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include "platform/runtime_dir.h"

InstanceLock InstanceLock::Acquire(TextView name) {
  auto dir = RuntimeDirectory();
  if (!dir) return InstanceLock(State::kFailed, UniqueFd());
  // The name may hold any character but '/'; keep it readable in the directory listing.
  std::string file = ToUtf8(name);
  for (char& c : file)
    if (c == '/') c = '_';
  std::filesystem::path path = dir.value() / (file + ".lock");
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd) return InstanceLock(State::kFailed, UniqueFd());
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
    return InstanceLock(errno == EWOULDBLOCK ? State::kHeldElsewhere : State::kFailed, UniqueFd());
  return InstanceLock(State::kAcquired, std::move(fd));
}
