#include "LayerSession.h"

#include <jack/metadata.h>
#include <stdlib.h>

#include <stdexcept>

#include "ChildProcess.h"

namespace coremidi::testing {

void useServer(const std::vector<std::string>& environment) {
  for (const auto& entry : environment) {
    const auto equals = entry.find('=');
    setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
  }
}

PrivateServer::~PrivateServer() {
  unsetenv("JACK_DEFAULT_SERVER");
}

PatchBay::PatchBay() : client_(jack_client_open("patchbay", JackNoStartServer, nullptr)) {
  if (client_ == nullptr) throw std::runtime_error("patch bay cannot reach the JACK server");
}

PatchBay::~PatchBay() {
  jack_client_close(client_);
}

std::vector<std::string> PatchBay::portsWithAlias(const std::string& alias, bool outputs) const {
  std::vector<std::string> found;
  const char** names = jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE,
                                      outputs ? JackPortIsOutput : JackPortIsInput);
  for (const char** at = names; at != nullptr && *at != nullptr; ++at) {
    jack_port_t* port = jack_port_by_name(client_, *at);
    std::vector<char> first(jack_port_name_size()), second(jack_port_name_size());
    char* aliases[2] = {first.data(), second.data()};
    const int count = jack_port_get_aliases(port, aliases);
    for (int index = 0; index < count; ++index) {
      if (alias == aliases[index]) found.emplace_back(*at);
    }
  }
  jack_free(names);
  return found;
}

std::string PatchBay::onlyPortWithAlias(const std::string& alias, bool outputs) const {
  const auto found = portsWithAlias(alias, outputs);
  if (found.size() != 1) throw std::runtime_error("not exactly one port named " + alias);
  return found.front();
}

jack_uuid_t PatchBay::uuid(const std::string& port) const {
  jack_port_t* handle = jack_port_by_name(client_, port.c_str());
  return handle == nullptr ? 0 : jack_port_uuid(handle);
}

bool PatchBay::hasProperty(jack_uuid_t subject, const char* key) const {
  char* value = nullptr;
  char* type = nullptr;
  if (jack_get_property(subject, key, &value, &type) != 0) return false;
  jack_free(value);
  jack_free(type);
  return true;
}

std::optional<std::string> PatchBay::property(const std::string& port, const char* key) const {
  char* value = nullptr;
  char* type = nullptr;
  const jack_uuid_t subject = uuid(port);
  if (subject == 0 || jack_get_property(subject, key, &value, &type) != 0) return std::nullopt;
  std::string text = value;
  jack_free(value);
  jack_free(type);
  return text;
}

bool PatchBay::exists(const std::string& port) const {
  return jack_port_by_name(client_, port.c_str()) != nullptr;
}

bool PatchBay::connect(const std::string& from, const std::string& to) {
  return jack_connect(client_, from.c_str(), to.c_str()) == 0;
}

void Receiver::read(const MIDIPacketList* list, void* self, void*) {
  auto& receiver = *static_cast<Receiver*>(self);
  std::vector<Packet> packets;
  std::vector<MIDITimeStamp> times;
  const MIDIPacket* packet = &list->packet[0];
  for (UInt32 index = 0; index < list->numPackets; ++index) {
    const Byte* data = packet->data;
    packets.emplace_back(data, data + packet->length);
    times.push_back(packet->timeStamp);
    packet = MIDIPacketNext(packet);
  }
  std::lock_guard lock(receiver.mutex_);
  receiver.packetCount_ += packets.size();
  receiver.lists_.push_back(std::move(packets));
  receiver.timeStamps_.insert(receiver.timeStamps_.end(), times.begin(), times.end());
  receiver.arrived_.notify_all();
}

bool Receiver::waitForPackets(std::size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return arrived_.wait_for(lock, timeout, [&] { return packetCount_ >= count; });
}

std::vector<std::vector<Packet>> Receiver::lists() const {
  std::lock_guard lock(mutex_);
  return lists_;
}

std::vector<Packet> Receiver::packets() const {
  std::vector<Packet> all;
  for (const auto& list : lists()) all.insert(all.end(), list.begin(), list.end());
  return all;
}

std::vector<MIDITimeStamp> Receiver::timeStamps() const {
  std::lock_guard lock(mutex_);
  return timeStamps_;
}

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

Packet sysEx(std::size_t length, unsigned seed) {
  Packet message(length);
  message.front() = 0xF0;
  for (std::size_t index = 1; index + 1 < length; ++index) {
    message[index] = static_cast<Byte>((seed * 31 + index * 7) & 0x7F);
  }
  message.back() = 0xF7;
  return message;
}

std::string uniqueClientName() {
  return quav::testing::uniqueName("layer");
}

}  // namespace coremidi::testing
