// Whole records through a single-producer, single-consumer ring: a record becomes visible to
// the reader only once all of its bytes are in, so the realtime side never sees half a packet.
//
// The same lock-free design as JACK's jack_ringbuffer, written with C++ atomics: the
// acquire/release pairs that hand bytes from one thread to the other are in this code, where
// ThreadSanitizer checks them (inside an uninstrumented libjack it sees none).
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

namespace coremidi {

class Ring {
 public:
  // Holds `capacity` bytes, rounded up to a power of two. Allocates only here, and writes every
  // byte here, so that the realtime side never takes a page fault on the ring's first use.
  explicit Ring(std::size_t capacity);

  std::size_t capacity() const { return size_; }
  std::size_t writable() const { return size_ - readable(); }
  std::size_t readable() const {
    const std::size_t read = read_.load();  // first: what was read never exceeds what was written
    return written_.load() - read;
  }

  // Writing (one thread at a time): pieces go into place one after the other, then commit()
  // publishes them at once. The caller has checked writable() for the total first.
  void put(const void* bytes, std::size_t count);
  void commit();

  // Reading (one thread at a time): peek() copies without consuming, take() copies and
  // consumes, skip() consumes.
  bool peek(void* into, std::size_t count) const;
  void take(void* into, std::size_t count);
  void skip(std::size_t count);

 private:
  const std::size_t size_;
  const std::unique_ptr<char[]> bytes_;
  // Bytes ever written and ever read: their difference is what the ring holds, and an index
  // into bytes_ is a count modulo size_.
  std::atomic<std::size_t> written_{0};
  std::atomic<std::size_t> read_{0};
  std::size_t pending_ = 0;  // bytes put but not yet committed
};

}  // namespace coremidi
