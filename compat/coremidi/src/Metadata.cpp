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

void set(jack_client_t* client, jack_port_t* port, const char* key, const std::string& value,
         const char* type) {
  jack_set_property(client, jack_port_uuid(port), key, value.c_str(), type);
}

// Aliases have the size of port names; a longer endpoint name is cut there.
std::string asAlias(const std::string& name) {
  const auto limit = static_cast<std::size_t>(jack_port_name_size()) - 1;
  return name.substr(0, limit);
}

// The value of `key` in a subject's description.
const char* valueOf(const jack_description_t& description, const char* key) {
  for (std::uint32_t at = 0; at < description.property_cnt; ++at) {
    if (std::strcmp(description.properties[at].key, key) == 0)
      return description.properties[at].data;
  }
  return nullptr;
}

// The unique ID an endpoint's port of this server carries, if `description` is of one. Its port
// record names the port; the port under that name must have the description's UUID, as an
// entry left by another jackd can have the same UUID under another name or the reverse. But
// PipeWire lets a second client take a name in use: that client's own port names then find only
// its own ports, so a record under the name of `own` with another UUID is the first client's.
std::optional<MIDIUniqueID> uniqueIDOf(jack_client_t* client, const jack_description_t& description,
                                       const jack_port_t* own) {
  const char* name = valueOf(description, kPort);
  const char* text = valueOf(description, kUniqueID);
  jack_port_t* port = name != nullptr ? jack_port_by_name(client, name) : nullptr;
  if (text == nullptr || port == nullptr) return std::nullopt;
  const bool shared = own != nullptr && std::strcmp(name, jack_port_name(own)) == 0 &&
                      jack_port_uuid(port) != jack_port_uuid(own);
  if (jack_port_uuid(port) != description.subject && !shared) return std::nullopt;
  MIDIUniqueID id = 0;
  const auto [end, error] = std::from_chars(text, text + std::strlen(text), id);
  if (error != std::errc() || *end != '\0') return std::nullopt;
  return id;
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
  jack_description_t* descriptions = nullptr;
  const int count = jack_get_all_properties(&descriptions);
  bool taken = false;
  for (int at = 0; at < count; ++at) {
    taken = taken || ((except == nullptr || descriptions[at].subject != jack_port_uuid(except)) &&
                      uniqueIDOf(client, descriptions[at], except) == id);
    jack_free_description(&descriptions[at], 0);
  }
  jack_free(descriptions);
  return taken;
}

}  // namespace coremidi::metadata
