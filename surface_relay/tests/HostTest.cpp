// What the host sends reaches standard output, one line per packet, even during a held switch.
#include <gtest/gtest.h>

#include "RelaySession.h"

namespace quav::surface {
namespace {

TEST(SurfaceHost, EveryPacketBecomesOneHexLine) {
  RelaySession session;
  const std::string packets = "900000\n903c64\nb00f1cb02f40\nf07e7f0601f7\n";
  session.peer().write(packets);
  EXPECT_TRUE(session.relay().waitForOutput(packets)) << session.relay().standardOutput();
  EXPECT_EQ(session.relay().standardOutput(), packets);
}

TEST(SurfaceHost, PacketsOfOneListKeepTheirOrder) {
  RelaySession session;
  // Events on one peer line leave in the same period and arrive as one packet list.
  session.peer().write("900000|903c64|b00f1cb02f40\n");
  EXPECT_TRUE(session.relay().waitForOutput("b00f1cb02f40\n")) << session.relay().standardOutput();
  EXPECT_EQ(session.relay().standardOutput(), "900000\n903c64\nb00f1cb02f40\n");
}

TEST(SurfaceHost, PacketsArePrintedWhileASwitchIsHeld) {
  const std::string release = "b00f19b02f02\n";
  RelaySession session;
  session.relay().write("auto-status\n");
  ASSERT_TRUE(session.peer().waitForOutput("b00f19b02f42\n"));

  session.peer().write("900000\n");
  ASSERT_TRUE(session.relay().waitForOutput("900000\n"));
  EXPECT_EQ(session.peer().standardOutput().find(release), std::string::npos)
      << "the host's packet was printed only after the release";

  EXPECT_TRUE(session.peer().waitForOutput(release));
  EXPECT_EQ(session.relay().standardOutput(), "900000\n");
}

}  // namespace
}  // namespace quav::surface
