// Packet lists in the arm64 layout: a 4-byte packet count, then packets of an 8-byte time
// stamp, a 16-bit length and the data, each packet at the first 4-byte boundary after the
// previous packet's data.
#include <CoreMIDI/CoreMIDI.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

constexpr std::size_t kPacketHeader = offsetof(MIDIPacket, data);

}  // namespace

extern "C" MIDIPacket* MIDIPacketListInit(MIDIPacketList* pktlist) {
  pktlist->numPackets = 0;
  return &pktlist->packet[0];
}

// Every call adds a packet of its own (the data is never merged into the current packet) and
// returns it; null when the list has no room for it.
extern "C" MIDIPacket* MIDIPacketListAdd(MIDIPacketList* pktlist, ByteCount listSize,
                                         MIDIPacket* curPacket, MIDITimeStamp time, ByteCount nData,
                                         const Byte* data) {
  if (nData > UINT16_MAX) return nullptr;
  MIDIPacket* packet = pktlist->numPackets == 0 ? curPacket : MIDIPacketNext(curPacket);
  const auto used = reinterpret_cast<std::uintptr_t>(packet) + kPacketHeader + nData -
                    reinterpret_cast<std::uintptr_t>(pktlist);
  if (used > listSize) return nullptr;
  packet->timeStamp = time;
  packet->length = static_cast<UInt16>(nData);
  if (nData > 0) std::memcpy(reinterpret_cast<Byte*>(packet) + kPacketHeader, data, nData);
  pktlist->numPackets += 1;
  return packet;
}
