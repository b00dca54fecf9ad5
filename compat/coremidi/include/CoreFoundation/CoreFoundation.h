// The part of Apple's CoreFoundation that the relays use, for Linux: basic Mac types,
// constant strings and the run loop. Names, signatures and semantics follow Apple's
// public documentation.
#ifndef QUAV_COMPAT_COREFOUNDATION_H
#define QUAV_COMPAT_COREFOUNDATION_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint8_t Byte;
typedef uint16_t UInt16;
typedef uint32_t UInt32;
typedef int32_t SInt32;
typedef uint64_t UInt64;
typedef unsigned char Boolean;
typedef int32_t OSStatus;
typedef unsigned long ByteCount;
typedef long CFIndex;
typedef unsigned long CFHashCode;

enum { noErr = 0 };

// A string here is immutable UTF-8 text. CFSTR gives one for a literal; it lives for the
// whole run, as on Apple's platforms.
typedef const struct __CFString* CFStringRef;
#define CFSTR(cStr) ((CFStringRef)("" cStr ""))

typedef const struct __CFAllocator* CFAllocatorRef;
#define kCFAllocatorDefault ((CFAllocatorRef)0)

typedef struct __CFRunLoop* CFRunLoopRef;
typedef struct __CFRunLoopSource* CFRunLoopSourceRef;
typedef CFStringRef CFRunLoopMode;

extern const CFRunLoopMode kCFRunLoopDefaultMode;

// A version-0 source: the run loop calls `perform` on its own thread once the source has
// been signalled and the loop woken up. Of the context, only `info` and `perform` are used.
typedef struct {
  CFIndex version;
  void* info;
  const void* (*retain)(const void* info);
  void (*release)(const void* info);
  CFStringRef (*copyDescription)(const void* info);
  Boolean (*equal)(const void* info1, const void* info2);
  CFHashCode (*hash)(const void* info);
  void (*schedule)(void* info, CFRunLoopRef rl, CFRunLoopMode mode);
  void (*cancel)(void* info, CFRunLoopRef rl, CFRunLoopMode mode);
  void (*perform)(void* info);
} CFRunLoopSourceContext;

CFRunLoopRef CFRunLoopGetCurrent(void);
void CFRunLoopRun(void);
void CFRunLoopStop(CFRunLoopRef rl);
void CFRunLoopWakeUp(CFRunLoopRef rl);

CFRunLoopSourceRef CFRunLoopSourceCreate(CFAllocatorRef allocator, CFIndex order,
                                         CFRunLoopSourceContext* context);
void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode);
void CFRunLoopSourceSignal(CFRunLoopSourceRef source);

#ifdef __cplusplus
}
#endif

#endif
