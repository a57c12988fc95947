// Messages as a peer sends them on a named pipe, read back the way the servers read them: the
// input is cut into messages (two length bytes, then that many bytes, up to 4 KiB each), written
// to one end of a real message-mode pipe and read from the other with the 2048-byte limit. A
// message within the limit reads back as its decoded text; a longer one fails its read and its
// tail comes with the next.
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "fuzz_input.h"
#include "pipe/pipe_message.h"
#include "platform/pipe_connection.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The read path prints its diagnostic line to stdout for every failed read.
  (void)std::freopen("/dev/null", "w", stdout);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::vector<std::byte>> messages;
  for (size_t at = 0; at + 2 <= size && messages.size() < 16;) {
    size_t length = std::min<size_t>((data[at] | (data[at + 1] << 8)) & 0xFFF, size - at - 2);
    auto first = reinterpret_cast<const std::byte*>(data + at + 2);
    messages.emplace_back(first, first + length);
    at += 2 + length;
  }
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) return 0;
  UniqueFd writer_fd(fds[0]);
  UniqueFd reader_fd(fds[1]);
  if (!EnablePassCredentials(reader_fd.get())) return 0;
  PipeConnection writer(std::move(writer_fd));
  PipeConnection reader(std::move(reader_fd));
  for (const auto& message : messages) FUZZ_CHECK(writer.write(message));
  (void)writer.close();

  for (const auto& message : messages) {
    Text out = u"\xbdpoison";
    if (message.size() <= kPipeReadLimit) {
      FUZZ_CHECK(ReadPipeMessage(&reader, out));
      FUZZ_CHECK(out == DecodePipeMessage(message));
      continue;
    }
    FUZZ_CHECK(!ReadPipeMessage(&reader, out));
    FUZZ_CHECK(out == u"\xbdpoison");
    // The rest of the long message, in pieces of the limit.
    for (size_t left = message.size() - kPipeReadLimit; left > 0;) {
      size_t piece = std::min(left, kPipeReadLimit);
      bool whole = left <= kPipeReadLimit;
      FUZZ_CHECK(ReadPipeMessage(&reader, out) == whole);
      left -= piece;
    }
  }
  Text after;
  FUZZ_CHECK(!ReadPipeMessage(&reader, after));  // the hang-up
  return 0;
}
