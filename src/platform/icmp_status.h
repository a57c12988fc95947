// Outcome codes of one ICMP echo request, as the platform's echo service reports them, and the
// mapping from what the Linux network stack tells us (ICMP error messages, send errors) onto them.
// Pure functions; thread-safe.
#pragma once

#include <cstdint>

enum IcmpStatus : uint32_t {
  kIcmpSuccess = 0,
  // No echo request could be sent: this user may open no ICMP socket and no helper could send
  // for them (the platform's "access denied").
  kIcmpAccessDenied = 5,
  kIcmpDestNetUnreachable = 11002,
  kIcmpDestHostUnreachable = 11003,
  kIcmpDestProtocolUnreachable = 11004,
  kIcmpDestPortUnreachable = 11005,
  kIcmpNoResources = 11006,
  kIcmpPacketTooBig = 11009,
  kIcmpTimedOut = 11010,
  kIcmpBadRoute = 11012,
  kIcmpTtlExpiredInTransit = 11013,
  kIcmpTtlExpiredInReassembly = 11014,
  kIcmpParameterProblem = 11015,
  kIcmpSourceQuench = 11016,
  kIcmpGeneralFailure = 11050,
};

// The status for an ICMP error message of `type` and `code` that answered an echo request
// (destination unreachable 3, source quench 4, time exceeded 11, parameter problem 12).
// Any other type gives kIcmpGeneralFailure.
[[nodiscard]] IcmpStatus StatusForIcmpError(uint8_t type, uint8_t code);

// The status for an errno value with which sending an echo request failed.
[[nodiscard]] IcmpStatus StatusForSendErrno(int error);
