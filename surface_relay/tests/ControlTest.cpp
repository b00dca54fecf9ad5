// Relative controls: four knobs and the page control, turned by one step or by a count.
#include <gtest/gtest.h>

#include "RelaySession.h"

namespace quav::surface {
namespace {

struct Case {
  std::string command;
  std::string sent;
  std::string log;
};

TEST(SurfaceControls, KnobsAndPageTurnByTheirStepCount) {
  const std::vector<Case> cases = {
      {"knob:1:+\n", "b04841\n", "navigation=knob:1:+\nstatus=0\n"},
      {"knob:4:-\n", "b04b01\n", "navigation=knob:4:-\nstatus=0\n"},
      {"knob:2:+:10\n", "b0494a\n", "navigation=knob:2:+\nstatus=0\n"},
      {"knob:3:-:07\n", "b04a07\n", "navigation=knob:3:-\nstatus=0\n"},
      {"knob:1:-:1\n", "b04801\n", "navigation=knob:1:-\nstatus=0\n"},
      {"page:+\n", "b04c41\n", "navigation=page:+\nstatus=0\n"},
      {"page:-\n", "b04c01\n", "navigation=page:-\nstatus=0\n"},
      {"page:-:3\n", "b04c03\n", "navigation=page:-\nstatus=0\n"},
      {"page:+:63\n", "b04c7f\n", "navigation=page:+\nstatus=0\n"},
      {"page:-:63\n", "b04c3f\n", "navigation=page:-\nstatus=0\n"},
  };
  RelaySession session;
  for (const auto& [command, sent, log] : cases) {
    SCOPED_TRACE(command);
    const auto result = session.exchange(command);
    EXPECT_EQ(result.sent, sent);
    EXPECT_EQ(result.log, log);
  }
}

TEST(SurfaceControls, LinesThatAreNoControlSendNothing) {
  const std::vector<Case> cases = {
      {"knob:5:+\n", "", "navigation=knob:5:+\nstatus=-1\n"},
      {"knob:0:-\n", "", "navigation=knob:0:-\nstatus=-1\n"},
      {"knob:1:*\n", "", "navigation=knob:1:*\nstatus=-1\n"},
      {"page:*\n", "", "navigation=page:*\nstatus=-1\n"},
      // The count is taken off before matching, so the log shows the line without it.
      {"knob:9:+:5\n", "", "navigation=knob:9:+\nstatus=-1\n"},
      {"page:7\n", "", "navigation=page\nstatus=-1\n"},
      // A count only counts after the last colon and only on knob and page lines.
      {"knob:2:+:x\n", "", "navigation=knob:2:+:x\nstatus=-1\n"},
      {"mode:3\n", "", "navigation=mode:3\nstatus=-1\n"},
      {"page:+:1:2\n", "", "navigation=page:+:1\nstatus=-1\n"},
  };
  RelaySession session;
  for (const auto& [command, sent, log] : cases) {
    SCOPED_TRACE(command);
    const auto result = session.exchange(command);
    EXPECT_EQ(result.sent, sent);
    EXPECT_EQ(result.log, log);
  }
}

TEST(SurfaceControls, UnusableCountsDropTheLineSilently) {
  RelaySession session;
  for (const std::string command :
       {"knob:2:+:0\n", "knob:2:+:64\n", "page:+:00\n", "page:-:3x\n", "page:-:3 \n",
        "knob:1:+:5\r\n", "knob:1:+:99999999999999999999\n",
        // The digit after the first colon reads as a count that is not followed by the line feed.
        "knob:1+\n"}) {
    SCOPED_TRACE(command);
    // The sentinel that follows each line proves the line was handled, and left no trace.
    const auto result = session.exchange(command);
    EXPECT_EQ(result.sent, "");
    EXPECT_EQ(result.log, "");
  }
}

}  // namespace
}  // namespace quav::surface
