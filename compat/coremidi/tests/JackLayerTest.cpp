// The layer in this process against the JACK server the environment names (test_layer.py
// starts a private one and looks at the graph once this program has ended).
#include <CoreMIDI/CoreMIDI.h>
#include <gtest/gtest.h>
#include <jack/jack.h>

#include <condition_variable>
#include <mutex>
#include <vector>

using Packet = std::vector<Byte>;

// Sends the packets from a source as one packet list of up to 64 KiB.
static OSStatus send(MIDIEndpointRef source, const std::vector<Packet>& packets) {
  alignas(8) Byte storage[65536];
  auto* list = reinterpret_cast<MIDIPacketList*>(storage);
  MIDIPacket* at = MIDIPacketListInit(list);
  for (const auto& packet : packets) {
    at = MIDIPacketListAdd(list, 65536, at, 0, packet.size(), packet.data());
  }
  return MIDIReceived(source, list);
}

// A SysEx message of `length` bytes whose body encodes `seed`.
static Packet sysEx(std::size_t length, unsigned seed) {
  Packet message(length, 0xF0);
  for (std::size_t at = 1; at < length; ++at) message[at] = (seed * 31 + at * 7) & 0x7F;
  message.back() = 0xF7;
  return message;
}

// A client whose source is connected to its own destination, which keeps every packet.
class LayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(MIDIClientCreate(CFSTR("layer"), nullptr, nullptr, &client), noErr);
    ASSERT_EQ(MIDISourceCreate(client, CFSTR("Out"), &source), noErr);
    ASSERT_EQ(MIDIDestinationCreate(client, CFSTR("In"), read, this, &sink), noErr);
    jack_client_t* patchBay = jack_client_open("patch bay", JackNoStartServer, nullptr);
    ASSERT_EQ(jack_connect(patchBay, "layer:source", "layer:destination"), 0);
    jack_client_close(patchBay);
  }
  void TearDown() override { MIDIClientDispose(client); }

  static void read(const MIDIPacketList* list, void* self, void*) {
    auto& test = *static_cast<LayerTest*>(self);
    std::lock_guard lock(test.mutex);
    const MIDIPacket* packet = &list->packet[0];
    for (UInt32 index = 0; index < list->numPackets; ++index, packet = MIDIPacketNext(packet)) {
      const Byte* bytes = packet->data;
      test.packets.emplace_back(bytes, bytes + packet->length);
    }
    test.arrived.notify_all();
  }
  // The packets from the `from`th on, once there are `count` of them or after 20 s.
  std::vector<Packet> await(std::size_t from, std::size_t count) {
    std::unique_lock lock(mutex);
    arrived.wait_for(lock, std::chrono::seconds(20),
                     [&] { return packets.size() >= from + count; });
    return {packets.begin() + std::min(from, packets.size()), packets.end()};
  }

  MIDIClientRef client = 0;
  MIDIEndpointRef source = 0, sink = 0;
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<Packet> packets;
};

TEST_F(LayerTest, PacketsArriveIntactAloneInListsAndInBursts) {
  const std::vector<Packet> sent = {
      {0x90, 0x3C, 0x40},
      {0xB0, 0x0F, 0x00, 0xB0, 0x2F, 0x46},  // a HUI switch press: two messages, one packet
      sysEx(2048, 1),
      sysEx(8192, 2),
  };
  for (const auto& packet : sent) ASSERT_EQ(send(source, {packet}), noErr);
  ASSERT_EQ(await(0, 4), sent);
  ASSERT_EQ(send(source, sent), noErr);
  ASSERT_EQ(await(4, 4), sent);

  // About 20 periods' worth of port buffers and more than the source's queue holds, so sending
  // waits too; disposing the source first sends what it still holds.
  std::vector<Packet> burst;
  for (unsigned index = 0; index < 300; ++index) burst.push_back(sysEx(2048, index));
  for (const auto& packet : burst) ASSERT_EQ(send(source, {packet}), noErr);
  ASSERT_EQ(MIDIEndpointDispose(source), noErr);
  EXPECT_EQ(await(8, burst.size()), burst);
}

TEST_F(LayerTest, WrongCallsAreStatusCodes) {
  ASSERT_EQ(send(source, {{0xF8}}), noErr);
  await(0, 1);  // from now on the size of a port buffer is known
  const MIDIObjectRef none = 0x7FFFFFFF;
  const SInt32 id = 0x51554131;
  MIDIEndpointRef made = 0;
  EXPECT_EQ(send(sink, {{0xF8}}), kMIDIWrongEndpointType);
  EXPECT_EQ(send(none, {{0xF8}}), kMIDIObjectNotFound);
  EXPECT_EQ(send(source, {sysEx(40000, 0)}), kMIDIMessageSendErr);  // more than a buffer holds
  EXPECT_EQ(send(source, {{0xFA}}), noErr);
  EXPECT_EQ(await(0, 2), (std::vector<Packet>{{0xF8}, {0xFA}}));
  EXPECT_EQ(MIDISourceCreate(none, CFSTR("x"), &made), kMIDIInvalidClient);
  EXPECT_EQ(MIDISourceCreate(source, CFSTR("x"), &made), kMIDIInvalidClient);
  EXPECT_EQ(MIDIClientDispose(source), kMIDIInvalidClient);
  EXPECT_EQ(MIDIObjectSetIntegerProperty(client, kMIDIPropertyUniqueID, id), kMIDIUnknownProperty);
  EXPECT_EQ(MIDIObjectSetStringProperty(client, kMIDIPropertyManufacturer, CFSTR("Q")),
            kMIDIUnknownProperty);
  EXPECT_EQ(MIDIObjectSetIntegerProperty(none, kMIDIPropertyUniqueID, id), kMIDIObjectNotFound);
  // A unique ID is the endpoint's own until the endpoint goes.
  EXPECT_EQ(MIDIObjectSetIntegerProperty(source, kMIDIPropertyUniqueID, id), noErr);
  EXPECT_EQ(MIDIObjectSetIntegerProperty(sink, kMIDIPropertyUniqueID, id), kMIDIIDNotUnique);
  EXPECT_EQ(MIDIObjectSetIntegerProperty(source, kMIDIPropertyUniqueID, id), noErr);
  EXPECT_EQ(MIDIEndpointDispose(source), noErr);
  EXPECT_EQ(MIDIObjectSetIntegerProperty(sink, kMIDIPropertyUniqueID, id), noErr);
  EXPECT_EQ(MIDIEndpointDispose(source), kMIDIObjectNotFound);
  EXPECT_EQ(send(source, {{0xF8}}), kMIDIObjectNotFound);
}

// libjack's notification thread walks a client's ports without a lock: a port unregistered
// while its client served crashed the process about once in a few hundred quick stops.
TEST(ChurnTest, QuickStartsAndStopsCrashNothing) {
  for (int round = 0; round < 100; ++round) {
    MIDIObjectRef client = 0, source = 0, sink = 0;
    MIDIClientCreate(CFSTR("Layer Churn"), nullptr, nullptr, &client);
    MIDISourceCreate(client, CFSTR("Out"), &source);
    MIDIDestinationCreate(
        client, CFSTR("In"), [](auto...) {}, nullptr, &sink);
    for (MIDIObjectRef made : {source, sink}) ASSERT_EQ(MIDIEndpointDispose(made), noErr);
    ASSERT_EQ(MIDIClientDispose(client), noErr);
  }
}

// Left open on purpose: the layer closes it when the process ends.
TEST(ExitTest, ClientLeftOpen) {
  MIDIObjectRef client = 0, source = 0;
  ASSERT_EQ(MIDIClientCreate(CFSTR("Layer Exit"), nullptr, nullptr, &client), noErr);
  ASSERT_EQ(MIDISourceCreate(client, CFSTR("Layer Exit"), &source), noErr);
}
