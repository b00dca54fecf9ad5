// Switch presses: each command sends a press and then a release of one HUI switch.
#include <gtest/gtest.h>

#include <chrono>

#include "RelaySession.h"

namespace quav::surface {
namespace {

struct Case {
  std::string command;
  std::string sent;
  std::string log;
};

TEST(SurfaceSwitches, EachCommandPressesAndReleasesItsSwitch) {
  const std::vector<Case> cases = {
      {"insert:1\n", "b00f00b02f46\nb00f00b02f06\n", "navigation=insert:1\nstatus=0\n"},
      {"insert:8\n", "b00f07b02f46\nb00f07b02f06\n", "navigation=insert:8\nstatus=0\n"},
      {"select:1\n", "b00f1cb02f42\nb00f1cb02f02\n", "navigation=select:1\nstatus=0\n"},
      {"select:4\n", "b00f1cb02f45\nb00f1cb02f05\n", "navigation=select:4\nstatus=0\n"},
      {"mode\n", "b00f1cb02f40\nb00f1cb02f00\n", "navigation=mode\nstatus=0\n"},
      {"assign\n", "b00f1cb02f41\nb00f1cb02f01\n", "navigation=assign\nstatus=0\n"},
      {"insert:0\n", "", "navigation=insert:0\nstatus=-1\n"},
      {"insert:9\n", "", "navigation=insert:9\nstatus=-1\n"},
      {"insert:10\n", "", "navigation=insert:10\nstatus=-1\n"},
      {"select:0\n", "", "navigation=select:0\nstatus=-1\n"},
      {"select:5\n", "", "navigation=select:5\nstatus=-1\n"},
  };
  RelaySession session;
  for (const auto& [command, sent, log] : cases) {
    SCOPED_TRACE(command);
    const auto result = session.exchange(command);
    EXPECT_EQ(result.sent, sent);
    EXPECT_EQ(result.log, log);
  }
}

TEST(SurfaceSwitches, AutoStatusIsHeldBeforeItsRelease) {
  const std::string press = "b00f19b02f42\n";
  const std::string release = "b00f19b02f02\n";
  RelaySession session;
  auto& peer = session.peer();

  session.relay().write("auto-status\n");
  ASSERT_TRUE(peer.waitForOutput(press));
  const auto pressed = std::chrono::steady_clock::now();
  ASSERT_TRUE(peer.waitForOutput(release));
  const auto released = std::chrono::steady_clock::now();

  // JACK hands MIDI on once per period (256 frames at 48 kHz, 5.3 ms), so two arrivals can lie
  // up to a period closer together than their sending did.
  EXPECT_GE(released - pressed, 740ms);
  EXPECT_EQ(peer.standardOutput(), press + release);
  EXPECT_TRUE(session.relay().waitForError("navigation=auto-status\nstatus=0\n"));
}

TEST(SurfaceSwitches, CommandsWaitingDuringTheHoldFollowTheRelease) {
  RelaySession session;
  const auto result = session.exchange("auto-status\nmode\n");
  EXPECT_EQ(result.sent, "b00f19b02f42\nb00f19b02f02\nb00f1cb02f40\nb00f1cb02f00\n");
  EXPECT_EQ(result.log, "navigation=auto-status\nstatus=0\nnavigation=mode\nstatus=0\n");
}

}  // namespace
}  // namespace quav::surface
