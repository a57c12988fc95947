// The routing rules that send the user's marked packets to this machine, where TPROXY hands
// them to the relay: for IPv4 and IPv6, "fwmark M lookup T" and "local default dev lo" in
// table T (M and T from UserKeys). Installed on creation, removed on destruction. Installing
// first removes what a component that did not end cleanly may have left.
#pragma once

#include <optional>

#include "base/result.h"
#include "kernel_mode/user_keys.h"

class PolicyRouting {
 public:
  [[nodiscard]] static Result<PolicyRouting> Install(const UserKeys& keys);
  // Removes the user's rules and routes, whoever installed them.
  static void Remove(const UserKeys& keys);

  PolicyRouting(PolicyRouting&& other) noexcept : keys_(std::move(other.keys_)) {
    other.keys_.reset();
  }
  PolicyRouting& operator=(PolicyRouting&&) = delete;
  ~PolicyRouting() {
    if (keys_) Remove(*keys_);
  }

 private:
  explicit PolicyRouting(const UserKeys& keys) : keys_(keys) {}
  std::optional<UserKeys> keys_;
};
