// mach_absolute_time for Linux: the monotonic host clock. Its units are nanoseconds, so
// the time base is 1/1, as on Apple silicon's CoreMIDI time stamps after conversion.
#ifndef QUAV_COMPAT_MACH_TIME_H
#define QUAV_COMPAT_MACH_TIME_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct mach_timebase_info {
  uint32_t numer;
  uint32_t denom;
};
typedef struct mach_timebase_info mach_timebase_info_data_t;
typedef struct mach_timebase_info* mach_timebase_info_t;
typedef int kern_return_t;

uint64_t mach_absolute_time(void);
kern_return_t mach_timebase_info(mach_timebase_info_t info);

#ifdef __cplusplus
}
#endif

#endif
