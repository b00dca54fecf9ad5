// A running surface relay on a private JACK server, with midi_peer playing the DAW against it.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ChildProcess.h"
#include "JackServer.h"

namespace quav::surface {

using namespace std::chrono_literals;

inline const std::string relayPath = SURFACE_RELAY_PATH;
inline const std::string peerPath = MIDI_PEER_PATH;
inline const std::string portName = "QUAV Pro Tools Test";

inline const std::string startupLines =
    "MIDIClientCreate status=0\n"
    "MIDISourceCreate status=0\n"
    "MIDIDestinationCreate status=0\n"
    "SetSourceID status=0\n"
    "SetDestinationID status=0\n";
inline const std::string readyMessage =
    "QUAV Pro Tools Test ports ready (heartbeats and DSP controls only).\n";

// What a batch of commands made the relay do.
struct Exchange {
  std::string sent;  // the hex lines that reached the peer, in order
  std::string log;   // what the relay wrote to standard error
};

class RelaySession {
 public:
  // Returns once the relay is ready and the peer is connected to both of its ports.
  RelaySession();
  ~RelaySession();  // stops the peer, then ends the relay's input; the server goes last
  RelaySession(const RelaySession&) = delete;
  RelaySession& operator=(const RelaySession&) = delete;

  testing::ChildProcess& relay() { return *relay_; }
  testing::ChildProcess& peer() { return *peer_; }
  std::vector<std::string> environment() const { return server_.environment(); }

  // Writes the commands and then a sentinel command; once the sentinel has been handled,
  // everything before it has been too. Returns what happened since the previous exchange,
  // without the sentinel's own traces.
  Exchange exchange(std::string_view commands);

  // Ends the relay's input and waits for it to end.
  std::optional<testing::Ending> finish();

 private:
  testing::JackServer server_;
  std::unique_ptr<testing::ChildProcess> relay_;
  std::unique_ptr<testing::ChildProcess> peer_;
  size_t sentSeen_ = 0;
  size_t logSeen_ = 0;
};

// Starts a relay on the server that `environment` names and waits for its ready message.
std::unique_ptr<testing::ChildProcess> startRelay(const std::vector<std::string>& environment);

// `count` copies of `line`.
std::string repeated(std::string_view line, int count);

}  // namespace quav::surface
