// mach_absolute_time for Linux: the monotonic host clock, in nanoseconds.
#ifndef QUAV_COMPAT_MACH_TIME_H
#define QUAV_COMPAT_MACH_TIME_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

uint64_t mach_absolute_time(void);

#ifdef __cplusplus
}
#endif

#endif
