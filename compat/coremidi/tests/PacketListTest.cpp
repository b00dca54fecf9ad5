#include <CoreMIDI/CoreMIDI.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// A packet list buffer of `bytes`, aligned like the relays' own.
struct ListBuffer {
  explicit ListBuffer(std::size_t bytes) : storage(bytes / 8 + 1) {}
  MIDIPacketList* list() { return reinterpret_cast<MIDIPacketList*>(storage.data()); }
  std::ptrdiff_t offsetOf(const void* at) {
    return static_cast<const Byte*>(at) - reinterpret_cast<const Byte*>(storage.data());
  }
  std::vector<std::uint64_t> storage;
};

std::vector<Byte> bytesOf(const MIDIPacket* packet) {
  const Byte* data = packet->data;
  return {data, data + packet->length};
}

TEST(PacketListTest, PacketsFollowTheArm64Layout) {
  ListBuffer buffer(256);
  MIDIPacket* first = MIDIPacketListInit(buffer.list());
  EXPECT_EQ(buffer.list()->numPackets, 0u);
  EXPECT_EQ(buffer.offsetOf(first), 4);

  const std::vector<Byte> note = {0x90, 0x3C, 0x40};
  const std::vector<Byte> hui = {0xB0, 0x0F, 0x00, 0xB0, 0x2F, 0x46};
  ASSERT_EQ(MIDIPacketListAdd(buffer.list(), 256, first, 11, 3, note.data()), first);
  MIDIPacket* second = MIDIPacketListAdd(buffer.list(), 256, first, 22, 6, hui.data());
  MIDIPacket* third = MIDIPacketListAdd(buffer.list(), 256, second, 33, 1, note.data());

  // 4 + 10 + 3 = 17, rounded up to 20; 20 + 10 + 6 = 36, already on a boundary.
  EXPECT_EQ(buffer.offsetOf(second), 20);
  EXPECT_EQ(buffer.offsetOf(second->data), 30);
  EXPECT_EQ(buffer.offsetOf(third), 36);
  EXPECT_EQ(MIDIPacketNext(first), second);
  EXPECT_EQ(MIDIPacketNext(second), third);
  EXPECT_EQ(buffer.list()->numPackets, 3u);
  EXPECT_EQ(bytesOf(first), note);
  EXPECT_EQ(bytesOf(second), hui);
  EXPECT_EQ(bytesOf(third), std::vector<Byte>{0x90});
  EXPECT_EQ(second->timeStamp, 22u);
}

struct Fill {
  std::size_t listBytes;
  std::vector<std::size_t> lengths;  // of the packets added one after the other
  UInt32 fitting;                    // how many of them fit
};

TEST(PacketListTest, AddReturnsNullForThePacketThatDoesNotFit) {
  const std::vector<Fill> cases = {
      {17, {3, 1}, 1},                               // 4 + 10 + 3: exactly one 3-byte packet
      {16, {3}, 0},        {4096, {2048, 2048}, 1},  // the relays' list holds one long SysEx
      {70000, {65535}, 1}, {70000, {65536}, 0},      // longer than a packet's length can say
  };
  const std::vector<Byte> data(65536, 0x42);
  for (const auto& [listBytes, lengths, fitting] : cases) {
    SCOPED_TRACE(listBytes);
    ListBuffer buffer(listBytes);
    MIDIPacket* packet = MIDIPacketListInit(buffer.list());
    for (std::size_t index = 0; index < lengths.size(); ++index) {
      packet = MIDIPacketListAdd(buffer.list(), listBytes, packet, 0, lengths[index], data.data());
      ASSERT_EQ(packet == nullptr, index == fitting) << index;
      if (packet != nullptr) {
        EXPECT_EQ(bytesOf(packet), std::vector<Byte>(lengths[index], 0x42));
      }
    }
    EXPECT_EQ(buffer.list()->numPackets, fitting);
  }
}

}  // namespace
