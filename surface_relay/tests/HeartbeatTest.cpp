// Heartbeat replies: always sent, logged at the first attempt and every twentieth.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <sstream>
#include <vector>

#include "RelaySession.h"

namespace quav::surface {
namespace {

// CoreMIDI's kMIDIServerStartErr: what sending reports once the MIDI server has gone.
constexpr int serverGone = -10839;

std::string attempt(int number, int status) {
  return "heartbeatReplyAttempt=" + std::to_string(number) +
         " MIDIReceivedStatus=" + std::to_string(status) + "\n";
}

TEST(SurfaceHeartbeat, RepliesAreLoggedAtTheFirstAndEveryTwentiethAttempt) {
  RelaySession session;

  auto result = session.exchange("90007f\n");
  EXPECT_EQ(result.sent, "90007f\n");
  EXPECT_EQ(result.log, attempt(1, 0));

  result = session.exchange(repeated("90007f\n", 18));
  EXPECT_EQ(result.sent, repeated("90007f\n", 18));
  EXPECT_EQ(result.log, "");

  // Navigation commands in between do not count as attempts.
  result = session.exchange("mode\n90007f\n");
  EXPECT_EQ(result.sent, "b00f1cb02f40\nb00f1cb02f00\n90007f\n");
  EXPECT_EQ(result.log, "navigation=mode\nstatus=0\n" + attempt(20, 0));

  result = session.exchange(repeated("90007f\n", 20));
  EXPECT_EQ(result.sent, repeated("90007f\n", 20));
  EXPECT_EQ(result.log, attempt(40, 0));
}

struct Attempt {
  int number;
  int status;
};

std::vector<Attempt> attemptsIn(const std::string& log) {
  std::vector<Attempt> attempts;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    Attempt attempt{};
    if (std::sscanf(line.c_str(), "heartbeatReplyAttempt=%d MIDIReceivedStatus=%d", &attempt.number,
                    &attempt.status) == 2) {
      attempts.push_back(attempt);
    }
  }
  return attempts;
}

// Once the MIDI server has gone, nothing takes the queued packets any more, and when the
// source's queue is full every further reply fails.
TEST(SurfaceHeartbeat, EveryFailedReplyIsLogged) {
  std::optional<testing::JackServer> server(std::in_place);
  auto relay = startRelay(server->environment());
  server.reset();

  constexpr int batch = 10000;
  int sent = 0;
  while (sent < 20 * batch &&
         relay->standardError().find("MIDIReceivedStatus=-") == std::string::npos) {
    relay->write(repeated("90007f\n", batch));
    sent += batch;
    // Every twentieth attempt is logged, failed or not.
    ASSERT_TRUE(relay->waitForError("heartbeatReplyAttempt=" + std::to_string(sent) + " ", 60s));
  }
  relay->closeInput();
  const auto ending = relay->waitForEnd(30s);
  ASSERT_TRUE(ending.has_value());
  EXPECT_EQ(ending->exitCode, 0);

  int firstFailure = 0;
  int previous = 0;
  for (const auto [number, status] : attemptsIn(relay->standardError())) {
    SCOPED_TRACE(number);
    if (firstFailure == 0 && status == 0) {
      EXPECT_TRUE(number == 1 || number % 20 == 0) << "a successful attempt logged out of turn";
    } else if (firstFailure == 0) {
      firstFailure = number;
      EXPECT_EQ(status, serverGone);
    } else {
      // Once the queue is full it stays full, so every attempt from here on fails.
      EXPECT_EQ(number, previous + 1) << "a failed attempt went unlogged";
      EXPECT_EQ(status, serverGone);
    }
    previous = number;
  }
  EXPECT_GT(firstFailure, 1) << "no reply failed";
  EXPECT_EQ(previous, sent);
}

}  // namespace
}  // namespace quav::surface
