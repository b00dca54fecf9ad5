// A relay under test on a private JACK server, with midi_peer connected to both of its ports.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "ChildProcess.h"
#include "JackServer.h"

namespace quav::testing {

class RelayWithPeer {
 public:
  // Starts the server, then the relay until it writes `readyMessage` on standard error, then
  // midi_peer for the endpoints named `portName` until it says it is connected; throws if
  // either does not come up.
  RelayWithPeer(const std::string& relayPath, const std::string& readyMessage,
                const std::string& peerPath, const std::string& portName);
  ~RelayWithPeer();  // finishes the relay, then stops the peer; the server goes last

  ChildProcess& relay() { return *relay_; }
  ChildProcess& peer() { return *peer_; }
  const JackServer& server() const { return server_; }

  // Ends the relay's input and tells how the relay ended; the peer keeps running.
  std::optional<Ending> finish();

 private:
  JackServer server_;
  std::unique_ptr<ChildProcess> relay_;
  std::unique_ptr<ChildProcess> peer_;
};

}  // namespace quav::testing
