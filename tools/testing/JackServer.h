// A private JACK server for one test: its own name, the dummy driver, synchronous mode
// (so a client that misses a cycle neither loses nor repeats MIDI on these small machines).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ChildProcess.h"

namespace quav::testing {

class JackServer {
 public:
  JackServer();  // returns once clients can connect; throws if the server does not come up
  ~JackServer();
  JackServer(const JackServer&) = delete;
  JackServer& operator=(const JackServer&) = delete;

  const std::string& name() const { return name_; }
  // What a client process needs to reach this server and no other, never starting one itself.
  std::vector<std::string> environment() const;
  // The same for a server name that no server answers to.
  static std::vector<std::string> environmentWithoutServer();

 private:
  std::string name_;
  std::unique_ptr<ChildProcess> server_;
};

}  // namespace quav::testing
