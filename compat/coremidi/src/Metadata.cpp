#include "Metadata.h"

#include <jack/metadata.h>
#include <jack/uuid.h>

#include <charconv>
#include <cstdint>
#include <cstring>
#include <optional>

namespace coremidi::metadata {
namespace {

constexpr char kText[] = "text/plain";
constexpr char kInteger[] = "http://www.w3.org/2001/XMLSchema#int";

std::optional<std::string> property(jack_uuid_t subject, const char* key) {
  char* value = nullptr;
  char* type = nullptr;
  if (jack_get_property(subject, key, &value, &type) != 0) return std::nullopt;
  std::optional<std::string> text;
  if (value != nullptr) text = value;
  jack_free(value);
  jack_free(type);
  return text;
}

void set(jack_client_t* client, jack_port_t* port, const char* key, const std::string& value,
         const char* type) {
  jack_set_property(client, jack_port_uuid(port), key, value.c_str(), type);
}

// Aliases have the size of port names; a longer endpoint name is cut there.
std::string asAlias(const std::string& name) {
  const auto limit = static_cast<std::size_t>(jack_port_name_size()) - 1;
  return name.substr(0, limit);
}

std::optional<MIDIUniqueID> parsed(const std::optional<std::string>& text) {
  MIDIUniqueID id = 0;
  if (!text) return std::nullopt;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), id);
  if (error != std::errc() || end != text->data() + text->size()) return std::nullopt;
  return id;
}

// The unique ID that a port of this server carries, if it is an endpoint's port.
std::optional<MIDIUniqueID> uniqueIDOf(jack_client_t* client, const char* portName) {
  jack_port_t* port = jack_port_by_name(client, portName);
  if (port == nullptr) return std::nullopt;
  const jack_uuid_t subject = jack_port_uuid(port);
  if (property(subject, kPort) != portName) return std::nullopt;
  return parsed(property(subject, kUniqueID));
}

// PipeWire lets a second client take a name in use. Its own port names then find only its own
// ports, and its endpoint's port under its own name finds the port PipeWire made of it, with
// another UUID; the first client's ports show only as stored records under the same name.
bool isHeldUnderSharedName(jack_client_t* client, MIDIUniqueID id, const jack_port_t* own) {
  const jack_port_t* named = jack_port_by_name(client, jack_port_name(own));
  if (named == nullptr || jack_port_uuid(named) == jack_port_uuid(own)) return false;
  jack_description_t* records = nullptr;
  const int count = jack_get_all_properties(&records);
  bool held = false;
  for (int at = 0; at < count; ++at) {
    std::optional<std::string> name, text;
    for (std::uint32_t key = 0; key < records[at].property_cnt; ++key) {
      const jack_property_t& entry = records[at].properties[key];
      if (std::strcmp(entry.key, kPort) == 0) name = entry.data;
      if (std::strcmp(entry.key, kUniqueID) == 0) text = entry.data;
    }
    held = held || (records[at].subject != jack_port_uuid(own) && name == jack_port_name(own) &&
                    parsed(text) == id);
    jack_free_description(&records[at], 0);
  }
  jack_free(records);
  return held;
}

}  // namespace

void publishName(jack_client_t* client, jack_port_t* port, const std::string& name) {
  jack_port_set_alias(port, asAlias(name).c_str());
  set(client, port, kPort, jack_port_name(port), kText);
  set(client, port, JACK_METADATA_PRETTY_NAME, name, kText);
}

void publishUniqueID(jack_client_t* client, jack_port_t* port, MIDIUniqueID id) {
  set(client, port, kUniqueID, std::to_string(id), kInteger);
}

void publishManufacturer(jack_client_t* client, jack_port_t* port, const std::string& text) {
  set(client, port, kManufacturer, text, kText);
}

void withdraw(jack_client_t* client, jack_port_t* port) {
  jack_remove_properties(client, jack_port_uuid(port));
}

bool isStored(jack_client_t* client, jack_port_t* port) {
  return jack_set_property(client, jack_port_uuid(port), kPort, jack_port_name(port), kText) == 0;
}

bool isTaken(jack_client_t* client, MIDIUniqueID id, const jack_port_t* except) {
  const char** names = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, 0);
  if (names == nullptr) return false;
  const char* own = except != nullptr ? jack_port_name(except) : "";
  bool taken = false;
  // The client's own ports are left to the caller, which knows which endpoints still live: a
  // disposed endpoint's port stays until the client goes, and PipeWire may still show its ID.
  for (const char** name = names; *name != nullptr && !taken; ++name) {
    const jack_port_t* port = jack_port_by_name(client, *name);
    taken = std::strcmp(*name, own) != 0 && port != nullptr && !jack_port_is_mine(client, port) &&
            uniqueIDOf(client, *name) == id;
  }
  jack_free(names);
  return taken || (except != nullptr && isHeldUnderSharedName(client, id, except));
}

}  // namespace coremidi::metadata
