// The SysEx relay's input lines: the hex text of one signed SysEx message.
#ifndef QUAV_SYSEX_RELAY_DECODE_H
#define QUAV_SYSEX_RELAY_DECODE_H

#include <CoreMIDI/CoreMIDI.h>
#include <stddef.h>

// The decoded message of a line of n hex digits into message (room for 2048 bytes); its
// length, or 0 to drop the line.
size_t decode(const char* line, size_t n, Byte* message);

#endif
