// Whole records through a jack_ringbuffer: a record becomes visible to the reader only once
// all of its bytes are in, so the realtime side never sees half a packet.
#pragma once

#include <jack/ringbuffer.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace coremidi {

class Ring {
 public:
  explicit Ring(std::size_t capacity);
  ~Ring();
  Ring(const Ring&) = delete;
  Ring& operator=(const Ring&) = delete;

  std::size_t capacity() const { return capacity_; }
  std::size_t writable() const { return jack_ringbuffer_write_space(ring_); }
  std::size_t readable() const { return jack_ringbuffer_read_space(ring_); }

  // Writing: pieces go into place one after the other, then commit() publishes them at once.
  // The caller has checked writable() for the total first.
  void put(const void* bytes, std::size_t count);
  void commit();

  // Reading: peek() copies without consuming, take() copies and consumes, skip() consumes.
  bool peek(void* into, std::size_t count) const;
  void take(void* into, std::size_t count);
  void skip(std::size_t count);

 private:
  jack_ringbuffer_t* ring_;
  std::size_t capacity_;
  std::size_t pending_ = 0;  // bytes put but not yet committed
};

}  // namespace coremidi
