#include "Period.h"

#include <cstring>

namespace coremidi {

const MIDIPacketList* packetListOf(const std::uint8_t* record,
                                   std::vector<std::uint64_t>& storage) {
  PeriodHeader period;
  std::memcpy(&period, record, sizeof period);
  const std::size_t capacity = period.bytes + sizeof(MIDIPacketList) + 16 * period.events;
  storage.resize(capacity / sizeof(std::uint64_t) + 1);
  auto* list = reinterpret_cast<MIDIPacketList*>(storage.data());
  MIDIPacket* packet = MIDIPacketListInit(list);
  const std::uint8_t* at = record + sizeof period;
  for (std::uint32_t index = 0; index < period.events; ++index) {
    EventHeader header;
    std::memcpy(&header, at, sizeof header);
    at += sizeof header;
    // The list has room for every event, but a packet's length cannot say more than 65535
    // bytes: a longer event is left out, and the next packet follows the last one added.
    if (MIDIPacket* added =
            MIDIPacketListAdd(list, capacity, packet, header.time, header.length, at)) {
      packet = added;
    }
    at += header.length;
  }
  return list;
}

}  // namespace coremidi
