// surface_relay: a HUI control surface for the DAW, named "QUAV Pro Tools Test".
//
// Every MIDI packet that the host sends to the destination is printed on standard output as
// one line of lower-case hex. Commands on standard input become HUI messages sent from the
// source: "90007f" answers a heartbeat; insert:N, select:N, auto-status, mode and assign press
// switches; knob:N:+/- and page:+/- turn relative controls, optionally by a step count given
// after one more colon (knob:2:+:10). Diagnostics and the command log go to standard error.
#include <CoreFoundation/CoreFoundation.h>
#include <CoreMIDI/CoreMIDI.h>
#include <mach/mach_time.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "commands.h"

static MIDIClientRef client = 0;
static MIDIEndpointRef source = 0;
static MIDIEndpointRef destination = 0;
static CFRunLoopRef loop = nullptr;
static UInt32 replies = 0;
// Signalled by the reader at the end of input. A plain CFRunLoopStop from the reader would be
// lost if the main thread has not entered its run loop yet (an empty input); a signalled
// source is still pending when the loop starts, so the run always ends.
static CFRunLoopSourceRef finish = nullptr;

static const SInt32 sourceID = 0x51554151;  // "QUAQ"
static const SInt32 destinationID = sourceID + 1;
static const ByteCount packetListSize = 256;
static const useconds_t heldSwitchPause = 750000;

// Logs a step's status; true when the step failed.
static bool check(OSStatus status, const char* label) {
  fprintf(stderr, "%s status=%d\n", label, (int)status);
  fflush(stderr);
  return status != 0;
}

// Holds the stream's lock for the whole list, so its lines are never split by other output.
static void receive(const MIDIPacketList* list, void*, void*) {
  flockfile(stdout);
  const MIDIPacket* packet = &list->packet[0];
  for (UInt32 index = 0; index < list->numPackets; ++index) {
    const Byte* data = packet->data;  // a long packet runs past the declared 256 bytes
    for (UInt16 at = 0; at < packet->length; ++at) printf("%02x", data[at]);
    putchar('\n');
    packet = MIDIPacketNext(packet);
  }
  fflush(stdout);
  funlockfile(stdout);
}

// Sends one message as a packet list of its own, due now.
static OSStatus emit(const Byte* bytes, ByteCount count) {
  alignas(MIDIPacketList) Byte buffer[packetListSize];
  MIDIPacketList* list = (MIDIPacketList*)buffer;
  MIDIPacket* packet = MIDIPacketListInit(list);
  packet = MIDIPacketListAdd(list, packetListSize, packet, mach_absolute_time(), count, bytes);
  if (packet == nullptr) return -1;
  return MIDIReceived(source, list);
}

// Controller 0F selects the zone, controller 2F the port in it; bit 6 of the port marks a press.
static OSStatus toggle(Byte zone, Byte port) {
  const Byte message[6] = {0xB0, 0x0F, zone, 0xB0, 0x2F, port};
  return emit(message, sizeof message);
}

// Both packets of a switch always go out; the first failure is the one reported.
static OSStatus either(OSStatus press, OSStatus release) {
  return press != 0 ? press : release;
}

static OSStatus button(Byte zone, Byte port) {
  const OSStatus press = toggle(zone, 0x40 + port);
  const OSStatus release = toggle(zone, port);
  return either(press, release);
}

// The host only takes some switches as held when the release comes well after the press;
// packets from the host keep being printed meanwhile, as only this thread sleeps.
static OSStatus hold(Byte zone, Byte port) {
  const OSStatus press = toggle(zone, 0x40 + port);
  usleep(heldSwitchPause);
  const OSStatus release = toggle(zone, port);
  return either(press, release);
}

static OSStatus turn(Byte controller, Byte value) {
  const Byte message[3] = {0xB0, controller, value};
  return emit(message, sizeof message);
}

static void heartbeat() {
  static const Byte reply[3] = {0x90, 0x00, 0x7F};
  const OSStatus status = emit(reply, sizeof reply);
  ++replies;
  if (status != 0 || replies == 1 || replies % 20 == 0) {
    fprintf(stderr, "heartbeatReplyAttempt=%u MIDIReceivedStatus=%d\n", (unsigned)replies,
            (int)status);
    fflush(stderr);
  }
}

static OSStatus navigate(Command command) {
  switch (command.kind) {
    case switchPress:
      return button(command.first, command.second);
    case heldSwitch:
      return hold(command.first, command.second);
    case relativeTurn:
      return turn(command.first, command.second);
    default:
      return -1;
  }
}

static void handle(char* line) {
  const Command command = parseCommand(line);
  if (command.kind == droppedLine) return;
  if (command.kind == heartbeatReply) {
    heartbeat();
    return;
  }
  const OSStatus status = navigate(command);
  fprintf(stderr, "navigation=%sstatus=%d\n", line, (int)status);
  fflush(stderr);
}

// A line longer than the buffer is read in pieces, each handled as a line of its own.
static void* input(void*) {
  char line[64];
  while (fgets(line, sizeof line, stdin) != nullptr) handle(line);
  CFRunLoopSourceSignal(finish);
  CFRunLoopWakeUp(loop);
  return nullptr;
}

static void stop(void*) {
  CFRunLoopStop(loop);
}

// Only the client is disposed on a failed start; it takes its endpoints with it.
static int abandon() {
  if (client != 0) MIDIClientDispose(client);
  return 1;
}

int main() {
  const CFStringRef name = CFSTR("QUAV Pro Tools Test");

  if (check(MIDIClientCreate(name, nullptr, nullptr, &client), "MIDIClientCreate") ||
      check(MIDISourceCreate(client, name, &source), "MIDISourceCreate") ||
      check(MIDIDestinationCreate(client, name, receive, nullptr, &destination),
            "MIDIDestinationCreate") ||
      check(MIDIObjectSetIntegerProperty(source, kMIDIPropertyUniqueID, sourceID), "SetSourceID") ||
      check(MIDIObjectSetIntegerProperty(destination, kMIDIPropertyUniqueID, destinationID),
            "SetDestinationID")) {
    return abandon();
  }

  loop = CFRunLoopGetCurrent();
  CFRunLoopSourceContext context = {};
  context.perform = stop;
  finish = CFRunLoopSourceCreate(kCFAllocatorDefault, 0, &context);
  CFRunLoopAddSource(loop, finish, kCFRunLoopDefaultMode);

  pthread_t reader;
  const int error = pthread_create(&reader, nullptr, input, nullptr);
  if (error != 0) {
    check(error, "pthread_create");
    return abandon();
  }
  fputs("QUAV Pro Tools Test ports ready (heartbeats and DSP controls only).\n", stderr);
  fflush(stderr);

  CFRunLoopRun();

  MIDIEndpointDispose(source);
  MIDIEndpointDispose(destination);
  MIDIClientDispose(client);
  return 0;
}
