#include "commands.h"

#include <stdlib.h>
#include <string.h>

static bool between(char character, char low, char high) {
  return character >= low && character <= high;
}

// Takes a step count off the end of a knob or page line ("knob:2:+:10\n" becomes "knob:2:+\n"
// with 10 steps). Returns false for a line whose count is unusable, which is dropped.
static bool removeStepCount(char* line, long* steps) {
  *steps = 1;
  if (strncmp(line, "knob:", 5) != 0 && strncmp(line, "page:", 5) != 0) return true;
  char* colon = strrchr(line, ':');
  if (!between(colon[1], '0', '9')) return true;
  char* end = nullptr;
  const long number = strtol(colon + 1, &end, 10);
  if (strcmp(end, "\n") != 0 || number < 1 || number > 63) return false;
  colon[0] = '\n';
  colon[1] = '\0';
  *steps = number;
  return true;
}

// Bit 6 of the value gives the direction, bits 0 to 5 the number of steps.
static Byte turnValue(char sign, long steps) {
  return (Byte)(sign == '+' ? 0x40 + steps : steps);
}

// The first match decides; a line that matches nothing is no command.
static Command match(const char* line, long steps) {
  const bool nine = strlen(line) == 9;
  if (strcmp(line, "90007f\n") == 0) return {heartbeatReply, 0, 0};
  if (nine && strncmp(line, "insert:", 7) == 0 && between(line[7], '1', '8') && line[8] == '\n')
    return {switchPress, (Byte)(line[7] - '1'), 6};
  if (nine && strncmp(line, "select:", 7) == 0 && between(line[7], '1', '4') && line[8] == '\n')
    return {switchPress, 0x1C, (Byte)(line[7] - '0' + 1)};
  if (strcmp(line, "auto-status\n") == 0) return {heldSwitch, 0x19, 2};
  if (strcmp(line, "mode\n") == 0) return {switchPress, 0x1C, 0};
  if (strcmp(line, "assign\n") == 0) return {switchPress, 0x1C, 1};
  if (nine && strncmp(line, "knob:", 5) == 0 && between(line[5], '1', '4') && line[6] == ':' &&
      (line[7] == '+' || line[7] == '-') && line[8] == '\n')
    return {relativeTurn, (Byte)(0x47 + (line[5] - '0')), turnValue(line[7], steps)};
  if (strcmp(line, "page:+\n") == 0 || strcmp(line, "page:-\n") == 0)
    return {relativeTurn, 0x4C, turnValue(line[5], steps)};
  return {noCommand, 0, 0};
}

Command parseCommand(char* line) {
  long steps = 1;
  if (!removeStepCount(line, &steps)) return {droppedLine, 0, 0};
  return match(line, steps);
}
