// Lines that are no command, and lines that do not fit the reader's buffer.
#include <gtest/gtest.h>

#include "RelaySession.h"

namespace quav::surface {
namespace {

TEST(SurfaceLines, NearMissesAreNoCommand) {
  RelaySession session;
  for (const std::string line :
       {"mode\r\n", "mode \n", " mode\n", "MODE\n", "Mode\n", "90007F\n", "90007f\r\n", "90007f \n",
        "insert:1 \n", "auto-status\r\n", "\n", "hello\n"}) {
    SCOPED_TRACE(line);
    const auto result = session.exchange(line);
    EXPECT_EQ(result.sent, "");
    EXPECT_EQ(result.log, "navigation=" + line + "status=-1\n");
  }
}

TEST(SurfaceLines, LongLinesAreHandledInPiecesOfSixtyThreeCharacters) {
  const std::string x63(63, 'x');
  RelaySession session;

  auto result = session.exchange(x63 + "xxxxxxx\n");
  EXPECT_EQ(result.sent, "");
  EXPECT_EQ(result.log, "navigation=" + x63 + "status=-1\nnavigation=xxxxxxx\nstatus=-1\n");

  // 63 characters and the line feed: the line feed is a piece of its own.
  result = session.exchange(x63 + "\n");
  EXPECT_EQ(result.log, "navigation=" + x63 + "status=-1\nnavigation=\nstatus=-1\n");

  // 62 characters and the line feed still fit.
  result = session.exchange(std::string(62, 'x') + "\n");
  EXPECT_EQ(result.log, "navigation=" + std::string(62, 'x') + "\nstatus=-1\n");

  // A piece is a line by itself, commands included.
  result = session.exchange(x63 + "mode\n");
  EXPECT_EQ(result.sent, "b00f1cb02f40\nb00f1cb02f00\n");
  EXPECT_EQ(result.log, "navigation=" + x63 + "status=-1\nnavigation=mode\nstatus=0\n");
}

TEST(SurfaceLines, LastLineWithoutLineFeedIsNoCommand) {
  RelaySession session;
  session.relay().write("mode\nassign");
  const auto ending = session.finish();
  ASSERT_TRUE(ending.has_value());
  EXPECT_EQ(ending->exitCode, 0);
  EXPECT_TRUE(session.peer().waitForOutput("b00f1cb02f40\nb00f1cb02f00\n"));
  EXPECT_EQ(session.peer().standardOutput(), "b00f1cb02f40\nb00f1cb02f00\n");
  EXPECT_EQ(
      session.relay().standardError(),
      startupLines + readyMessage + "navigation=mode\nstatus=0\nnavigation=assignstatus=-1\n");
}

TEST(SurfaceLines, CountOnTheLastLineWithoutLineFeedIsDropped) {
  RelaySession session;
  session.relay().write("knob:1:+:5");
  const auto ending = session.finish();
  ASSERT_TRUE(ending.has_value());
  EXPECT_EQ(ending->exitCode, 0);
  EXPECT_EQ(session.relay().standardError(), startupLines + readyMessage);
}

}  // namespace
}  // namespace quav::surface
