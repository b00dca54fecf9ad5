// tonvex-server started for a test, with the port of its readiness line.
#pragma once

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "ChildProcess.h"

namespace quav::lab::testing {

class ServerProcess {
 public:
  // Starts the server and waits until it has announced itself or ended.
  explicit ServerProcess(std::vector<std::string> arguments = {"--no-browser", "--port", "0"})
      : process_(commandLine(std::move(arguments))) {
    // A server that cannot start says why on standard error and writes nothing else.
    process_.waitUntil([](const std::string& out, const std::string& err) {
      return out.find('\n') != std::string::npos || !err.empty();
    });
    // The readiness line must be everything on standard output.
    static const std::regex readinessLine(
        R"(^QUAV Tonvex is ready: http://127\.0\.0\.1:([1-9][0-9]{0,4})/\n$)");
    std::smatch match;
    const std::string output = process_.standardOutput();
    if (std::regex_match(output, match, readinessLine) && std::stoul(match[1].str()) <= 65535) {
      port_ = static_cast<std::uint16_t>(std::stoul(match[1].str()));
    }
  }

  quav::testing::ChildProcess& process() { return process_; }
  // 0 when the server did not announce a port.
  std::uint16_t port() const { return port_; }
  std::string labAddress() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

  static std::vector<std::string> commandLine(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), TONVEX_SERVER);
    return arguments;
  }

 private:
  quav::testing::ChildProcess process_;
  std::uint16_t port_ = 0;
};

}  // namespace quav::lab::testing
