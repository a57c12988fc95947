// Moves a received datagram's payload into place after a read that put the SOCKS5 UDP header
// (and possibly the payload's first bytes) into a scratch buffer ahead of the program's own
// buffers. Pure; thread-safe.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>

// `head` holds `head_filled` bytes of which the first `skip` are the header; the program's
// buffers `iov` hold the next `tail_filled` bytes. Afterwards the buffers start with the
// payload: head[skip..head_filled) followed by the bytes that were in them, cut at their
// capacity. Returns the payload bytes now in the buffers.
size_t ShiftPayloadIntoIovecs(const uint8_t* head, size_t head_filled, size_t skip,
                              const iovec* iov, size_t iov_count, size_t tail_filled);
