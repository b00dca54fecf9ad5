// A program that creates a client with a source, says "ready", and at the end of its input
// returns from main without disposing anything.
#include <CoreMIDI/CoreMIDI.h>
#include <stdio.h>

int main() {
  MIDIClientRef client = 0;
  MIDIEndpointRef source = 0;
  if (MIDIClientCreate(CFSTR("Layer Exit"), nullptr, nullptr, &client) != noErr ||
      MIDISourceCreate(client, CFSTR("Layer Exit"), &source) != noErr) {
    return 1;
  }
  puts("ready");
  fflush(stdout);
  while (getchar() != EOF) {
  }
  return 0;
}
