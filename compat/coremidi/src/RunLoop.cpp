// The CoreFoundation run loop as the relays use it: one loop per thread, run in the default
// mode until stopped, and version-0 sources that a thread signals and another thread's loop
// performs. A stop sent to a loop that is not running is lost, as in CoreFoundation.
//
// Nothing removes or releases a source: the relays add one for the whole run.
#include <CoreFoundation/CoreFoundation.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

struct __CFRunLoopSource {
  CFRunLoopSourceContext context;
  bool signalled = false;
};

struct __CFRunLoop {
  std::condition_variable woken;
  bool wakeUpPending = false;
  std::vector<bool*> runs;  // the stop flag of each CFRunLoopRun under way, innermost last
  std::vector<__CFRunLoopSource*> sources;
  __CFRunLoop* earlier = nullptr;  // the loop made before this one
};

extern "C" const CFRunLoopMode kCFRunLoopDefaultMode = CFSTR("kCFRunLoopDefaultMode");

namespace {

// One lock for every loop and source: the relays touch them a handful of times per run.
std::mutex state;

// Every loop made, the latest first: loops are kept on purpose (CFRunLoopGetCurrent), and this
// keeps them reachable after their thread has ended, so a leak check can tell them from leaks.
__CFRunLoop* latestLoop = nullptr;

// Takes the signalled sources of a loop, in the order they were added, clearing their signal.
std::vector<__CFRunLoopSource*> takeSignalled(CFRunLoopRef loop) {
  std::vector<__CFRunLoopSource*> ready;
  for (auto* source : loop->sources) {
    if (source->signalled) ready.push_back(source);
    source->signalled = false;
  }
  return ready;
}

}  // namespace

// Loops are never freed: a reference handed to another thread stays valid even after the
// loop's own thread has ended.
extern "C" CFRunLoopRef CFRunLoopGetCurrent(void) {
  thread_local const CFRunLoopRef loop = [] {
    auto* made = new __CFRunLoop;
    std::lock_guard lock(state);
    made->earlier = std::exchange(latestLoop, made);
    return made;
  }();
  return loop;
}

// Returns once stopped, or at once when the loop has no source: with nothing that could wake
// it, it would wait forever.
extern "C" void CFRunLoopRun(void) {
  const CFRunLoopRef loop = CFRunLoopGetCurrent();
  std::unique_lock lock(state);
  bool stopped = false;
  loop->runs.push_back(&stopped);
  while (!stopped && !loop->sources.empty()) {
    const auto ready = takeSignalled(loop);
    if (!ready.empty()) {
      lock.unlock();  // a perform may use the run loop
      for (auto* source : ready) source->context.perform(source->context.info);
      lock.lock();
      continue;
    }
    loop->woken.wait(lock, [&] { return loop->wakeUpPending || stopped; });
    loop->wakeUpPending = false;
  }
  loop->runs.pop_back();
}

extern "C" void CFRunLoopStop(CFRunLoopRef rl) {
  std::lock_guard lock(state);
  if (rl->runs.empty()) return;
  *rl->runs.back() = true;
  rl->woken.notify_all();
}

extern "C" void CFRunLoopWakeUp(CFRunLoopRef rl) {
  std::lock_guard lock(state);
  rl->wakeUpPending = true;
  rl->woken.notify_all();
}

extern "C" CFRunLoopSourceRef CFRunLoopSourceCreate(CFAllocatorRef, CFIndex,
                                                    CFRunLoopSourceContext* context) {
  if (context == nullptr || context->version != 0 || context->perform == nullptr) return nullptr;
  return new __CFRunLoopSource{*context};
}

// Only the default mode exists here; a source added in another mode would never be performed.
extern "C" void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode) {
  if (mode == nullptr || std::strcmp(reinterpret_cast<const char*>(mode),
                                     reinterpret_cast<const char*>(kCFRunLoopDefaultMode)) != 0) {
    return;
  }
  std::lock_guard lock(state);
  if (std::find(rl->sources.begin(), rl->sources.end(), source) == rl->sources.end()) {
    rl->sources.push_back(source);
  }
}

extern "C" void CFRunLoopSourceSignal(CFRunLoopSourceRef source) {
  std::lock_guard lock(state);
  source->signalled = true;
}
