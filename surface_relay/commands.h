// The surface relay's command lines and the HUI messages they ask for.
#ifndef QUAV_SURFACE_RELAY_COMMANDS_H
#define QUAV_SURFACE_RELAY_COMMANDS_H

#include <CoreMIDI/CoreMIDI.h>

enum CommandKind { droppedLine, heartbeatReply, noCommand, switchPress, heldSwitch, relativeTurn };

// A switch's zone and port, or a relative control's controller and value.
struct Command {
  CommandKind kind;
  Byte first;
  Byte second;
};

// Reads one line as fgets leaves it, line feed included. A step count is cut off the line in
// place, so that the line then reads as it is logged.
Command parseCommand(char* line);

#endif
