// The layer's parts that need no JACK server: packet lists and the run loop.
#include <CoreFoundation/CoreFoundation.h>
#include <CoreMIDI/CoreMIDI.h>
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <thread>
#include <vector>

#include "Period.h"

// A list starts with its 4-byte count; each packet is an 8-byte time stamp, a 2-byte length and
// the data, and the next one starts on a 4-byte boundary. A packet that does not fit is null.
TEST(PacketListTest, PacketsFollowTheArm64LayoutAndAddReturnsNullWhenFull) {
  const struct {
    std::size_t listBytes;
    std::vector<std::size_t> lengths;     // of the packets added one after the other
    std::vector<std::ptrdiff_t> offsets;  // where those that fit start
  } cases[] = {
      // 4 + 10 + 3 = 17, rounded up to 20; 20 + 10 + 6 = 36; 17 bytes hold one 3-byte packet;
      // the relays' 4096-byte list one long SysEx; 65536 bytes are more than a length can say.
      {256, {3, 6, 1}, {4, 20, 36}}, {17, {3, 1}, {4}},     {16, {3}, {}},
      {4096, {2048, 2048}, {4}},     {70000, {65535}, {4}}, {70000, {65536}, {}},
  };
  std::vector<Byte> data(65540);
  std::iota(data.begin(), data.end(), Byte{0});
  alignas(8) Byte storage[70000];  // aligned like the relays' lists
  auto* list = reinterpret_cast<MIDIPacketList*>(storage);
  for (const auto& [listBytes, lengths, offsets] : cases) {
    MIDIPacket* packet = MIDIPacketListInit(list);
    for (std::size_t index = 0; index < lengths.size(); ++index) {
      packet = MIDIPacketListAdd(list, listBytes, packet, index + 1, lengths[index], &data[index]);
      ASSERT_EQ(packet == nullptr, index == offsets.size()) << listBytes << " " << index;
      if (packet == nullptr) break;
      EXPECT_EQ(reinterpret_cast<Byte*>(packet) - reinterpret_cast<Byte*>(list), offsets[index]);
      const Byte* bytes = packet->data;
      EXPECT_EQ(std::vector(bytes, bytes + packet->length),
                std::vector(&data[index], &data[index + lengths[index]]));
      // A copy: EXPECT_EQ binds a reference, and the packed field may be misaligned.
      EXPECT_EQ(MIDITimeStamp{packet->timeStamp}, index + 1);
    }
    EXPECT_EQ(list->numPackets, offsets.size()) << listBytes;
  }
}

// One period's events at a destination become one packet each; an event longer than a packet's
// length can say is left out, and the next packet follows the last one added.
TEST(PacketListTest, APeriodsEventsBecomePacketsAndThoseTooLongAreLeftOut) {
  std::vector<std::uint8_t> record(sizeof(coremidi::PeriodHeader));
  for (const std::uint32_t length : {3u, 65536u, 2u}) {
    const coremidi::EventHeader header{length, length, 0};
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&header);
    record.insert(record.end(), bytes, bytes + sizeof header);
    record.resize(record.size() + length, static_cast<std::uint8_t>(length));
  }
  const coremidi::PeriodHeader period{static_cast<std::uint32_t>(record.size()), 3};
  std::memcpy(record.data(), &period, sizeof period);
  std::vector<std::uint64_t> storage;
  const MIDIPacketList* list = coremidi::packetListOf(record.data(), storage);
  ASSERT_EQ(list->numPackets, 2u);
  const MIDIPacket* first = &list->packet[0];
  const MIDIPacket* second = MIDIPacketNext(first);
  EXPECT_EQ(std::vector(first->data, first->data + first->length), std::vector<Byte>(3, 3));
  EXPECT_EQ(std::vector(second->data, second->data + second->length), std::vector<Byte>(2, 2));
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
