#include <CoreMIDI/CoreMIDI.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

namespace {

// A packet list buffer of `bytes`, aligned like the relays' own.
struct ListBuffer {
  explicit ListBuffer(std::size_t bytes) : storage(bytes / 8 + 1), size(bytes) {}
  MIDIPacketList* list() { return reinterpret_cast<MIDIPacketList*>(storage.data()); }
  std::ptrdiff_t offsetOf(const void* at) {
    return static_cast<const Byte*>(at) - reinterpret_cast<const Byte*>(storage.data());
  }
  std::vector<std::uint64_t> storage;
  std::size_t size;
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

  const Byte note[] = {0x90, 0x3C, 0x40};
  const Byte hui[] = {0xB0, 0x0F, 0x00, 0xB0, 0x2F, 0x46};
  const Byte one[] = {0xF8};
  MIDIPacket* added = MIDIPacketListAdd(buffer.list(), buffer.size, first, 11, 3, note);
  ASSERT_EQ(added, first);
  MIDIPacket* second = MIDIPacketListAdd(buffer.list(), buffer.size, added, 22, 6, hui);
  MIDIPacket* third = MIDIPacketListAdd(buffer.list(), buffer.size, second, 33, 1, one);

  // 4 + 10 + 3 = 17, rounded up to 20; 20 + 10 + 6 = 36, already on a boundary.
  EXPECT_EQ(buffer.offsetOf(second), 20);
  EXPECT_EQ(buffer.offsetOf(third), 36);
  EXPECT_EQ(MIDIPacketNext(first), second);
  EXPECT_EQ(MIDIPacketNext(second), third);
  EXPECT_EQ(buffer.offsetOf(second->data), 30);
  EXPECT_EQ(buffer.list()->numPackets, 3u);
  EXPECT_EQ(bytesOf(first), std::vector<Byte>(note, note + 3));
  EXPECT_EQ(bytesOf(second), std::vector<Byte>(hui, hui + 6));
  EXPECT_EQ(bytesOf(third), std::vector<Byte>(one, one + 1));
  EXPECT_EQ(first->timeStamp, 11u);
  EXPECT_EQ(second->timeStamp, 22u);
  EXPECT_EQ(third->timeStamp, 33u);
}

TEST(PacketListTest, AddReturnsNullWhenTheListHasNoRoom) {
  const Byte note[] = {0x90, 0x3C, 0x40};
  ListBuffer buffer(64);
  MIDIPacket* packet = MIDIPacketListInit(buffer.list());
  // A list of exactly 17 bytes holds one 3-byte packet and nothing more.
  packet = MIDIPacketListAdd(buffer.list(), 17, packet, 0, 3, note);
  ASSERT_NE(packet, nullptr);
  EXPECT_EQ(MIDIPacketListAdd(buffer.list(), 17, packet, 0, 1, note), nullptr);
  EXPECT_EQ(buffer.list()->numPackets, 1u);

  packet = MIDIPacketListInit(buffer.list());
  EXPECT_EQ(MIDIPacketListAdd(buffer.list(), 16, packet, 0, 3, note), nullptr);
  EXPECT_EQ(buffer.list()->numPackets, 0u);
}

TEST(PacketListTest, LongSysExFitsTheRelaysListAndRunsPastTheDeclaredArray) {
  std::vector<Byte> sysEx(2048);
  std::iota(sysEx.begin(), sysEx.end(), 0);
  ListBuffer buffer(4096);
  MIDIPacket* packet = MIDIPacketListInit(buffer.list());
  packet = MIDIPacketListAdd(buffer.list(), 4096, packet, 0, sysEx.size(), sysEx.data());
  ASSERT_NE(packet, nullptr);
  EXPECT_EQ(bytesOf(packet), sysEx);
  EXPECT_EQ(buffer.offsetOf(MIDIPacketNext(packet)), 4 + 10 + 2048 + 2);

  EXPECT_EQ(MIDIPacketListAdd(buffer.list(), 4096, packet, 0, 2048, sysEx.data()), nullptr);
}

TEST(PacketListTest, PacketsLongerThanALengthCanSayAreRefused) {
  std::vector<Byte> data(65536);
  ListBuffer buffer(70000);
  MIDIPacket* packet = MIDIPacketListInit(buffer.list());
  EXPECT_EQ(MIDIPacketListAdd(buffer.list(), buffer.size, packet, 0, 65536, data.data()), nullptr);
  EXPECT_NE(MIDIPacketListAdd(buffer.list(), buffer.size, packet, 0, 65535, data.data()), nullptr);
}

}  // namespace
