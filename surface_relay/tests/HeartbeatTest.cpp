// Heartbeat replies: always sent, logged at the first attempt and every twentieth.
#include <gtest/gtest.h>

#include "RelaySession.h"

namespace quav::surface {
namespace {

std::string attempt(int number, int status) {
  return "heartbeatReplyAttempt=" + std::to_string(number) +
         " MIDIReceivedStatus=" + std::to_string(status) + "\n";
}

TEST(Heartbeat, RepliesAreLoggedAtTheFirstAndEveryTwentiethAttempt) {
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

}  // namespace
}  // namespace quav::surface
