// sysex_relay: a virtual MIDI source and destination named "QUAV Tonvex". Each line on
// standard input that holds one signed SysEx message in hex leaves the source as one packet;
// every packet list that reaches the destination is written to standard output as one line
// of hex.
#include <CoreFoundation/CoreFoundation.h>
#include <CoreMIDI/CoreMIDI.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>

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
// SysEx start, the non-commercial manufacturer ID, "QUAV" and 01.
static const Byte signature[7] = {0xF0, 0x7D, 0x51, 0x55, 0x41, 0x56, 0x01};
static const Byte sysExEnd = 0xF7;

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

// The decoded message of a line of n hex digits into message; its length, or 0 to drop it.
static size_t decode(const char* line, size_t n, Byte* message) {
  if (n < 4 || n > 4096 || n % 2 != 0) return 0;
  const size_t m = n / 2;
  for (size_t i = 0; i < m; ++i) {
    unsigned int value;
    if (sscanf(line + 2 * i, "%2x", &value) != 1) return 0;
    message[i] = (Byte)(value & 0xFF);
  }
  if (m < 8 || memcmp(message, signature, sizeof signature) != 0 || message[m - 1] != sysExEnd) {
    return 0;
  }
  bool inner = true;  // every byte between F0 and F7 is a data byte
  for (size_t i = 1; i < m - 1; ++i) {
    if (message[i] > 0x7F) inner = false;
  }
  return inner ? m : 0;
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
