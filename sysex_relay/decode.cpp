#include "decode.h"

#include <stdio.h>
#include <string.h>

// SysEx start, the non-commercial manufacturer ID, "QUAV" and 01.
static const Byte signature[7] = {0xF0, 0x7D, 0x51, 0x55, 0x41, 0x56, 0x01};
static const Byte sysExEnd = 0xF7;

size_t decode(const char* line, size_t n, Byte* message) {
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
