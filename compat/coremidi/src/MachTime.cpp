#include <mach/mach_time.h>
#include <time.h>

// The raw monotonic clock is the one JACK reads, so time stamps of incoming packets and this
// clock agree.
extern "C" uint64_t mach_absolute_time(void) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC_RAW, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}
