#include "Ring.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace coremidi {

Ring::Ring(std::size_t capacity) : ring_(jack_ringbuffer_create(capacity)) {
  if (ring_ == nullptr) throw std::bad_alloc();
  capacity_ = jack_ringbuffer_write_space(ring_);
}

Ring::~Ring() {
  jack_ringbuffer_free(ring_);
}

void Ring::put(const void* bytes, std::size_t count) {
  jack_ringbuffer_data_t parts[2];
  jack_ringbuffer_get_write_vector(ring_, parts);
  auto* from = static_cast<const char*>(bytes);
  std::size_t offset = pending_;
  for (auto& part : parts) {
    if (count == 0) break;
    if (offset >= part.len) {
      offset -= part.len;
      continue;
    }
    const std::size_t here = std::min(count, part.len - offset);
    std::memcpy(part.buf + offset, from, here);
    from += here;
    count -= here;
    pending_ += here;
    offset = 0;
  }
}

void Ring::commit() {
  jack_ringbuffer_write_advance(ring_, pending_);
  pending_ = 0;
}

bool Ring::peek(void* into, std::size_t count) const {
  return jack_ringbuffer_peek(ring_, static_cast<char*>(into), count) == count;
}

void Ring::take(void* into, std::size_t count) {
  jack_ringbuffer_read(ring_, static_cast<char*>(into), count);
}

void Ring::skip(std::size_t count) {
  jack_ringbuffer_read_advance(ring_, count);
}

}  // namespace coremidi
