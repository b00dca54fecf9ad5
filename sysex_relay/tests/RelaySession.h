// A running sysex_relay on a private JACK server, with midi_peer connected to its ports.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ChildProcess.h"
#include "JackServer.h"

namespace quav::sysex {

using namespace std::chrono_literals;

inline const std::string relayPath = SYSEX_RELAY_PATH;
inline const std::string peerPath = MIDI_PEER_PATH;
inline const std::string readyMessage = "Local QUAV Tonvex MIDI endpoints ready.\n";

class RelaySession {
 public:
  // Returns once the relay is ready and the peer is connected to both of its ports.
  RelaySession();
  ~RelaySession();  // ends both inputs; the server goes last
  RelaySession(const RelaySession&) = delete;
  RelaySession& operator=(const RelaySession&) = delete;

  testing::ChildProcess& relay() { return *relay_; }
  testing::ChildProcess& peer() { return *peer_; }

  // Writes to the relay's input and returns the next `count` lines the peer prints, or
  // nothing if they do not come in time.
  std::optional<std::string> relayToPeer(std::string_view input, int count = 1);
  // Writes to the peer's input and returns the next `count` lines the relay prints.
  std::optional<std::string> peerToRelay(std::string_view input, int count = 1);

  // Ends the peer and then the relay, and tells how the relay ended.
  std::optional<testing::Ending> finish();

 private:
  testing::JackServer server_;
  std::unique_ptr<testing::ChildProcess> relay_;
  std::unique_ptr<testing::ChildProcess> peer_;
  std::size_t relayOutputSeen_ = 0;
  std::size_t peerOutputSeen_ = 0;
  bool finished_ = false;
};

// A signed SysEx message of `bytes` bytes (at least 8) as lowercase hex; the body encodes
// `seed`.
std::string signedMessage(std::size_t bytes, unsigned seed = 0);

}  // namespace quav::sysex
