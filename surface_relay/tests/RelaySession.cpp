#include "RelaySession.h"

#include <gtest/gtest.h>
#include <signal.h>

namespace quav::surface {
namespace {

// A command that no test uses otherwise, with its traces at the peer and in the log.
constexpr std::string_view sentinel = "knob:4:-:63\n";
constexpr std::string_view sentinelSent = "b04b3f\n";
constexpr std::string_view sentinelLog = "navigation=knob:4:-\nstatus=0\n";

std::string_view since(const std::string& text, size_t offset) {
  return std::string_view(text).substr(std::min(offset, text.size()));
}

}  // namespace

std::unique_ptr<testing::ChildProcess> startRelay(const std::vector<std::string>& environment) {
  auto relay = std::make_unique<testing::ChildProcess>(std::vector{relayPath}, environment);
  EXPECT_TRUE(relay->waitForError(readyMessage)) << relay->standardError();
  return relay;
}

RelaySession::RelaySession() : relay_(startRelay(server_.environment())) {
  logSeen_ = relay_->standardError().size();
  peer_ = std::make_unique<testing::ChildProcess>(std::vector{peerPath, portName},
                                                  server_.environment());
  EXPECT_TRUE(peer_->waitForError("midi_peer: connected\n")) << peer_->standardError();
}

RelaySession::~RelaySession() {
  peer_->sendSignal(SIGTERM);
  peer_->waitForExit();
  finish();
}

Exchange RelaySession::exchange(std::string_view commands) {
  relay_->write(commands);
  relay_->write(sentinel);
  const bool handled = relay_->waitUntil([&](const std::string&, const std::string& err) {
    return since(err, logSeen_).ends_with(sentinelLog);
  });
  const bool arrived = peer_->waitUntil([&](const std::string& out, const std::string&) {
    return since(out, sentSeen_).ends_with(sentinelSent);
  });
  const std::string sent(since(peer_->standardOutput(), sentSeen_));
  const std::string log(since(relay_->standardError(), logSeen_));
  EXPECT_TRUE(handled && arrived) << "sentinel not seen; sent:\n" << sent << "log:\n" << log;
  sentSeen_ += sent.size();
  logSeen_ += log.size();
  return {sent.substr(0, sent.size() - (arrived ? sentinelSent.size() : 0)),
          log.substr(0, log.size() - (handled ? sentinelLog.size() : 0))};
}

std::optional<testing::Ending> RelaySession::finish() {
  relay_->closeInput();
  return relay_->waitForEnd();
}

std::string repeated(std::string_view line, int count) {
  std::string lines;
  for (int index = 0; index < count; ++index) lines += line;
  return lines;
}

}  // namespace quav::surface
