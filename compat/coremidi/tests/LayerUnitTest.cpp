// The layer's parts that need no JACK server: packet lists and the run loop.
#include <CoreFoundation/CoreFoundation.h>
#include <CoreMIDI/CoreMIDI.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

namespace {

std::vector<Byte> bytesOf(const MIDIPacket* packet) {
  return {packet->data, packet->data + packet->length};
}

TEST(PacketListTest, PacketsFollowTheArm64Layout) {
  alignas(MIDIPacketList) Byte start[256];
  auto* list = reinterpret_cast<MIDIPacketList*>(start);
  const std::vector<Byte> hui = {0xB0, 0x0F, 0x00, 0xB0, 0x2F, 0x46};
  MIDIPacket* first = MIDIPacketListInit(list);
  ASSERT_EQ(MIDIPacketListAdd(list, 256, first, 11, 3, hui.data()), first);
  MIDIPacket* second = MIDIPacketListAdd(list, 256, first, 22, 6, hui.data());
  MIDIPacket* third = MIDIPacketListAdd(list, 256, second, 33, 1, hui.data());
  // 4 + 10 + 3 = 17, rounded up to 20; 20 + 10 + 6 = 36, already on a boundary.
  EXPECT_EQ(reinterpret_cast<Byte*>(first) - start, 4);
  EXPECT_EQ(reinterpret_cast<Byte*>(second) - start, 20);
  EXPECT_EQ(reinterpret_cast<Byte*>(third) - start, 36);
  EXPECT_EQ(bytesOf(second), hui);
  EXPECT_EQ(second->timeStamp, 22u);
}

TEST(PacketListTest, AddReturnsNullForThePacketThatDoesNotFit) {
  const struct {
    std::size_t listBytes;
    std::vector<std::size_t> lengths;  // of the packets added one after the other
    UInt32 fitting;                    // how many of them fit
  } cases[] = {
      {17, {3, 1}, 1},                               // 4 + 10 + 3: exactly one 3-byte packet
      {16, {3}, 0},        {4096, {2048, 2048}, 1},  // the relays' list holds one long SysEx
      {70000, {65535}, 1}, {70000, {65536}, 0},      // longer than a packet's length can say
  };
  const std::vector<Byte> data(65536, 0x42);
  std::vector<std::uint64_t> storage(70000 / 8);  // aligned like the relays' lists
  auto* list = reinterpret_cast<MIDIPacketList*>(storage.data());
  for (const auto& [listBytes, lengths, fitting] : cases) {
    MIDIPacket* packet = MIDIPacketListInit(list);
    for (std::size_t index = 0; index < lengths.size(); ++index) {
      packet = MIDIPacketListAdd(list, listBytes, packet, 0, lengths[index], data.data());
      ASSERT_EQ(packet == nullptr, index == fitting) << listBytes << " " << index;
      if (packet != nullptr) {
        EXPECT_EQ(bytesOf(packet), std::vector<Byte>(lengths[index], 0x42));
      }
    }
    EXPECT_EQ(list->numPackets, fitting) << listBytes;
  }
}

// A version-0 source on the calling thread's loop whose perform runs `action`.
struct Source {
  explicit Source(std::function<void()> action) : action(std::move(action)) {
    CFRunLoopSourceContext context{};
    context.info = this;
    context.perform = [](void* info) { static_cast<Source*>(info)->action(); };
    ref = CFRunLoopSourceCreate(kCFAllocatorDefault, 0, &context);
    CFRunLoopAddSource(CFRunLoopGetCurrent(), ref, kCFRunLoopDefaultMode);
  }
  std::function<void()> action;
  CFRunLoopSourceRef ref;
};

// Each case runs on a thread of its own, so that it starts with a loop without sources.
TEST(RunLoopTest, RunWithoutSourcesReturnsAtOnce) {
  std::thread([] { CFRunLoopRun(); }).join();
}

// The relays' way to end the main thread's run from their reader thread.
TEST(RunLoopTest, StopBeforeRunIsLostAndSignalsArePerformedOnTheLoopsThread) {
  std::thread::id loopThread, performer;
  std::thread reader;
  std::thread([&] {
    const CFRunLoopRef loop = CFRunLoopGetCurrent();
    loopThread = std::this_thread::get_id();
    Source ending([&] {
      performer = std::this_thread::get_id();
      CFRunLoopStop(loop);
    });
    // Signalled before the run and after a stop that the loop must not keep.
    Source started([&] {
      reader = std::thread([&] {
        CFRunLoopSourceSignal(ending.ref);
        CFRunLoopWakeUp(loop);
      });
    });
    CFRunLoopSourceSignal(started.ref);
    CFRunLoopStop(loop);
    CFRunLoopRun();
    if (reader.joinable()) reader.join();
  }).join();
  EXPECT_EQ(performer, loopThread);
}

}  // namespace
