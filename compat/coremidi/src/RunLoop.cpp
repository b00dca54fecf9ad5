// The CoreFoundation run loop as the relays use it: one loop per thread, run in the default
// mode until stopped, and version-0 sources that a thread signals and another thread's loop
// performs. A stop sent to a loop that is not running is lost, as in CoreFoundation.
#include <CoreFoundation/CoreFoundation.h>
#include <pthread.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <unordered_set>
#include <vector>

struct __CFRunLoopSource;

struct __CFRunLoop {
  std::condition_variable woken;
  bool wakeUpPending = false;
  std::vector<bool*> runs;  // the stop flag of each CFRunLoopRun under way, innermost last
  std::vector<__CFRunLoopSource*> sources;
};

struct __CFRunLoopSource {
  CFRunLoopSourceContext context;
  CFIndex order;
  int references = 1;
  bool signalled = false;
  bool valid = true;
  std::vector<__CFRunLoop*> loops;
};

extern "C" const CFRunLoopMode kCFRunLoopDefaultMode = CFSTR("kCFRunLoopDefaultMode");
extern "C" const CFRunLoopMode kCFRunLoopCommonModes = CFSTR("kCFRunLoopCommonModes");

namespace {

// One lock for every loop and source: the relays touch them a handful of times per run.
std::mutex state;
std::unordered_set<__CFRunLoopSource*> liveSources;

const pthread_t mainThread = pthread_self();  // static initialisation runs on the main thread

// Loops are never freed: a reference handed to another thread stays valid even after the
// loop's own thread has ended.
CFRunLoopRef newLoop() {
  return new __CFRunLoop;
}

bool isDefaultMode(CFRunLoopMode mode) {
  const auto* text = reinterpret_cast<const char*>(mode);
  return text != nullptr && (std::strcmp(text, "kCFRunLoopDefaultMode") == 0 ||
                             std::strcmp(text, "kCFRunLoopCommonModes") == 0);
}

void retain(__CFRunLoopSource* source) {
  source->references += 1;
}

// True when the last reference went; the caller then destroys the source outside the lock,
// since its release callback may use the run loop.
bool release(__CFRunLoopSource* source) {
  if (--source->references > 0) return false;
  liveSources.erase(source);
  return true;
}

void destroy(__CFRunLoopSource* source) {
  if (source->context.release != nullptr) source->context.release(source->context.info);
  delete source;
}

// Takes the signalled sources of a loop, lowest order first, clearing their signal.
std::vector<__CFRunLoopSource*> takeSignalled(CFRunLoopRef loop) {
  std::vector<__CFRunLoopSource*> ready;
  for (auto* source : loop->sources) {
    if (!source->signalled) continue;
    source->signalled = false;
    retain(source);
    ready.push_back(source);
  }
  std::stable_sort(ready.begin(), ready.end(),
                   [](auto* left, auto* right) { return left->order < right->order; });
  return ready;
}

// Called with the lock held; performs outside it, so that a perform can use the run loop.
void perform(std::unique_lock<std::mutex>& lock, const std::vector<__CFRunLoopSource*>& ready) {
  lock.unlock();
  for (auto* source : ready) source->context.perform(source->context.info);
  lock.lock();
  std::vector<__CFRunLoopSource*> gone;
  for (auto* source : ready) {
    if (release(source)) gone.push_back(source);
  }
  if (gone.empty()) return;
  lock.unlock();
  for (auto* source : gone) destroy(source);
  lock.lock();
}

void detach(__CFRunLoopSource* source, CFRunLoopRef loop) {
  std::erase(loop->sources, source);
  std::erase(source->loops, loop);
  loop->woken.notify_all();  // a run left without sources returns
}

void cancel(const __CFRunLoopSource* source, CFRunLoopRef loop) {
  if (source->context.cancel != nullptr) {
    source->context.cancel(source->context.info, loop, kCFRunLoopDefaultMode);
  }
}

}  // namespace

extern "C" CFRunLoopRef CFRunLoopGetMain(void) {
  static const CFRunLoopRef loop = newLoop();
  return loop;
}

extern "C" CFRunLoopRef CFRunLoopGetCurrent(void) {
  if (pthread_equal(pthread_self(), mainThread) != 0) return CFRunLoopGetMain();
  thread_local const CFRunLoopRef loop = newLoop();
  return loop;
}

// Returns once stopped, or at once (and whenever it finds itself so) when the loop has no
// source in the default mode: with nothing that could wake it, it would wait forever.
extern "C" void CFRunLoopRun(void) {
  const CFRunLoopRef loop = CFRunLoopGetCurrent();
  std::unique_lock lock(state);
  bool stopped = false;
  loop->runs.push_back(&stopped);
  while (!stopped && !loop->sources.empty()) {
    const auto ready = takeSignalled(loop);
    if (!ready.empty()) {
      perform(lock, ready);
      continue;
    }
    loop->woken.wait(lock, [&] { return loop->wakeUpPending || stopped || loop->sources.empty(); });
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

extern "C" CFRunLoopSourceRef CFRunLoopSourceCreate(CFAllocatorRef, CFIndex order,
                                                    CFRunLoopSourceContext* context) {
  if (context == nullptr || context->version != 0 || context->perform == nullptr) return nullptr;
  auto* source = new __CFRunLoopSource{*context, order, 1, false, true, {}};
  if (context->retain != nullptr)
    source->context.info = const_cast<void*>(context->retain(context->info));
  std::lock_guard lock(state);
  liveSources.insert(source);
  return source;
}

extern "C" void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode) {
  {
    std::lock_guard lock(state);
    if (!isDefaultMode(mode) || !source->valid ||
        std::find(rl->sources.begin(), rl->sources.end(), source) != rl->sources.end()) {
      return;
    }
    retain(source);
    rl->sources.push_back(source);
    source->loops.push_back(rl);
  }
  if (source->context.schedule != nullptr) {
    source->context.schedule(source->context.info, rl, kCFRunLoopDefaultMode);
  }
}

extern "C" void CFRunLoopRemoveSource(CFRunLoopRef rl, CFRunLoopSourceRef source,
                                      CFRunLoopMode mode) {
  {
    std::lock_guard lock(state);
    if (!isDefaultMode(mode) ||
        std::find(rl->sources.begin(), rl->sources.end(), source) == rl->sources.end()) {
      return;
    }
    detach(source, rl);
  }
  cancel(source, rl);
  CFRelease(source);
}

extern "C" void CFRunLoopSourceSignal(CFRunLoopSourceRef source) {
  std::lock_guard lock(state);
  if (source->valid) source->signalled = true;
}

extern "C" void CFRunLoopSourceInvalidate(CFRunLoopSourceRef source) {
  std::vector<CFRunLoopRef> loops;
  {
    std::lock_guard lock(state);
    source->valid = false;
    source->signalled = false;
    loops = source->loops;
    for (CFRunLoopRef loop : loops) detach(source, loop);
  }
  for (CFRunLoopRef loop : loops) {
    cancel(source, loop);
    CFRelease(source);
  }
}

// Only run loop sources are reference counted here; constant strings live for the whole run.
extern "C" void CFRelease(CFTypeRef cf) {
  auto* source = static_cast<__CFRunLoopSource*>(const_cast<void*>(cf));
  {
    std::lock_guard lock(state);
    if (!liveSources.contains(source) || !release(source)) return;
  }
  destroy(source);
}
