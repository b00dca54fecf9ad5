// What an endpoint publishes about itself in the JACK graph: its name as the port's pretty
// name (and as the port's alias), its unique ID and its manufacturer.
//
// jackd keeps metadata in one store per user that all of that user's servers share, keyed by
// port UUIDs that every server numbers from the same start, and a server that exits deletes
// the store. So each endpoint also records the full JACK port name its values were written
// for, and readers ignore values that belong to another server's port; and the name is also
// kept as the port's alias, which lives in the server's own graph.
#pragma once

#include <CoreMIDI/CoreMIDI.h>
#include <jack/jack.h>

#include <string>

namespace coremidi::metadata {

inline constexpr char kUniqueID[] = "http://quav.app/ns/coremidi#uniqueID";
inline constexpr char kManufacturer[] = "http://quav.app/ns/coremidi#manufacturer";
inline constexpr char kPort[] = "http://quav.app/ns/coremidi#port";

void publishName(jack_client_t* client, jack_port_t* port, const std::string& name);
void publishUniqueID(jack_client_t* client, jack_port_t* port, MIDIUniqueID id);
void publishManufacturer(jack_client_t* client, jack_port_t* port, const std::string& text);
void withdraw(jack_client_t* client, jack_port_t* port);

// Writes the port's record again; false when the server keeps no metadata (PipeWire without a
// session manager), so that neither a unique ID nor a manufacturer can be published or seen.
bool isStored(jack_client_t* client, jack_port_t* port);

// Whether any MIDI port of the graph other than `except` carries `id`.
bool isTaken(jack_client_t* client, MIDIUniqueID id, const jack_port_t* except);

}  // namespace coremidi::metadata
