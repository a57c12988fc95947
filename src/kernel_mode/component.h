// The kernel-mode component for one user: watches the user's processes, asks the user's
// acceleration pipe about each program, moves accelerated ones (and the wineserver of a Wine
// program's prefix) into the user's cgroups, keeps the nftables rules and the relay in step
// with the answers, and writes the status file once a second. Everything it changes on the
// machine is undone when it ends. Runs on one thread (the relay has its own).
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>

#include "base/result.h"

struct ComponentOptions {
  uid_t uid = 0;
  std::string runtime_dir;           // the user's runtime directory (holds morvil/pipe/)
  std::filesystem::path system_dir;  // holds users/<uid>/status and the rules' lock
};

class Component {
 public:
  // Sets up routes, cgroups, rules and the relay; fails (leaving nothing behind) when the
  // machine lacks what kernel mode needs.
  [[nodiscard]] static Result<std::unique_ptr<Component>> Start(const ComponentOptions& options);
  ~Component();

  // Serves until `stop_fd` becomes readable (a signalfd).
  void Run(int stop_fd);

  // Removes what a component of `uid` left behind when it did not end cleanly.
  static void CleanUp(uid_t uid, const std::filesystem::path& system_dir);

  struct State;

 private:
  explicit Component(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};
