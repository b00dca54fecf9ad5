// The layer's parts that need no JACK server: its status codes, the rings' memory and the run
// loop. Packet lists are checked by the fuzz target in compat/coremidi/fuzz, whose seeds hold
// their boundary cases and run in every build.
#include <CoreFoundation/CoreFoundation.h>
#include <CoreMIDI/CoreMIDI.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "Ring.h"

// The relays log statuses as numbers, which mean something only as CoreMIDI's own: -10830 on,
// one apart, in CoreMIDI's order.
TEST(StatusTest, AreCoreMIDIsNumbers) {
  const OSStatus codes[] = {
      kMIDIInvalidClient,   kMIDIInvalidPort,     kMIDIWrongEndpointType, kMIDINoConnection,
      kMIDIUnknownEndpoint, kMIDIUnknownProperty, kMIDIWrongPropertyType, kMIDINoCurrentSetup,
      kMIDIMessageSendErr,  kMIDIServerStartErr,  kMIDISetupFormatErr,    kMIDIWrongThread,
      kMIDIObjectNotFound,  kMIDIIDNotUnique,     kMIDINotPermitted,      kMIDIUnknownError};
  for (int at = 0; at < 16; ++at) EXPECT_EQ(codes[at], -10830 - at) << at;
}

// The realtime side must take no page fault on a ring's first use: a ring is in memory, every
// page of it, once made.
TEST(RingTest, IsInMemoryOnceMade) {
  mallopt(M_MMAP_THRESHOLD, 64 * 1024);  // pages of its own, never memory in use already
  rusage before{}, after{};
  getrusage(RUSAGE_THREAD, &before);
  const coremidi::Ring ring(1024 * 1024);
  getrusage(RUSAGE_THREAD, &after);
  EXPECT_GE(after.ru_minflt - before.ru_minflt, 1024 * 1024 / sysconf(_SC_PAGESIZE));
}

// What the source of the run-loop case below reaches from its perform.
struct Ending {
  CFRunLoopRef loop = CFRunLoopGetCurrent();
  CFRunLoopSourceRef source = nullptr;
  std::thread reader;
  std::vector<std::thread::id> performers;
};

// Each case runs on a thread of its own, so that it starts with a loop without sources.
TEST(RunLoopTest, RunWithoutSourcesReturnsAtOnce) {
  std::thread([] { CFRunLoopRun(); }).join();
}

// The relays' way to end the main thread's run from their reader thread: a version-0 source,
// signalled before the run, starts a reader that signals it again. The stop before the run is
// lost, or nothing would be performed.
TEST(RunLoopTest, StopBeforeRunIsLostAndSignalsArePerformedOnTheLoopsThread) {
  std::thread([] {
    Ending ending;
    CFRunLoopSourceContext context{};
    context.info = &ending;
    context.perform = [](void* info) {
      auto& ending = *static_cast<Ending*>(info);
      ending.performers.push_back(std::this_thread::get_id());
      if (ending.performers.size() == 2) return CFRunLoopStop(ending.loop);
      ending.reader = std::thread([&ending] {
        CFRunLoopSourceSignal(ending.source);
        CFRunLoopWakeUp(ending.loop);
      });
    };
    ending.source = CFRunLoopSourceCreate(kCFAllocatorDefault, 0, &context);
    CFRunLoopAddSource(ending.loop, ending.source, kCFRunLoopDefaultMode);
    CFRunLoopSourceSignal(ending.source);
    CFRunLoopStop(ending.loop);
    CFRunLoopRun();
    if (ending.reader.joinable()) ending.reader.join();
    EXPECT_EQ(ending.performers, std::vector(2, std::this_thread::get_id()));
  }).join();
}
