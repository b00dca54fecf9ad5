// The server's command line: "--no-browser" and "--port N", nothing else.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace quav::lab {

struct ServerOptions {
  std::uint16_t port = 0;  // 0 lets the system choose
};

struct UsageError {
  std::string message;
};

using ParsedCommandLine = std::variant<ServerOptions, UsageError>;

// `arguments` are those after the program's name.
ParsedCommandLine parseCommandLine(std::span<const std::string_view> arguments);

}  // namespace quav::lab
