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
    packet = MIDIPacketListAdd(list, capacity, packet, header.time, header.length, at);
    at += header.length;
  }
  return list;
}

}  // namespace coremidi
