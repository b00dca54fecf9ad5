#include "ServerProcess.h"

#include <regex>

namespace quav::lab::testing {

std::optional<std::uint16_t> portOfReadinessLine(const std::string& output) {
  static const std::regex readinessLine(
      R"(^QUAV Tonvex is ready: http://127\.0\.0\.1:([1-9][0-9]*)/\n$)");
  std::smatch match;
  if (!std::regex_match(output, match, readinessLine)) return std::nullopt;
  const unsigned long port = std::stoul(match[1].str());
  if (port > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(port);
}

namespace {

std::vector<std::string> commandLine(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), TONVEX_SERVER);
  return arguments;
}

}  // namespace

ServerProcess::ServerProcess(std::vector<std::string> arguments)
    : process_(commandLine(std::move(arguments))) {
  // A server that cannot start says why on standard error and writes nothing else.
  process_.waitUntil([](const std::string& out, const std::string& err) {
    return out.find('\n') != std::string::npos || !err.empty();
  });
  port_ = portOfReadinessLine(process_.standardOutput()).value_or(0);
}

std::string ServerProcess::labAddress() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

}  // namespace quav::lab::testing
