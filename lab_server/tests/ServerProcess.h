// tonvex-server started for a test, with its announced port.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ChildProcess.h"

namespace quav::lab::testing {

// The port of the readiness line when that line is everything in `output`.
std::optional<std::uint16_t> portOfReadinessLine(const std::string& output);

class ServerProcess {
 public:
  // Starts the server and waits until it has announced itself or ended.
  explicit ServerProcess(std::vector<std::string> arguments = {"--no-browser", "--port", "0"});

  quav::testing::ChildProcess& process() { return process_; }
  // 0 when the server did not announce a port.
  std::uint16_t port() const { return port_; }
  std::string labAddress() const;

 private:
  quav::testing::ChildProcess process_;
  std::uint16_t port_ = 0;
};

}  // namespace quav::lab::testing
