#include "Ring.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace coremidi {

Ring::Ring(std::size_t capacity)
    : size_(std::bit_ceil(capacity)), bytes_(std::make_unique<char[]>(size_)) {}

// Sequentially consistent loads and stores throughout: each store releases the bytes copied
// before it, each load acquires them, and the rings are not busy enough for weaker orders to
// matter.
void Ring::put(const void* bytes, std::size_t count) {
  const std::size_t at = (written_.load() + pending_) & (size_ - 1);
  const std::size_t first = std::min(count, size_ - at);
  std::memcpy(&bytes_[at], bytes, first);
  std::memcpy(&bytes_[0], static_cast<const char*>(bytes) + first, count - first);
  pending_ += count;
}

void Ring::commit() {
  written_.store(written_.load() + pending_);
  pending_ = 0;
}

bool Ring::peek(void* into, std::size_t count) const {
  if (readable() < count) return false;
  const std::size_t at = read_.load() & (size_ - 1);
  const std::size_t first = std::min(count, size_ - at);
  std::memcpy(into, &bytes_[at], first);
  std::memcpy(static_cast<char*>(into) + first, &bytes_[0], count - first);
  return true;
}

void Ring::take(void* into, std::size_t count) {
  if (peek(into, count)) skip(count);
}

void Ring::skip(std::size_t count) {
  read_.store(read_.load() + count);
}

}  // namespace coremidi
