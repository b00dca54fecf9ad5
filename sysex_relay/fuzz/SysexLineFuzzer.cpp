// The SysEx relay's input lines, each as one fgets call leaves it in the relay's line buffer.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "FgetsLine.h"
#include "decode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  char line[8192];
  fgetsLine(data, size, line);
  Byte message[2048];
  const std::size_t m = decode(line, std::strcspn(line, "\r\n"), message);
  // What is sent is one signed SysEx message with no status byte but its own F0 and F7.
  const Byte signature[] = {0xF0, 0x7D, 0x51, 0x55, 0x41, 0x56, 0x01};
  if (m != 0 &&
      (m < 8 || std::memcmp(message, signature, sizeof signature) != 0 || message[m - 1] != 0xF7 ||
       std::any_of(message + 1, message + m - 1, [](Byte byte) { return byte > 0x7F; })))
    std::abort();
  return 0;
}
