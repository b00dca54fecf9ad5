// sysex_relay: a virtual MIDI source and destination named "QUAV Tonvex". Each line on
// standard input that holds one signed SysEx message in hex leaves the source as one packet;
// every packet list that reaches the destination is written to standard output as one line
// of hex.
#include <CoreFoundation/CoreFoundation.h>
#include <CoreMIDI/CoreMIDI.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>

#include "decode.h"

static MIDIClientRef client;
static MIDIEndpointRef source;
static MIDIEndpointRef destination;
static CFRunLoopRef loop;
// Signalled by the reader at the end of input. Unlike a bare CFRunLoopStop, a signal sent
// before the main thread has entered its run loop is not lost.
static CFRunLoopSourceRef ending;

static const CFStringRef portName = CFSTR("QUAV Tonvex");
static const MIDIUniqueID sourceID = 0x51554131;       // QUA1
static const MIDIUniqueID destinationID = 0x51554132;  // QUA2

static void receive(const MIDIPacketList* list, void*, void*) {
  flockfile(stdout);
  const MIDIPacket* packet = &list->packet[0];
  for (UInt32 index = 0; index < list->numPackets; ++index) {
    const Byte* data = packet->data;
    for (UInt16 at = 0; at < packet->length; ++at) printf("%02x", data[at]);
    packet = MIDIPacketNext(packet);
  }
  puts("");
  fflush(stdout);
  funlockfile(stdout);
}

static void* input(void*) {
  char line[8192];
  Byte message[2048];
  alignas(MIDIPacketList) Byte packets[4096];
  while (fgets(line, sizeof line, stdin) != nullptr) {
    const size_t m = decode(line, strcspn(line, "\r\n"), message);
    if (m == 0) continue;
    MIDIPacketList* list = (MIDIPacketList*)packets;
    MIDIPacket* packet = MIDIPacketListInit(list);
    if (MIDIPacketListAdd(list, sizeof packets, packet, 0, m, message) == nullptr) continue;
    MIDIReceived(source, list);
  }
  CFRunLoopSourceSignal(ending);
  CFRunLoopWakeUp(loop);
  return nullptr;
}

static void stop(void*) {
  CFRunLoopStop(loop);
}

int main() {
  if (MIDIClientCreate(portName, nullptr, nullptr, &client) != noErr ||
      MIDISourceCreate(client, portName, &source) != noErr ||
      MIDIDestinationCreate(client, portName, receive, nullptr, &destination) != noErr) {
    fputs("Could not open local MIDI connection.\n", stderr);
    return 1;
  }
  // Statuses not examined: the endpoints serve without these properties. A DAW finds them by
  // name, and an ID that another endpoint already holds only leaves this one with the ID the
  // system gave it.
  MIDIObjectSetIntegerProperty(source, kMIDIPropertyUniqueID, sourceID);
  MIDIObjectSetIntegerProperty(destination, kMIDIPropertyUniqueID, destinationID);
  MIDIObjectSetStringProperty(source, kMIDIPropertyManufacturer, portName);
  MIDIObjectSetStringProperty(destination, kMIDIPropertyManufacturer, portName);

  loop = CFRunLoopGetCurrent();
  CFRunLoopSourceContext context = {};
  context.perform = stop;
  ending = CFRunLoopSourceCreate(kCFAllocatorDefault, 0, &context);
  CFRunLoopAddSource(loop, ending, kCFRunLoopDefaultMode);

  pthread_t reader;
  if (pthread_create(&reader, nullptr, input, nullptr) != 0) {
    // Nothing else would ever stop the run loop.
    fputs("Could not start reading standard input.\n", stderr);
    MIDIEndpointDispose(source);
    MIDIEndpointDispose(destination);
    MIDIClientDispose(client);
    return 1;
  }
  fputs("Local QUAV Tonvex MIDI endpoints ready.\n", stderr);
  fflush(stderr);

  CFRunLoopRun();

  MIDIEndpointDispose(source);
  MIDIEndpointDispose(destination);
  MIDIClientDispose(client);
  return 0;
}
