// In-process tests of the layer against a private JACK server: the server, a plain JACK client
// to inspect and patch the graph, and a destination read procedure that records what arrives.
#pragma once

#include <CoreMIDI/CoreMIDI.h>
#include <jack/jack.h>
#include <jack/uuid.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "JackServer.h"

namespace coremidi::testing {

using namespace std::chrono_literals;
using Packet = std::vector<Byte>;

// Points this process's JACK clients at the server that `environment` names.
void useServer(const std::vector<std::string>& environment);

// Points this process's JACK clients at a private server for the life of the object.
class PrivateServer {
 public:
  PrivateServer() { useServer(server_.environment()); }
  ~PrivateServer();

 private:
  quav::testing::JackServer server_;
};

// Sees the graph as any other JACK application does.
class PatchBay {
 public:
  PatchBay();
  ~PatchBay();
  PatchBay(const PatchBay&) = delete;
  PatchBay& operator=(const PatchBay&) = delete;

  jack_client_t* client() const { return client_; }
  jack_uuid_t uuid(const std::string& port) const;
  bool hasProperty(jack_uuid_t subject, const char* key) const;
  // Full names of the MIDI ports whose alias is `alias`, outputs or inputs.
  std::vector<std::string> portsWithAlias(const std::string& alias, bool outputs) const;
  std::string onlyPortWithAlias(const std::string& alias, bool outputs) const;
  std::optional<std::string> property(const std::string& port, const char* key) const;
  bool exists(const std::string& port) const;
  bool connect(const std::string& from, const std::string& to);

 private:
  jack_client_t* client_;
};

// A destination's read procedure that keeps every packet list.
class Receiver {
 public:
  static void read(const MIDIPacketList* list, void* self, void* sourceRefCon);

  bool waitForPackets(std::size_t count, std::chrono::milliseconds timeout = 20s);
  std::vector<std::vector<Packet>> lists() const;
  std::vector<Packet> packets() const;
  std::vector<MIDITimeStamp> timeStamps() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<std::vector<Packet>> lists_;
  std::vector<MIDITimeStamp> timeStamps_;
  std::size_t packetCount_ = 0;
};

// Sends the packets from a source as one packet list.
OSStatus send(MIDIEndpointRef source, const std::vector<Packet>& packets);

// A signed-looking SysEx message of `length` bytes whose body encodes `seed`.
Packet sysEx(std::size_t length, unsigned seed);

std::string uniqueClientName();

}  // namespace coremidi::testing
