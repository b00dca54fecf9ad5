// Packet lists: those a relay fills in a buffer of the size it gives, and those the read thread
// makes of one period's events at a destination. Each packet must hold its own bytes, and a
// list must never reach past its buffer (ASan sees the end of each allocation).
#include <CoreMIDI/CoreMIDI.h>
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "Period.h"

namespace {

constexpr std::size_t kLongest = 70000;  // past what a packet's length can say

// A packet's bytes follow from its length: those of `bytesOf(length)` on.
const Byte* bytesOf(std::size_t length) {
  static const std::vector<Byte> pattern = [] {
    std::vector<Byte> bytes(kLongest + 256);
    for (std::size_t at = 0; at < bytes.size(); ++at) bytes[at] = static_cast<Byte>(at);
    return bytes;
  }();
  return pattern.data() + (length * 37) % 256;
}

// The list holds packets of these lengths in order, each stamped with its length. Read through
// plain pointers: a packet's data may run past its declared 256 bytes.
void expectPackets(const MIDIPacketList* list, const std::vector<std::size_t>& lengths) {
  if (list->numPackets != lengths.size()) std::abort();
  const MIDIPacket* packet = &list->packet[0];
  for (const std::size_t length : lengths) {
    const Byte* data = packet->data;
    if (packet->timeStamp != length || packet->length != length ||
        std::memcmp(data, bytesOf(length), length) != 0)
      std::abort();
    packet = MIDIPacketNext(packet);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const bool fromPeriod = input.ConsumeBool();
  // Mostly small lists and short events; now and then long ones.
  const auto listSize = input.ConsumeIntegralInRange<std::size_t>(
      sizeof(UInt32), input.ConsumeBool() ? 1 << 17 : 512);
  std::vector<std::size_t> lengths;
  for (std::size_t total = 0; input.remaining_bytes() > 0 && total < kLongest;) {
    const auto length = input.ConsumeIntegral<std::uint8_t>();
    lengths.push_back(length < 0xF0 ? length
                                    : input.ConsumeIntegralInRange<std::size_t>(0, kLongest));
    total += lengths.back();
  }
  if (fromPeriod) {
    std::vector<Byte> record(sizeof(coremidi::PeriodHeader));
    for (const std::size_t length : lengths) {
      const coremidi::EventHeader header{length, static_cast<std::uint32_t>(length), 0};
      const auto* headerBytes = reinterpret_cast<const Byte*>(&header);
      record.insert(record.end(), headerBytes, headerBytes + sizeof header);
      record.insert(record.end(), bytesOf(length), bytesOf(length) + length);
    }
    const coremidi::PeriodHeader period{static_cast<std::uint32_t>(record.size()),
                                        static_cast<std::uint32_t>(lengths.size())};
    std::memcpy(record.data(), &period, sizeof period);
    std::vector<std::uint64_t> storage;
    std::erase_if(lengths, [](std::size_t length) { return length > UINT16_MAX; });
    expectPackets(coremidi::packetListOf(record.data(), storage), lengths);
    return 0;
  }
  // A packet goes in where the layout puts it whenever it fits, the list's count included.
  std::vector<std::size_t> kept;
  auto* list = static_cast<MIDIPacketList*>(std::malloc(listSize));
  MIDIPacket* packet = MIDIPacketListInit(list);
  std::size_t next = sizeof(UInt32);
  for (const std::size_t length : lengths) {
    MIDIPacket* added = MIDIPacketListAdd(list, listSize, packet, length, length, bytesOf(length));
    const std::size_t end = next + offsetof(MIDIPacket, data) + length;
    if ((added != nullptr) != (end <= listSize && length <= UINT16_MAX) ||
        (added && reinterpret_cast<Byte*>(added) != reinterpret_cast<Byte*>(list) + next))
      std::abort();
    if (added == nullptr) continue;
    packet = added;
    kept.push_back(length);
    next = (end + 3) / 4 * 4;
  }
  expectPackets(list, kept);
  std::free(list);
  return 0;
}
