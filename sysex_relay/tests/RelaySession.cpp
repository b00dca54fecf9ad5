#include "RelaySession.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace quav::sysex {
namespace {

// The next `count` lines after `offset`, once all of them are there.
std::optional<std::string> awaitLines(testing::ChildProcess& child, std::size_t& offset,
                                      int count) {
  std::string lines;
  const bool complete = child.waitUntil(
      [&](const std::string& out, const std::string&) {
        std::size_t end = offset;
        for (int line = 0; line < count; ++line) {
          end = out.find('\n', end);
          if (end == std::string::npos) return false;
          ++end;
        }
        lines = out.substr(offset, end - offset);
        return true;
      },
      20s);
  if (!complete) return std::nullopt;
  offset += lines.size();
  return lines;
}

}  // namespace

RelaySession::RelaySession() {
  relay_ = std::make_unique<testing::ChildProcess>(std::vector{relayPath}, server_.environment());
  EXPECT_TRUE(relay_->waitForError(readyMessage)) << relay_->standardError();
  peer_ = std::make_unique<testing::ChildProcess>(std::vector<std::string>{peerPath, "QUAV Tonvex"},
                                                  server_.environment());
  EXPECT_TRUE(peer_->waitForError("midi_peer: connected\n")) << peer_->standardError();
}

RelaySession::~RelaySession() {
  finish();
}

std::optional<std::string> RelaySession::relayToPeer(std::string_view input, int count) {
  relay_->write(input);
  return awaitLines(*peer_, peerOutputSeen_, count);
}

std::optional<std::string> RelaySession::peerToRelay(std::string_view input, int count) {
  peer_->write(input);
  return awaitLines(*relay_, relayOutputSeen_, count);
}

std::optional<testing::Ending> RelaySession::finish() {
  if (!finished_) {
    finished_ = true;
    peer_->closeInput();
    EXPECT_TRUE(peer_->waitForEnd()) << "the peer did not end";
    relay_->closeInput();
  }
  return relay_->waitForEnd();
}

std::string signedMessage(std::size_t bytes, unsigned seed) {
  std::string hex = "f07d5155415601";
  for (std::size_t index = 7; index + 1 < bytes; ++index) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned>((seed * 31 + index * 7) & 0x7F));
    hex += pair;
  }
  return hex + "f7";
}

}  // namespace quav::sysex
