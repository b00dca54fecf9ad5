// What one fgets call leaves in a relay's line buffer when a fuzz target's input is what the
// relay reads: the first line, newline included, cut to the buffer, and a NUL.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

template <std::size_t N>
void fgetsLine(const std::uint8_t* data, std::size_t size, char (&line)[N]) {
  const auto* feed = static_cast<const std::uint8_t*>(std::memchr(data, '\n', size));
  const std::size_t length = std::min<std::size_t>(feed ? feed - data + 1 : size, N - 1);
  std::memcpy(line, data, length);
  line[length] = '\0';
}
