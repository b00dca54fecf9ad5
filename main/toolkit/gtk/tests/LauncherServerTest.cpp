// The launcher running real server processes on the GTK toolkit: what the window says and
// what the browser is asked to open as the server starts, announces, floods and ends.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "LauncherHarness.h"

namespace quav::testing {
namespace {

constexpr const char* kAddress = "http://127.0.0.1:4242/";
constexpr const char* kStarting = "Starting QUAV Lab\u2026";
constexpr const char* kReady =
    "Ready. Audio stays on this Mac. Quit this app when you\u2019re finished.";
constexpr const char* kStopped = "QUAV Lab stopped. Quit and reopen this app to restart.";
constexpr const char* kAnnounce = "echo 'QUAV Tonvex is ready: http://127.0.0.1:4242/'\n";

std::string contentsOf(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::stringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

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
  bool openEnabled() const { return launcher.openButton().get_sensitive(); }

  LauncherHarness launcher;
};

TEST_F(LauncherServerTest, StartsTheServerWithItsThreeArgumentsAndOpensTheLabOnceReady) {
  launcher.installServer("printf '%s\\n' \"$@\" > " + file("arguments").string() + "\n" +
                         kAnnounce + "exec sleep 60\n");
  launcher.run([&] {
    ASSERT_TRUE(spinUntil([&] { return statusText() == kReady; }));
    EXPECT_TRUE(openEnabled());
    EXPECT_EQ(launcher.opened(), std::vector<std::string>{kAddress});
    EXPECT_EQ(contentsOf(file("arguments")), "--no-browser\n--port\n0\n");

    launcher.openButton().activate();
    ASSERT_TRUE(spinUntil([&] { return launcher.opened().size() == 2; }));
    launcher.guideButton().activate();
    ASSERT_TRUE(spinUntil([&] { return launcher.opened().size() == 3; }));
    EXPECT_EQ(launcher.opened(), (std::vector<std::string>{
                                     kAddress, kAddress, std::string(kAddress) + "CONNECT.html"}));
  });
}

TEST_F(LauncherServerTest, ShowsWhyTheServerCouldNotStart) {
  struct Case {
    std::string name;
    bool install;
    std::string reason;
  };
  for (const auto& [name, install, reason] : {Case{"missing", false, "No such file or directory"},
                                              Case{"not executable", true, "Permission denied"}}) {
    SCOPED_TRACE(name);
    LauncherHarness failing;
    if (install) {
      failing.installServer(kAnnounce);
      std::filesystem::permissions(failing.serverPath(), std::filesystem::perms::owner_read);
    }
    failing.run([&] {
      const std::string expected =
          "Could not start QUAV Lab: Failed to execute child process \u201c" +
          failing.serverPath().string() + "\u201d (" + reason + ")";
      EXPECT_EQ(std::string(failing.status().get_text()), expected);
      EXPECT_FALSE(failing.openButton().get_sensitive());
      EXPECT_TRUE(failing.guideButton().get_sensitive());
      // No stop follows a start that failed.
      EXPECT_FALSE(
          spinUntil([&] { return std::string(failing.status().get_text()) != expected; }, 300ms));
      failing.guideButton().activate();
      EXPECT_FALSE(spinUntil([&] { return !failing.opened().empty(); }, 500ms));
    });
  }
}

TEST_F(LauncherServerTest, AServerThatEndsBeforeReadinessLeavesTheStopText) {
  launcher.installServer("echo 'working on it'\nexit 3\n");
  launcher.run([&] {
    ASSERT_TRUE(spinUntil([&] { return statusText() == kStopped; }));
    EXPECT_FALSE(openEnabled());
    EXPECT_TRUE(launcher.opened().empty());
  });
}

TEST_F(LauncherServerTest, AServerThatEndsAfterReadinessLeavesTheStopTextAndTheAddress) {
  launcher.installServer(std::string(kAnnounce) + "while [ ! -e " + file("go").string() +
                         " ]; do sleep 0.02; done\nexit 0\n");
  launcher.run([&] {
    ASSERT_TRUE(spinUntil([&] { return statusText() == kReady; }));
    std::ofstream(file("go")).put('\n');
    ASSERT_TRUE(spinUntil([&] { return statusText() == kStopped; }));
    EXPECT_FALSE(openEnabled());
    // A later launch of the program without files still brings the lab back.
    launcher.application().gtkApplication()->activate();
    EXPECT_EQ(launcher.opened(), (std::vector<std::string>{kAddress, kAddress}));
  });
}

TEST_F(LauncherServerTest, NothingWrittenToStandardErrorReachesTheLauncher) {
  launcher.installServer(
      "echo 'QUAV Tonvex is ready: http://127.0.0.1:4242/' >&2\n"
      "exec sleep 60\n");
  launcher.run([&] {
    EXPECT_FALSE(spinUntil([&] { return statusText() != kStarting; }, 500ms));
    EXPECT_TRUE(launcher.delegate().output.empty());
    EXPECT_TRUE(launcher.opened().empty());
  });
}

TEST_F(LauncherServerTest, AServerThatClosesItsOutputKeepsTheStatusUntilItEnds) {
  const auto signals = file("signals");
  launcher.installServer("trap 'echo INT >> " + signals.string() +
                         "; exit 0' INT\n"
                         "echo 'still starting'\n"
                         "exec >&-\n"
                         "while :; do sleep 0.05; done\n");
  launcher.run([&] {
    ASSERT_TRUE(spinUntil([&] { return launcher.delegate().output == "still starting\n"; }));
    EXPECT_FALSE(spinUntil([&] { return statusText() != kStarting; }, 300ms));
    EXPECT_TRUE(launcher.delegate().child->isRunning());
  });
  ASSERT_TRUE(spinUntil([&] { return std::filesystem::exists(signals); }));
  EXPECT_EQ(contentsOf(signals), "INT\n");
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
