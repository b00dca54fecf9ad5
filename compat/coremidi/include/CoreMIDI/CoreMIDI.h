// The part of Apple's CoreMIDI that the relays use, for Linux, over JACK: a client,
// virtual sources and destinations, integer and string properties, packet lists and
// sending from a virtual source. Names, signatures, constants and error codes follow
// Apple's public documentation; the packet list layout is the one of arm64.
#ifndef QUAV_COMPAT_COREMIDI_H
#define QUAV_COMPAT_COREMIDI_H

#include <CoreFoundation/CoreFoundation.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef UInt32 MIDIObjectRef;
typedef MIDIObjectRef MIDIClientRef;
typedef MIDIObjectRef MIDIEndpointRef;
typedef UInt64 MIDITimeStamp;
typedef SInt32 MIDIUniqueID;

enum {
  kMIDIInvalidClient = -10830,
  kMIDIInvalidPort = -10831,
  kMIDIWrongEndpointType = -10832,
  kMIDINoConnection = -10833,
  kMIDIUnknownEndpoint = -10834,
  kMIDIUnknownProperty = -10835,
  kMIDIWrongPropertyType = -10836,
  kMIDINoCurrentSetup = -10837,
  kMIDIMessageSendErr = -10838,
  kMIDIServerStartErr = -10839,
  kMIDISetupFormatErr = -10840,
  kMIDIWrongThread = -10841,
  kMIDIObjectNotFound = -10842,
  kMIDIIDNotUnique = -10843,
  kMIDINotPermitted = -10844,
  kMIDIUnknownError = -10845,
};

// Packets are packed to 4 bytes: the 8-byte time stamp, the 16-bit length, then the data.
// A packet's data may run past 256 bytes; the next packet starts at the first 4-byte
// boundary after the data (MIDIPacketNext).
// So read the data through a pointer (const Byte* bytes = packet->data; bytes[i]), never as
// packet->data[i] or packet->data + n: a bounds check that knows only the declared size, as
// clang's -fsanitize=bounds does, takes i >= 256 for an overrun. Through the pointer, the real
// end of the list's buffer is what AddressSanitizer checks.
#pragma pack(push, 4)
typedef struct MIDIPacket {
  MIDITimeStamp timeStamp;
  UInt16 length;
  Byte data[256];
} MIDIPacket;

typedef struct MIDIPacketList {
  UInt32 numPackets;
  MIDIPacket packet[1];
} MIDIPacketList;
#pragma pack(pop)

typedef struct MIDINotification MIDINotification;
typedef void (*MIDINotifyProc)(const MIDINotification* message, void* refCon);
typedef void (*MIDIReadProc)(const MIDIPacketList* pktlist, void* readProcRefCon,
                             void* srcConnRefCon);

extern const CFStringRef kMIDIPropertyManufacturer;
extern const CFStringRef kMIDIPropertyUniqueID;

OSStatus MIDIClientCreate(CFStringRef name, MIDINotifyProc notifyProc, void* notifyRefCon,
                          MIDIClientRef* outClient);
OSStatus MIDIClientDispose(MIDIClientRef client);

OSStatus MIDISourceCreate(MIDIClientRef client, CFStringRef name, MIDIEndpointRef* outSrc);
// readProc is called on a thread of the client, never JACK's, with one packet list for each
// JACK period that brought events to the destination: one packet per event, in order.
OSStatus MIDIDestinationCreate(MIDIClientRef client, CFStringRef name, MIDIReadProc readProc,
                               void* refCon, MIDIEndpointRef* outDest);
OSStatus MIDIEndpointDispose(MIDIEndpointRef endpt);

OSStatus MIDIObjectSetIntegerProperty(MIDIObjectRef obj, CFStringRef propertyID, SInt32 value);
OSStatus MIDIObjectSetStringProperty(MIDIObjectRef obj, CFStringRef propertyID, CFStringRef str);

MIDIPacket* MIDIPacketListInit(MIDIPacketList* pktlist);
// Adds the data as a packet of its own (it is never appended to curPacket) and returns it;
// null when the list has no room.
MIDIPacket* MIDIPacketListAdd(MIDIPacketList* pktlist, ByteCount listSize, MIDIPacket* curPacket,
                              MIDITimeStamp time, ByteCount nData, const Byte* data);

// Sends the packets of a list from a virtual source to everything connected to it, each packet
// as one JACK MIDI event. Time stamps are not scheduled: every packet leaves in the next JACK
// period, a time stamp in the future included.
OSStatus MIDIReceived(MIDIEndpointRef src, const MIDIPacketList* pktlist);

static inline MIDIPacket* MIDIPacketNext(const MIDIPacket* pkt) {
  return (MIDIPacket*)(((uintptr_t)pkt->data + pkt->length + 3) & ~(uintptr_t)3);
}

#ifdef __cplusplus
}
#endif

#endif
