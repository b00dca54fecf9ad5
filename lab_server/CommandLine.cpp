#include "CommandLine.h"

#include <charconv>
#include <optional>

namespace quav::lab {
namespace {

constexpr unsigned long highestPort = 65535;

// An argument as a message shows it: in quotes, each control character as \xNN, so that the
// message stays on one line whatever the argument holds.
std::string quoted(std::string_view text) {
  std::string shown = "'";
  for (const char character : text) {
    const auto byte = static_cast<unsigned char>(character);
    if (byte < 0x20 || byte == 0x7F) {
      constexpr std::string_view digits = "0123456789abcdef";
      shown += {'\\', 'x', digits[byte >> 4], digits[byte & 0xF]};
    } else {
      shown += character;
    }
  }
  return shown + "'";
}

bool isDecimal(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// Digits only: from_chars alone would take a leading minus and stop quietly at trailing text.
std::variant<std::uint16_t, UsageError> parsePort(std::string_view text) {
  if (!isDecimal(text)) {
    return UsageError{quoted(text) + " is not a port number (0 to 65535)"};
  }
  unsigned long value = 0;
  const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (failure != std::errc() || end != text.data() + text.size() || value > highestPort) {
    return UsageError{"port " + std::string(text) + " is out of range (0 to 65535)"};
  }
  return static_cast<std::uint16_t>(value);
}

}  // namespace

ParsedCommandLine parseCommandLine(std::span<const std::string_view> arguments) {
  ServerOptions options;
  bool sawNoBrowser = false;
  std::optional<std::uint16_t> port;
  for (auto argument = arguments.begin(); argument != arguments.end(); ++argument) {
    if (*argument == "--no-browser") {
      if (sawNoBrowser) return UsageError{"option --no-browser given more than once"};
      sawNoBrowser = true;
    } else if (*argument == "--port") {
      if (port) return UsageError{"option --port given more than once"};
      if (++argument == arguments.end()) return UsageError{"option --port needs a number"};
      auto parsed = parsePort(*argument);
      if (auto* error = std::get_if<UsageError>(&parsed)) return std::move(*error);
      port = std::get<std::uint16_t>(parsed);
    } else {
      return UsageError{"unknown argument " + quoted(*argument)};
    }
  }
  options.port = port.value_or(0);
  return options;
}

}  // namespace quav::lab
