#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <thread>

namespace {

// A version-0 source whose perform runs a test's function and counts its calls.
class TestSource {
 public:
  explicit TestSource(std::function<void()> action = {}) : action_(std::move(action)) {
    CFRunLoopSourceContext context{};
    context.info = this;
    context.retain = [](const void* info) {
      ++static_cast<TestSource*>(const_cast<void*>(info))->retained;
      return info;
    };
    context.release = [](const void* info) {
      ++static_cast<TestSource*>(const_cast<void*>(info))->released;
    };
    context.cancel = [](void* info, CFRunLoopRef, CFRunLoopMode) {
      ++static_cast<TestSource*>(info)->cancelled;
    };
    context.perform = [](void* info) {
      auto& self = *static_cast<TestSource*>(info);
      ++self.performed;
      self.performer = std::this_thread::get_id();
      if (self.action_) self.action_();
    };
    ref = CFRunLoopSourceCreate(kCFAllocatorDefault, 0, &context);
  }
  ~TestSource() {
    if (released == 0) {
      CFRunLoopSourceInvalidate(ref);
      CFRelease(ref);
    }
  }

  void signal(CFRunLoopRef loop) {
    CFRunLoopSourceSignal(ref);
    CFRunLoopWakeUp(loop);
  }

  CFRunLoopSourceRef ref;
  int retained = 0;
  int released = 0;
  int cancelled = 0;
  int performed = 0;
  std::thread::id performer;

 private:
  std::function<void()> action_;
};

// Adds the sources to this thread's loop, signals the first and runs the loop.
void run(std::initializer_list<TestSource*> sources) {
  const CFRunLoopRef loop = CFRunLoopGetCurrent();
  for (TestSource* source : sources) {
    CFRunLoopAddSource(loop, source->ref, kCFRunLoopDefaultMode);
  }
  (*sources.begin())->signal(loop);
  CFRunLoopRun();
}

TEST(RunLoopTest, EachThreadHasItsOwnLoop) {
  const CFRunLoopRef mine = CFRunLoopGetCurrent();
  EXPECT_EQ(mine, CFRunLoopGetCurrent());
  EXPECT_EQ(mine, CFRunLoopGetMain());
  CFRunLoopRef other = nullptr;
  std::thread([&] { other = CFRunLoopGetCurrent(); }).join();
  EXPECT_NE(other, mine);
}

TEST(RunLoopTest, SourceSignalledBeforeRunIsPerformedOnTheLoopsThreadAndCanEndTheRun) {
  TestSource source([loop = CFRunLoopGetCurrent()] { CFRunLoopStop(loop); });
  run({&source});
  EXPECT_EQ(source.performed, 1);
  EXPECT_EQ(source.performer, std::this_thread::get_id());
}

TEST(RunLoopTest, StopBeforeRunIsLost) {
  const CFRunLoopRef loop = CFRunLoopGetCurrent();
  // The second source is signalled while the first performs, so a stop still pending from
  // before the run would end the run before the second's turn.
  TestSource second([loop] { CFRunLoopStop(loop); });
  TestSource first([&] { second.signal(loop); });
  CFRunLoopStop(loop);
  run({&first, &second});
  EXPECT_EQ(first.performed, 1);
  EXPECT_EQ(second.performed, 1);
}

TEST(RunLoopTest, StopFromAnotherThreadEndsTheRun) {
  std::thread stopper;
  TestSource started([&, loop = CFRunLoopGetCurrent()] {
    stopper = std::thread([loop] { CFRunLoopStop(loop); });
  });
  run({&started});
  stopper.join();
  EXPECT_EQ(started.performed, 1);
}

TEST(RunLoopTest, SignalAndWakeUpFromAnotherThreadEndRunningLoop) {
  const CFRunLoopRef loop = CFRunLoopGetCurrent();
  TestSource ending([loop] { CFRunLoopStop(loop); });
  std::thread reader;
  TestSource started([&] { reader = std::thread([&] { ending.signal(loop); }); });
  run({&started, &ending});
  reader.join();
  EXPECT_EQ(ending.performed, 1);
  EXPECT_EQ(ending.performer, std::this_thread::get_id());
}

TEST(RunLoopTest, LoopHoldsItsSourcesUntilRemoved) {
  const CFRunLoopRef loop = CFRunLoopGetCurrent();
  TestSource source;
  EXPECT_EQ(source.retained, 1);
  CFRunLoopAddSource(loop, source.ref, kCFRunLoopDefaultMode);
  CFRelease(source.ref);
  EXPECT_EQ(source.released, 0);
  CFRunLoopRemoveSource(loop, source.ref, kCFRunLoopDefaultMode);
  EXPECT_EQ(source.cancelled, 1);
  EXPECT_EQ(source.released, 1);
  CFRunLoopRun();  // no sources left: returns at once instead of waiting for ever
}

TEST(RunLoopTest, InvalidatedSourceIsNeitherPerformedNorKeepsTheLoopRunning) {
  const CFRunLoopRef loop = CFRunLoopGetCurrent();
  TestSource source;
  CFRunLoopAddSource(loop, source.ref, kCFRunLoopDefaultMode);
  CFRunLoopSourceSignal(source.ref);
  CFRunLoopSourceInvalidate(source.ref);
  source.signal(loop);
  CFRunLoopRun();
  EXPECT_EQ(source.performed, 0);
  EXPECT_EQ(source.cancelled, 1);
}

}  // namespace
