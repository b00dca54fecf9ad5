#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>

#include <functional>
#include <future>
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

  CFRunLoopSourceRef ref;
  int retained = 0;
  int released = 0;
  int cancelled = 0;
  int performed = 0;
  std::thread::id performer;

 private:
  std::function<void()> action_;
};

TEST(RunLoopTest, EachThreadHasItsOwnLoop) {
  const CFRunLoopRef mine = CFRunLoopGetCurrent();
  EXPECT_EQ(mine, CFRunLoopGetCurrent());
  EXPECT_EQ(mine, CFRunLoopGetMain());
  CFRunLoopRef others[2];
  std::thread([&] { others[0] = CFRunLoopGetCurrent(); }).join();
  std::thread([&] { others[1] = CFRunLoopGetCurrent(); }).join();
  EXPECT_NE(others[0], mine);
  EXPECT_NE(others[1], mine);
  EXPECT_NE(others[0], others[1]);
}

TEST(RunLoopTest, RunReturnsAtOnceWithoutSources) {
  CFRunLoopRun();  // would never return if it waited
  SUCCEED();
}

TEST(RunLoopTest, SourceSignalledBeforeRunIsPerformedOnTheLoopsThreadAndCanEndTheRun) {
  const CFRunLoopRef loop = CFRunLoopGetCurrent();
  TestSource source([loop] { CFRunLoopStop(loop); });
  CFRunLoopAddSource(loop, source.ref, kCFRunLoopDefaultMode);
  CFRunLoopSourceSignal(source.ref);
  CFRunLoopWakeUp(loop);
  CFRunLoopRun();
  EXPECT_EQ(source.performed, 1);
  EXPECT_EQ(source.performer, std::this_thread::get_id());
}

TEST(RunLoopTest, StopBeforeRunIsLost) {
  const CFRunLoopRef loop = CFRunLoopGetCurrent();
  // The second source is signalled while the first performs, so a stop still pending from
  // before the run would end the run before the second's turn.
  TestSource second([loop] { CFRunLoopStop(loop); });
  TestSource first([&] {
    CFRunLoopSourceSignal(second.ref);
    CFRunLoopWakeUp(loop);
  });
  CFRunLoopAddSource(loop, first.ref, kCFRunLoopDefaultMode);
  CFRunLoopAddSource(loop, second.ref, kCFRunLoopDefaultMode);
  CFRunLoopStop(loop);
  CFRunLoopSourceSignal(first.ref);
  CFRunLoopWakeUp(loop);
  CFRunLoopRun();
  EXPECT_EQ(first.performed, 1);
  EXPECT_EQ(second.performed, 1);
}

TEST(RunLoopTest, StopFromAnotherThreadEndsTheRun) {
  const CFRunLoopRef loop = CFRunLoopGetCurrent();
  std::thread stopper;
  TestSource started([&] { stopper = std::thread([loop] { CFRunLoopStop(loop); }); });
  CFRunLoopAddSource(loop, started.ref, kCFRunLoopDefaultMode);
  CFRunLoopSourceSignal(started.ref);
  CFRunLoopWakeUp(loop);
  CFRunLoopRun();
  stopper.join();
  EXPECT_EQ(started.performed, 1);
}

TEST(RunLoopTest, SignalAndWakeUpFromAnotherThreadEndRunningLoop) {
  const CFRunLoopRef loop = CFRunLoopGetCurrent();
  TestSource ending([loop] { CFRunLoopStop(loop); });
  std::thread reader;
  TestSource started([&] {
    reader = std::thread([&] {
      CFRunLoopSourceSignal(ending.ref);
      CFRunLoopWakeUp(loop);
    });
  });
  CFRunLoopAddSource(loop, ending.ref, kCFRunLoopDefaultMode);
  CFRunLoopAddSource(loop, started.ref, kCFRunLoopDefaultMode);
  CFRunLoopSourceSignal(started.ref);
  CFRunLoopWakeUp(loop);
  CFRunLoopRun();
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
  CFRunLoopRun();  // no sources left: returns at once
}

TEST(RunLoopTest, InvalidatedSourceIsNeitherPerformedNorKeepsTheLoopRunning) {
  const CFRunLoopRef loop = CFRunLoopGetCurrent();
  TestSource source;
  CFRunLoopAddSource(loop, source.ref, kCFRunLoopDefaultMode);
  CFRunLoopSourceSignal(source.ref);
  CFRunLoopSourceInvalidate(source.ref);
  CFRunLoopSourceSignal(source.ref);
  CFRunLoopWakeUp(loop);
  CFRunLoopRun();
  EXPECT_EQ(source.performed, 0);
  EXPECT_EQ(source.cancelled, 1);
}

}  // namespace
