#include "RelayWithPeer.h"

#include <signal.h>

#include <stdexcept>

namespace quav::testing {

RelayWithPeer::RelayWithPeer(const std::string& relayPath, const std::string& readyMessage,
                             const std::string& peerPath, const std::string& portName)
    : relay_(std::make_unique<ChildProcess>(std::vector{relayPath}, server_.environment())) {
  if (!relay_->waitForError(readyMessage)) {
    throw std::runtime_error("relay not ready: " + relay_->standardError());
  }
  peer_ = std::make_unique<ChildProcess>(std::vector{peerPath, portName}, server_.environment());
  if (!peer_->waitForError("midi_peer: connected\n")) {
    throw std::runtime_error("midi_peer not connected: " + peer_->standardError());
  }
}

// A JACK client killed outright holds the synchronous server up for seconds; both end cleanly.
RelayWithPeer::~RelayWithPeer() {
  finish();
  peer_->sendSignal(SIGTERM);
  peer_->waitForExit();
}

std::optional<Ending> RelayWithPeer::finish() {
  relay_->closeInput();
  return relay_->waitForEnd();
}

}  // namespace quav::testing
