#include "lsp/iovec_shift.h"

#include <cstring>

namespace {

// Byte `index` of the buffers seen as one.
uint8_t& At(const iovec* iov, size_t index) {
  for (;; ++iov) {
    if (index < iov->iov_len) return static_cast<uint8_t*>(iov->iov_base)[index];
    index -= iov->iov_len;
  }
}

}  // namespace

size_t ShiftPayloadIntoIovecs(const uint8_t* head, size_t head_filled, size_t skip,
                              const iovec* iov, size_t iov_count, size_t tail_filled) {
  size_t capacity = 0;
  for (size_t i = 0; i < iov_count; ++i) capacity += iov[i].iov_len;
  const size_t front = head_filled > skip ? head_filled - skip : 0;
  const size_t moved_front = front < capacity ? front : capacity;
  size_t kept_tail = capacity - moved_front < tail_filled ? capacity - moved_front : tail_filled;
  if (front > 0 && kept_tail > 0) {
    if (iov_count == 1 || iov[0].iov_len >= capacity) {
      auto* base = static_cast<uint8_t*>(iov[0].iov_base);
      std::memmove(base + moved_front, base, kept_tail);
    } else {
      // Scattered buffers: move from the end backwards, byte by byte (rare: UDP programs read
      // into one buffer).
      for (size_t i = kept_tail; i-- > 0;) At(iov, i + moved_front) = At(iov, i);
    }
  }
  for (size_t i = 0; i < moved_front; ++i) At(iov, i) = head[skip + i];
  return moved_front + kept_tail;
}
