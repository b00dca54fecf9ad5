// The launcher running real server processes on the GTK toolkit: what the window says and
// what the browser is asked to open as the server starts, announces, floods and ends.
#include <gtest/gtest.h>

#include <fstream>

#include "LauncherHarness.h"

namespace quav::testing {
namespace {

constexpr const char* kAddress = "http://127.0.0.1:4242/";
constexpr const char* kReady =
    "Ready. Audio stays on this Mac. Quit this app when you\u2019re finished.";
constexpr const char* kAnnounce = "echo 'QUAV Tonvex is ready: http://127.0.0.1:4242/'\n";

// Peak memory of this process so far, in KiB.
long peakResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
  }
  return -1;
}

class LauncherServerTest : public ::testing::Test {
 protected:
  std::filesystem::path file(const std::string& name) const {
    return std::filesystem::path(launcher.directory().path()) / name;
  }
  std::string statusText() const { return launcher.status().get_text(); }

  LauncherHarness launcher;
};

TEST_F(LauncherServerTest, ShowsWhyTheServerCouldNotStart) {
  launcher.run([&] {
    const std::string expected =
        "Could not start QUAV Lab: Failed to execute child process \u201c" +
        launcher.serverPath().string() + "\u201d (No such file or directory)";
    EXPECT_EQ(statusText(), expected);
    EXPECT_FALSE(launcher.openButton().get_sensitive());
    EXPECT_TRUE(launcher.guideButton().get_sensitive());
    // No stop follows a start that failed.
    EXPECT_FALSE(spinUntil([&] { return statusText() != expected; }, 300ms));
  });
}

// Once stopped, the buttons' addresses and a later launch without files still work.
TEST_F(LauncherServerTest, AServerThatEndsAfterReadinessLeavesTheStopTextAndTheAddress) {
  launcher.installServer(std::string(kAnnounce) + "while [ ! -e " + file("go").string() +
                         " ]; do sleep 0.02; done\nexit 0\n");
  launcher.run([&] {
    ASSERT_TRUE(spinUntil([&] { return statusText() == kReady; }));
    EXPECT_TRUE(launcher.openButton().get_sensitive());
    launcher.openButton().activate();
    ASSERT_TRUE(spinUntil([&] { return launcher.opened().size() == 2; }));
    launcher.guideButton().activate();
    ASSERT_TRUE(spinUntil([&] { return launcher.opened().size() == 3; }));
    std::ofstream(file("go")).put('\n');
    ASSERT_TRUE(spinUntil(
        [&] { return statusText() == "QUAV Lab stopped. Quit and reopen this app to restart."; }));
    EXPECT_FALSE(launcher.openButton().get_sensitive());
    launcher.application().gtkApplication()->activate();
    EXPECT_EQ(launcher.opened(),
              (std::vector<std::string>{kAddress, kAddress, std::string(kAddress) + "CONNECT.html",
                                        kAddress}));
  });
}

// The server never blocks on a full pipe, the window keeps being served, and memory stays
// bounded although the launcher keeps none of the flood beyond what it reads.
TEST_F(LauncherServerTest, AFloodingServerNeitherBlocksNorFillsMemory) {
  constexpr long kFloodMiB = 256;
  launcher.installServer(std::string(kAnnounce) + "head -c " +
                         std::to_string(kFloodMiB * 1024 * 1024) +
                         " /dev/zero | tr '\\0' x\n"
                         "echo done > " +
                         file("flooded").string() + "\nexec sleep 60\n");
  launcher.run([&] {
    ASSERT_TRUE(spinUntil([&] { return statusText() == kReady; }));
    const long peakBefore = peakResidentKiB();
    int ticks = 0;
    auto ticker = Glib::signal_timeout().connect(
        [&ticks] {
          ++ticks;
          return true;
        },
        20);
    ASSERT_TRUE(spinUntil([&] { return std::filesystem::exists(file("flooded")); }, 120s));
    ticker.disconnect();
    EXPECT_GT(ticks, 10);
    EXPECT_LT(peakResidentKiB() - peakBefore, 64 * 1024);
    EXPECT_EQ(launcher.opened(), std::vector<std::string>{kAddress});
    EXPECT_EQ(statusText(), kReady);
  });
}

}  // namespace
}  // namespace quav::testing
