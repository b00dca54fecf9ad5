// What crosses between C++ and Objective-C in the AppKit shell: Objective-C objects owned from C++,
// strings across the boundary, and C++ callables as Objective-C targets.
//
// The shell is written without automatic reference counting: GNUstep's runtime on Linux has none,
// and the same source must build on both. What the shell keeps, it owns through a Retained.
#pragma once

#import <Foundation/Foundation.h>

#ifdef GNUSTEP
#import "GNUstepCompat.h"
#endif

#include <functional>
#include <string>
#include <utility>

namespace quav::toolkit::appkit {

// Owns one reference to an Objective-C object and releases it with itself.
template <typename T>
class Retained {
 public:
  Retained() = default;
  // Takes over a reference the caller holds (from alloc, new or copy).
  explicit Retained(T* owned) : object_(owned) {}
  Retained(const Retained&) = delete;
  Retained& operator=(const Retained&) = delete;
  Retained(Retained&& other) noexcept : object_(std::exchange(other.object_, nil)) {}
  Retained& operator=(Retained&& other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~Retained() { [object_ release]; }

  T* get() const { return object_; }

 private:
  T* object_ = nil;
};

// Takes a reference of its own to an object someone else owns (an autoreleased one).
template <typename T>
Retained<T> retain(T* object) {
  return Retained<T>([object retain]);
}

// The run loop modes the launcher's work runs in, as the main dispatch queue's does on macOS:
// the default mode, an open alert's and a tracking menu's.
NSArray* mainRunLoopModes();

inline NSString* nsString(const std::string& text) {
  return [[[NSString alloc] initWithBytes:text.data()
                                   length:text.size()
                                 encoding:NSUTF8StringEncoding] autorelease];
}

inline std::string stdString(NSString* text) {
  const char* bytes = [text UTF8String];
  return bytes ? bytes : "";
}

}  // namespace quav::toolkit::appkit

// A C++ callable as an Objective-C target: the action of a button, a task for the main thread.
// The callable lives on the heap because this runtime does not construct C++ members of
// Objective-C objects.
@interface QuavCallback : NSObject {
  std::function<void()>* callable_;
}
- (instancetype)initWithCallable:(std::function<void()>)callable;
- (void)perform:(id)sender;
@end
