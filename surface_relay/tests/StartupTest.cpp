// Start-up diagnostics, the failure exits, and the end of input that ends the run.
#include <gtest/gtest.h>

#include "RelaySession.h"

namespace quav::surface {
namespace {

using testing::JackServer;
using testing::runToEnd;

TEST(SurfaceStartup, EmptyInputReportsEveryStepAndEndsTheRun) {
  JackServer server;
  // The input ends before the main thread can have entered its run loop; the stop must not
  // be lost, so the relay ends each time instead of waiting forever.
  for (int run = 0; run < 3; ++run) {
    SCOPED_TRACE(run);
    const auto result = runToEnd({relayPath}, "", server.environment(), 15s);
    EXPECT_EQ(result.ending.exitCode, 0);
    EXPECT_EQ(result.error, startupLines + readyMessage);
    EXPECT_EQ(result.output, "");
  }
}

TEST(SurfaceStartup, WithoutMidiServerOnlyTheClientStepIsReported) {
  const auto result = runToEnd({relayPath}, "mode\n", JackServer::environmentWithoutServer(), 15s);
  EXPECT_EQ(result.ending.exitCode, 1);
  EXPECT_EQ(result.error, "MIDIClientCreate status=-10839\n");
  EXPECT_EQ(result.output, "");
}

TEST(SurfaceStartup, SecondCopyFindsTheUniqueIdTakenAndLeavesTheFirstServing) {
  RelaySession first;
  const auto second = runToEnd({relayPath}, "", first.environment(), 15s);
  EXPECT_EQ(second.ending.exitCode, 1);
  EXPECT_EQ(second.error,
            "MIDIClientCreate status=0\n"
            "MIDISourceCreate status=0\n"
            "MIDIDestinationCreate status=0\n"
            "SetSourceID status=-10843\n");
  EXPECT_EQ(second.output, "");

  const auto after = first.exchange("mode\n");
  EXPECT_EQ(after.sent, "b00f1cb02f40\nb00f1cb02f00\n");
  EXPECT_EQ(after.log, "navigation=mode\nstatus=0\n");
}

TEST(SurfaceStartup, EndOfInputAfterCommandsEndsWithStatusZero) {
  RelaySession session;
  const auto handled = session.exchange("assign\n");
  EXPECT_EQ(handled.sent, "b00f1cb02f41\nb00f1cb02f01\n");
  const auto ending = session.finish();
  ASSERT_TRUE(ending.has_value());
  EXPECT_EQ(ending->exitCode, 0);
}

}  // namespace
}  // namespace quav::surface
