// The surface relay's command lines, each as one fgets call leaves it in the relay's line buffer.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "FgetsLine.h"
#include "commands.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  char line[64];
  fgetsLine(data, size, line);
  const std::size_t before = std::strlen(line);
  const Command command = parseCommand(line);
  // Only a count is ever cut off, and every command sends HUI data bytes: zones up to 1C, ports
  // below 40 (bit 6 marks a press), and a turn of 1 to 63 steps in either direction.
  const std::size_t after = std::strlen(line);
  const bool valid = command.kind == switchPress || command.kind == heldSwitch
                         ? command.first <= 0x1C && command.second < 0x40
                     : command.kind == relativeTurn
                         ? command.first >= 0x48 && command.first <= 0x4C &&
                               command.second <= 0x7F && (command.second & 0x3F) != 0
                         : true;
  if (!valid || after > before || (after != before && line[after - 1] != '\n')) std::abort();
  return 0;
}
