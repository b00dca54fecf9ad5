// What the process callback records of one period at a destination for the read thread: a
// PeriodHeader, then each event's EventHeader followed by its bytes.
#pragma once

#include <CoreMIDI/CoreMIDI.h>

#include <cstdint>
#include <vector>

namespace coremidi {

struct PeriodHeader {
  std::uint32_t bytes;  // the whole record, this header included
  std::uint32_t events;
};

struct EventHeader {
  MIDITimeStamp time;
  std::uint32_t length;
  std::uint32_t unused;
};

// The packet list of one period's record, one packet per event in order, built in `storage`.
const MIDIPacketList* packetListOf(const std::uint8_t* record, std::vector<std::uint64_t>& storage);

}  // namespace coremidi
