#include "lsp/socket_table.h"

#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>

#include "lsp/real_calls.h"

std::atomic<int> SocketTable::pending{0};

namespace {

pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
std::atomic<SocketEntry*> g_entries{nullptr};
size_t g_size = 0;

constexpr size_t kMaxEntries = 1 << 20;

void LockForFork() {
  pthread_mutex_lock(&g_lock);
}
void UnlockAfterFork() {
  pthread_mutex_unlock(&g_lock);
}

SocketEntry* MakeTable() {
  // One entry per descriptor the process may ever hold. Anonymous pages cost nothing until an
  // entry is touched, and a zeroed entry reads as unused, so nothing is written here.
  rlimit limit{};
  size_t size = kMaxEntries;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_max < size)
    size = limit.rlim_max < 1024 ? 1024 : limit.rlim_max;
  void* memory = mmap(nullptr, size * sizeof(SocketEntry), PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (memory == MAP_FAILED) return nullptr;
  g_size = size;
  pthread_atfork(LockForFork, UnlockAfterFork, UnlockAfterFork);
  return static_cast<SocketEntry*>(memory);
}

}  // namespace

SocketEntry* SocketTable::Find(int fd) {
  SocketEntry* entries = g_entries.load(std::memory_order_acquire);
  if (entries == nullptr || fd < 0 || static_cast<size_t>(fd) >= g_size) return nullptr;
  SocketEntry* entry = &entries[fd];
  return entry->kind.load(std::memory_order_acquire) == SocketKind::kNone ? nullptr : entry;
}

SocketEntry* SocketTable::Claim(int fd) {
  SocketEntry* entries = g_entries.load(std::memory_order_acquire);
  if (entries == nullptr) {
    entries = MakeTable();
    if (entries == nullptr) return nullptr;
    g_entries.store(entries, std::memory_order_release);
  }
  if (fd < 0 || static_cast<size_t>(fd) >= g_size) return nullptr;
  SocketEntry& entry = entries[fd];
  if (entry.kind.load() == SocketKind::kNone) {
    entry.done_fd = entry.control_fd = -1;
    entry.error_to_report = 0;
    entry.destination_length = entry.relay_length = 0;
    entry.registration_count = 0;
  }
  return &entry;
}

void SocketTable::Release(int fd) {
  SocketEntry* entries = g_entries.load(std::memory_order_acquire);
  if (entries == nullptr || fd < 0 || static_cast<size_t>(fd) >= g_size) return;
  SocketEntry& entry = entries[fd];
  if (entry.kind.load() == SocketKind::kNone) return;
  if (entry.kind.load() == SocketKind::kTcpPending) pending.fetch_sub(1);
  if (entry.done_fd >= 0) __close(entry.done_fd);
  if (entry.control_fd >= 0) __close(entry.control_fd);
  uint32_t generation = entry.generation + 1;
  entry.kind.store(SocketKind::kNone, std::memory_order_release);
  entry.generation = generation;
  entry.done_fd = entry.control_fd = -1;
  entry.error_to_report = 0;
  entry.destination_length = entry.relay_length = 0;
  entry.registration_count = 0;
}

void SocketTable::Lock() {
  pthread_mutex_lock(&g_lock);
}

void SocketTable::Unlock() {
  pthread_mutex_unlock(&g_lock);
}
