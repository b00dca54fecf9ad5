// The layer in this process against a private JACK server, inspected and patched by a plain
// JACK client as any other application sees the graph.
#include <CoreMIDI/CoreMIDI.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/metadata.h>
#include <mach/mach_time.h>
#include <stdlib.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include "ChildProcess.h"
#include "JackServer.h"
#include "Metadata.h"

namespace coremidi::testing {
namespace {

using namespace std::chrono_literals;
using Packet = std::vector<Byte>;

// Points this process's JACK clients at the server that `environment` names.
void useServer(const std::vector<std::string>& environment) {
  for (const auto& entry : environment) {
    const auto equals = entry.find('=');
    setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
  }
}

// Points this process's JACK clients at the server that `environment` names, and joins it.
class PatchBay {
 public:
  explicit PatchBay(const std::vector<std::string>& environment)
      : client_(
            (useServer(environment), jack_client_open("patchbay", JackNoStartServer, nullptr))) {
    if (client_ == nullptr) throw std::runtime_error("patch bay cannot reach the JACK server");
  }
  ~PatchBay() { jack_client_close(client_); }
  PatchBay(const PatchBay&) = delete;
  PatchBay& operator=(const PatchBay&) = delete;

  jack_client_t* client() const { return client_; }

  // Full names of the MIDI ports whose alias is `alias`, outputs or inputs.
  std::vector<std::string> portsWithAlias(const std::string& alias, bool outputs) const {
    std::vector<std::string> found;
    const char** names = jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE,
                                        outputs ? JackPortIsOutput : JackPortIsInput);
    for (const char** at = names; at != nullptr && *at != nullptr; ++at) {
      std::vector<char> first(jack_port_name_size()), second(jack_port_name_size());
      char* aliases[2] = {first.data(), second.data()};
      const int count = jack_port_get_aliases(jack_port_by_name(client_, *at), aliases);
      for (int index = 0; index < count; ++index) {
        if (alias == aliases[index]) found.emplace_back(*at);
      }
    }
    jack_free(names);
    return found;
  }

  std::string onlyPortWithAlias(const std::string& alias, bool outputs) const {
    const auto found = portsWithAlias(alias, outputs);
    if (found.size() != 1) throw std::runtime_error("not exactly one port named " + alias);
    return found.front();
  }

  jack_uuid_t uuid(const std::string& port) const {
    jack_port_t* handle = jack_port_by_name(client_, port.c_str());
    return handle == nullptr ? 0 : jack_port_uuid(handle);
  }

  std::optional<std::string> property(jack_uuid_t subject, const char* key) const {
    char* value = nullptr;
    char* type = nullptr;
    if (subject == 0 || jack_get_property(subject, key, &value, &type) != 0) return std::nullopt;
    std::string text = value;
    jack_free(value);
    jack_free(type);
    return text;
  }
  std::optional<std::string> property(const std::string& port, const char* key) const {
    return property(uuid(port), key);
  }

  bool exists(const std::string& port) const {
    return jack_port_by_name(client_, port.c_str()) != nullptr;
  }
  bool connect(const std::string& from, const std::string& to) {
    return jack_connect(client_, from.c_str(), to.c_str()) == 0;
  }

 private:
  jack_client_t* client_;
};

// A destination's read procedure that keeps every packet list and the packets' time stamps.
class Receiver {
 public:
  static void read(const MIDIPacketList* list, void* self, void*) {
    auto& receiver = *static_cast<Receiver*>(self);
    std::lock_guard lock(receiver.mutex_);
    auto& packets = receiver.lists_.emplace_back();
    const MIDIPacket* packet = &list->packet[0];
    for (UInt32 index = 0; index < list->numPackets; ++index) {
      const Byte* data = packet->data;
      packets.emplace_back(data, data + packet->length);
      receiver.timeStamps_.push_back(packet->timeStamp);
      packet = MIDIPacketNext(packet);
    }
    receiver.arrived_.notify_all();
  }

  bool waitForPackets(std::size_t count) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, 20s, [&] { return timeStamps_.size() >= count; });
  }
  std::vector<std::vector<Packet>> lists() const {
    std::lock_guard lock(mutex_);
    return lists_;
  }
  std::vector<Packet> packets() const {
    std::vector<Packet> all;
    for (const auto& list : lists()) all.insert(all.end(), list.begin(), list.end());
    return all;
  }
  std::vector<MIDITimeStamp> timeStamps() const {
    std::lock_guard lock(mutex_);
    return timeStamps_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<std::vector<Packet>> lists_;
  std::vector<MIDITimeStamp> timeStamps_;
};

// Sends the packets from a source as one packet list.
OSStatus send(MIDIEndpointRef source, const std::vector<Packet>& packets) {
  std::size_t bytes = sizeof(MIDIPacketList);
  for (const auto& packet : packets) bytes += sizeof(MIDIPacket) + packet.size();
  std::vector<std::uint64_t> storage(bytes / 8 + 1);
  auto* list = reinterpret_cast<MIDIPacketList*>(storage.data());
  MIDIPacket* at = MIDIPacketListInit(list);
  for (const auto& packet : packets) {
    at = MIDIPacketListAdd(list, bytes, at, 0, packet.size(), packet.data());
    if (at == nullptr) throw std::logic_error("packet list too small");
  }
  return MIDIReceived(source, list);
}

// A SysEx message of `length` bytes whose body encodes `seed`.
Packet sysEx(std::size_t length, unsigned seed) {
  Packet message(length);
  message.front() = 0xF0;
  for (std::size_t index = 1; index + 1 < length; ++index) {
    message[index] = static_cast<Byte>((seed * 31 + index * 7) & 0x7F);
  }
  message.back() = 0xF7;
  return message;
}

CFStringRef text(const std::string& string) {
  return reinterpret_cast<CFStringRef>(string.c_str());
}

class LayerTest : public ::testing::Test {
 protected:
  // A client with a source and another client with a destination, connected.
  void SetUp() override {
    ASSERT_EQ(MIDIClientCreate(text(senderName), nullptr, nullptr, &sender), noErr);
    ASSERT_EQ(MIDIClientCreate(text(receiverName), nullptr, nullptr, &receiving), noErr);
    ASSERT_EQ(MIDISourceCreate(sender, CFSTR("Layer Test Out"), &source), noErr);
    ASSERT_EQ(MIDIDestinationCreate(receiving, CFSTR("Layer Test In"), Receiver::read, &receiver,
                                    &destination),
              noErr);
    ASSERT_TRUE(bay.connect(senderName + ":source", receiverName + ":destination"));
  }
  void TearDown() override {
    if (receiving != 0) MIDIClientDispose(receiving);
    if (sender != 0) MIDIClientDispose(sender);
  }

  quav::testing::JackServer server;
  PatchBay bay{server.environment()};
  const std::string senderName = quav::testing::uniqueName("layer");
  const std::string receiverName = quav::testing::uniqueName("layer");
  MIDIClientRef sender = 0;
  MIDIClientRef receiving = 0;
  MIDIEndpointRef source = 0;
  MIDIEndpointRef destination = 0;
  Receiver receiver;
};

TEST(LayerWithoutServerTest, ClientCreateFailsWithServerStartErrAndWritesNothing) {
  useServer(quav::testing::JackServer::environmentWithoutServer());
  MIDIClientRef client = 0;
  ::testing::internal::CaptureStderr();
  const OSStatus status = MIDIClientCreate(CFSTR("Layer Test"), nullptr, nullptr, &client);
  const std::string written = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, kMIDIServerStartErr);
  EXPECT_EQ(written, "");
}

TEST_F(LayerTest, EachPacketArrivesIntactAndAListAsOneList) {
  const std::vector<Packet> sent = {
      {0x90, 0x3C, 0x40},
      {0xB0, 0x0F, 0x00, 0xB0, 0x2F, 0x46},  // a HUI switch press: two messages, one packet
      sysEx(2048, 1),
      sysEx(8192, 2),
  };
  const MIDITimeStamp before = mach_absolute_time();
  for (const auto& packet : sent) ASSERT_EQ(send(source, {packet}), noErr);
  ASSERT_TRUE(receiver.waitForPackets(sent.size()));
  EXPECT_EQ(receiver.packets(), sent);
  // Time stamps are host times of arrival, in mach_absolute_time units.
  const MIDITimeStamp after = mach_absolute_time();
  for (const MIDITimeStamp time : receiver.timeStamps()) {
    EXPECT_GE(time, before);
    EXPECT_LE(time, after);
  }

  const std::vector<Packet> list = {sent[0], sent[1], {0x80, 0x3C, 0x00}};
  ASSERT_EQ(send(source, list), noErr);
  ASSERT_TRUE(receiver.waitForPackets(sent.size() + list.size()));
  EXPECT_EQ(receiver.lists().back(), list);
}

TEST_F(LayerTest, BurstIsDelayedNotDroppedAndDisposingTheSourceFirstSendsItsQueue) {
  // 300 messages of 2048 bytes: about 20 periods' worth of JACK buffer, and more than the
  // source's queue holds, so sending has to wait too.
  std::vector<Packet> sent;
  for (unsigned index = 0; index < 300; ++index) sent.push_back(sysEx(2048, index));
  for (const auto& packet : sent) ASSERT_EQ(send(source, {packet}), noErr);
  ASSERT_EQ(MIDIEndpointDispose(source), noErr);
  ASSERT_TRUE(receiver.waitForPackets(sent.size()));
  EXPECT_EQ(receiver.packets(), sent);
}

TEST_F(LayerTest, PacketThatNoPortBufferHoldsIsRefusedAndTheSourceGoesOn) {
  ASSERT_EQ(send(source, {{0xF8}}), noErr);
  ASSERT_TRUE(receiver.waitForPackets(1));
  EXPECT_EQ(send(source, {sysEx(40000, 0)}), kMIDIMessageSendErr);
  ASSERT_EQ(send(source, {{0xFA}}), noErr);
  ASSERT_TRUE(receiver.waitForPackets(2));
  EXPECT_EQ(receiver.packets(), (std::vector<Packet>{{0xF8}, {0xFA}}));
}

TEST_F(LayerTest, DisposedClientsReadProcedureIsNeverCalledAgain) {
  struct Watch {
    std::mutex mutex;
    std::condition_variable called;
    int calls = 0;
    bool disposed = false;
    int callsAfterDisposal = 0;
  } watch;
  const auto read = [](const MIDIPacketList*, void* refCon, void*) {
    auto& watch = *static_cast<Watch*>(refCon);
    std::lock_guard lock(watch.mutex);
    ++watch.calls;
    if (watch.disposed) ++watch.callsAfterDisposal;
    watch.called.notify_all();
  };
  MIDIEndpointRef watched = 0;
  ASSERT_EQ(MIDIDestinationCreate(receiving, CFSTR("Layer Test Watched"), read, &watch, &watched),
            noErr);
  ASSERT_TRUE(bay.connect(senderName + ":source", receiverName + ":destination-2"));
  std::jthread sender([&](std::stop_token stop) {
    while (!stop.stop_requested()) send(source, {{0xF8}});  // waits while the queue is full
  });
  {
    std::unique_lock lock(watch.mutex);
    ASSERT_TRUE(watch.called.wait_for(lock, 20s, [&] { return watch.calls >= 20; }));
  }
  ASSERT_EQ(MIDIClientDispose(receiving), noErr);
  {
    std::lock_guard lock(watch.mutex);
    watch.disposed = true;
  }
  receiving = 0;
  EXPECT_EQ(send(source, {{0xFA}}), noErr);  // the sending side carries on alone
  sender.request_stop();
  sender.join();
  std::lock_guard lock(watch.mutex);
  EXPECT_EQ(watch.callsAfterDisposal, 0);
  EXPECT_FALSE(bay.exists(receiverName + ":destination-2"));
}

TEST_F(LayerTest, EndpointsShowTheirNameUniqueIDAndManufacturerInTheGraph) {
  const std::string port = senderName + ":source";
  SInt32 sourceID = 0, destinationID = 0;
  ASSERT_EQ(MIDIObjectGetIntegerProperty(source, kMIDIPropertyUniqueID, &sourceID), noErr);
  ASSERT_EQ(MIDIObjectGetIntegerProperty(destination, kMIDIPropertyUniqueID, &destinationID),
            noErr);
  EXPECT_NE(sourceID, 0);
  EXPECT_NE(sourceID, destinationID);
  EXPECT_EQ(bay.property(port, metadata::kUniqueID), std::to_string(sourceID));

  EXPECT_EQ(bay.onlyPortWithAlias("Layer Test Out", true), port);
  EXPECT_EQ(bay.property(port, JACK_METADATA_PRETTY_NAME), "Layer Test Out");
  ASSERT_EQ(MIDIObjectSetIntegerProperty(source, kMIDIPropertyUniqueID, 0x51554131), noErr);
  EXPECT_EQ(bay.property(port, metadata::kUniqueID), std::to_string(0x51554131));
  ASSERT_EQ(MIDIObjectSetStringProperty(source, kMIDIPropertyManufacturer, CFSTR("QUAV")), noErr);
  EXPECT_EQ(bay.property(port, metadata::kManufacturer), "QUAV");

  ASSERT_EQ(MIDIObjectSetStringProperty(source, kMIDIPropertyName, CFSTR("Renamed")), noErr);
  EXPECT_EQ(bay.property(port, JACK_METADATA_PRETTY_NAME), "Renamed");
  EXPECT_EQ(bay.portsWithAlias("Renamed", true), std::vector{port});
  EXPECT_TRUE(bay.portsWithAlias("Layer Test Out", true).empty());

  const jack_uuid_t subject = bay.uuid(port);
  ASSERT_EQ(MIDIEndpointDispose(source), noErr);
  EXPECT_FALSE(bay.exists(port));
  EXPECT_FALSE(bay.property(subject, metadata::kUniqueID));
}

TEST_F(LayerTest, UniqueIDHeldByAnotherEndpointIsRefused) {
  MIDIEndpointRef otherDestination = 0;
  ASSERT_EQ(
      MIDIDestinationCreate(sender, CFSTR("Layer Test Back"), nullptr, nullptr, &otherDestination),
      noErr);
  ASSERT_EQ(MIDIObjectSetIntegerProperty(source, kMIDIPropertyUniqueID, 0x51554131), noErr);
  // The same client, another client, and the endpoint itself again.
  EXPECT_EQ(MIDIObjectSetIntegerProperty(otherDestination, kMIDIPropertyUniqueID, 0x51554131),
            kMIDIIDNotUnique);
  EXPECT_EQ(MIDIObjectSetIntegerProperty(destination, kMIDIPropertyUniqueID, 0x51554131),
            kMIDIIDNotUnique);
  EXPECT_EQ(MIDIObjectSetIntegerProperty(source, kMIDIPropertyUniqueID, 0x51554131), noErr);
  SInt32 kept = 0;
  ASSERT_EQ(MIDIObjectGetIntegerProperty(destination, kMIDIPropertyUniqueID, &kept), noErr);
  EXPECT_NE(kept, 0x51554131);

  ASSERT_EQ(MIDIEndpointDispose(source), noErr);
  EXPECT_EQ(MIDIObjectSetIntegerProperty(destination, kMIDIPropertyUniqueID, 0x51554131), noErr);
}

TEST_F(LayerTest, UniqueIDsOfOtherProgramsPortsCountUnlessWrittenForAnotherPort) {
  jack_port_t* foreign =
      jack_port_register(bay.client(), "foreign", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  ASSERT_NE(foreign, nullptr);
  const jack_uuid_t subject = jack_port_uuid(foreign);
  jack_set_property(bay.client(), subject, metadata::kPort, jack_port_name(foreign), "text/plain");
  jack_set_property(bay.client(), subject, metadata::kUniqueID, "1234", "text/plain");
  EXPECT_EQ(MIDIObjectSetIntegerProperty(source, kMIDIPropertyUniqueID, 1234), kMIDIIDNotUnique);

  // Values another server's port left under the same UUID in the shared metadata store.
  jack_set_property(bay.client(), subject, metadata::kPort, "elsewhere:source", "text/plain");
  EXPECT_EQ(MIDIObjectSetIntegerProperty(source, kMIDIPropertyUniqueID, 1234), noErr);
  jack_remove_properties(bay.client(), subject);
  jack_port_unregister(bay.client(), foreign);
}

TEST_F(LayerTest, WrongReferencesAreStatusCodes) {
  MIDIEndpointRef endpoint = 0;
  EXPECT_EQ(send(destination, {{0xF8}}), kMIDIWrongEndpointType);
  EXPECT_EQ(send(0x7FFFFFFF, {{0xF8}}), kMIDIObjectNotFound);
  EXPECT_EQ(MIDISourceCreate(0x7FFFFFFF, CFSTR("x"), &endpoint), kMIDIInvalidClient);
  EXPECT_EQ(MIDISourceCreate(source, CFSTR("x"), &endpoint), kMIDIInvalidClient);
  EXPECT_EQ(MIDIObjectSetIntegerProperty(sender, kMIDIPropertyUniqueID, 1), kMIDIUnknownProperty);
  EXPECT_EQ(MIDIClientDispose(source), kMIDIInvalidClient);
  ASSERT_EQ(MIDIEndpointDispose(source), noErr);
  EXPECT_EQ(MIDIEndpointDispose(source), kMIDIObjectNotFound);
  EXPECT_EQ(send(source, {{0xF8}}), kMIDIObjectNotFound);
}

// The server removes the ports of a client that vanished, but not their metadata, and in
// synchronous mode it first waits for the vanished client's cycle. The layer closes what is
// left when the process ends.
TEST(ExitTest, ClientsLeftOpenAreClosedWhenTheProcessEnds) {
  quav::testing::JackServer server;
  quav::testing::ChildProcess program({EXIT_WITHOUT_DISPOSING_PATH}, server.environment());
  ASSERT_TRUE(program.waitForOutput("ready\n"));
  PatchBay bay(server.environment());
  const std::string port = bay.onlyPortWithAlias("Layer Exit", true);
  const jack_uuid_t subject = bay.uuid(port);
  // jackd keeps metadata in one store per user and deletes it when any server exits.
  if (bay.property(port, JACK_METADATA_PRETTY_NAME) != "Layer Exit") {
    GTEST_SKIP() << "another JACK server of this user reset the metadata store";
  }

  program.closeInput();
  const auto ending = program.waitForEnd();
  ASSERT_TRUE(ending);
  EXPECT_EQ(ending->exitCode, 0);
  EXPECT_FALSE(bay.exists(port));
  EXPECT_FALSE(bay.property(subject, JACK_METADATA_PRETTY_NAME));
}

}  // namespace
}  // namespace coremidi::testing
