// The least a relay can do, as a reference for the kernel-mode relay's cost: a process that
// accepts connections on loopback, connects each to one target and moves bytes both ways with
// splice (blocking writes, no SOCKS5, no rules), passing each side's end on to the other.
// Benchmark use only.
#pragma once

#include <sys/types.h>

#include <cstdint>

// Starts the forwarder for `target`; its port in `port` and its process id as the result (-1
// when it could not start). The caller kills it.
pid_t StartForwarder(uint16_t target_port, uint16_t& port);
