// The listening side of one pipe name within this process, shared by all server instances of
// that name (see PipeServerInstance). The socket listens only while at least one instance is
// free, with room for as many pending clients as there are free instances: a client that comes
// while every instance is busy is refused at once, one that comes before a free instance waits
// for it is kept for that instance. The last free instance to take a client closes the listener
// (a client that slipped into its queue at that moment is kept and served next, not dropped); the
// first to become free again binds a new one and renames it over whatever file is at the path (the
// newest server of a name wins). The path never goes missing while the endpoint lives: between
// listeners a client is refused, as when every instance is busy. Thread-safe.
#pragma once

#include <sys/types.h>

#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>

#include "base/result.h"
#include "base/unique_fd.h"

class PipeEndpoint {
 public:
  // The endpoint for `path`, shared with the instances that already serve it, with one more
  // free instance counted.
  [[nodiscard]] static Result<std::shared_ptr<PipeEndpoint>> AddFreeInstance(
      const std::filesystem::path& path);

  explicit PipeEndpoint(std::filesystem::path path) : path_(std::move(path)) {}
  ~PipeEndpoint();
  PipeEndpoint(const PipeEndpoint&) = delete;
  PipeEndpoint& operator=(const PipeEndpoint&) = delete;

  // Called by a free instance: waits for a client of the calling user and counts the instance
  // busy. Connections of other users are dropped unseen.
  [[nodiscard]] Result<UniqueFd> accept();
  // A busy instance became free again.
  [[nodiscard]] Result<void> instance_freed();
  // An instance went away, free or busy.
  void remove_instance(bool was_free);

 private:
  // Listens with room for as many pending clients as free instances lack one, or not at all.
  [[nodiscard]] Result<void> update_listening_locked();
  void stop_listening_locked();

  const std::filesystem::path path_;
  std::mutex mutex_;
  std::shared_ptr<UniqueFd> listener_;  // shared so that a waiting accept keeps its descriptor
  ino_t bound_inode_ = 0;
  std::deque<UniqueFd> waiting_;  // connected clients taken off a listener that was closed
  int free_ = 0;
};
