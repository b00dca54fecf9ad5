// The built tone_launcher on a desktop of its own, against scripted servers: what the browser
// is asked to open, what the server receives, and how the launcher ends.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <fstream>

#include "Base64Url.h"
#include "PrivateDesktop.h"

namespace quav::testing {
namespace {

constexpr const char* kAddress = "http://127.0.0.1:4242/lab/";

const std::string kValidKey =
    "{\n  \"scale\": \"major\",\n  \"key\": \"Bb\",\n  \"version\": 1.0,\n"
    "  \"format\": \"quav-key\"\n}\n";

class LauncherEndToEndTest : public ::testing::Test {
 protected:
  // A server that records its arguments and every SIGINT, announces the lab, and keeps running
  // after SIGINT, as a slow server would.
  LauncherEndToEndTest()
      : installed("printf '%s\\n' \"$@\" > '" + std::string(directory.path()) +
                  "/arguments'\n"
                  "trap 'echo INT >> \"" +
                  std::string(directory.path()) +
                  "/signals\"' INT\n"
                  "echo 'QUAV Tonvex is ready: http://127.0.0.1:4242/lab/'\n"
                  "while :; do sleep 0.1; done\n") {}

  std::filesystem::path file(const std::string& name) const {
    return std::filesystem::path(directory.path()) / name;
  }

  std::unique_ptr<ChildProcess> launch(const std::vector<std::string>& files = {}) const {
    std::vector<std::string> argv{installed.executable().string()};
    argv.insert(argv.end(), files.begin(), files.end());
    return std::make_unique<ChildProcess>(argv, desktop.environment());
  }

  std::string launcherWindow() const {
    std::vector<std::string> windows;
    eventually([&] { return !(windows = desktop.windowsNamed("QUAV Lab")).empty(); });
    if (windows.empty()) throw std::runtime_error("the launcher's window did not appear");
    return windows.front();
  }

  void waitUntilReady() const {
    ASSERT_TRUE(eventually([&] { return desktop.opened().size() == 1; }));
  }

  std::string keyAddress(const std::string& key) const {
    return std::string(kAddress) + "#quav-key=" + base64url(key);
  }

  std::filesystem::path writeKey(const std::string& name, const std::string& contents) const {
    std::ofstream(file(name)) << contents;
    return file(name);
  }

  TemporaryDirectory directory;
  PrivateDesktop desktop;
  InstalledLauncher installed;
};

TEST_F(LauncherEndToEndTest, OpensTheLabOnceAtReadinessWithItsThreeArguments) {
  auto launcher = launch();
  waitUntilReady();
  EXPECT_EQ(desktop.opened(), std::vector<std::string>{kAddress});
  EXPECT_EQ(contentsOf(file("arguments")), "--no-browser\n--port\n0\n");
  EXPECT_FALSE(eventually([&] { return desktop.opened().size() > 1; }, 500ms));
}

class QuitTest : public LauncherEndToEndTest, public ::testing::WithParamInterface<std::string> {};

// Ctrl+Q is the quit item's key; Alt+F4 has the window manager close the window; SIGTERM comes
// with logging out or a plain kill, and must not leave the server behind either.
TEST_P(QuitTest, SendsTheServerOneSigintAndExitsWithoutWaitingForIt) {
  auto launcher = launch();
  waitUntilReady();
  if (GetParam() == "SIGTERM") {
    launcher->sendSignal(SIGTERM);
  } else {
    desktop.tool({"xdotool", "windowactivate", "--sync", launcherWindow()});
    desktop.tool({"xdotool", "key", "--clearmodifiers", GetParam()});
  }
  const auto ending = launcher->waitForExit(5s);
  ASSERT_TRUE(ending) << "the launcher did not quit";
  EXPECT_EQ(ending->exitCode, 0);
  ASSERT_TRUE(eventually([&] { return contentsOf(file("signals")) == "INT\n"; }));
  EXPECT_FALSE(eventually([&] { return contentsOf(file("signals")) != "INT\n"; }, 300ms));
  EXPECT_EQ(kill(std::stoi(contentsOf(installed.file("server.pid"))), 0), 0)
      << "the server was meant to outlive the launcher";
}

INSTANTIATE_TEST_SUITE_P(Ways, QuitTest, ::testing::Values("ctrl+q", "alt+F4", "SIGTERM"),
                         [](const auto& info) {
                           return info.param == "ctrl+q"   ? std::string("ControlQ")
                                  : info.param == "alt+F4" ? std::string("CloseWindow")
                                                           : info.param;
                         });

TEST_F(LauncherEndToEndTest, AKeyFileOnTheCommandLineRidesInTheFirstOpening) {
  auto launcher = launch({writeKey("song.quavkey", kValidKey).string()});
  waitUntilReady();
  EXPECT_EQ(desktop.opened(), std::vector<std::string>{keyAddress(kValidKey)});
}

TEST_F(LauncherEndToEndTest, AKeyFileFromALaterLaunchOpensAtOnce) {
  auto launcher = launch();
  waitUntilReady();
  auto later = launch({writeKey("song.QUAVKEY", kValidKey).string()});
  const auto ending = later->waitForExit(10s);
  ASSERT_TRUE(ending);
  EXPECT_EQ(ending->exitCode, 0);
  ASSERT_TRUE(eventually([&] { return desktop.opened().size() == 2; }));
  EXPECT_EQ(desktop.opened().back(), keyAddress(kValidKey));
  EXPECT_EQ(contentsOf(file("arguments")), "--no-browser\n--port\n0\n") << "one server only";
}

TEST_F(LauncherEndToEndTest, ARejectedKeyShowsAModalAlertAndOpensNothing) {
  auto launcher = launch();
  waitUntilReady();
  const auto window = launcherWindow();
  auto later = launch({writeKey("song.quavkey", "{\"format\": \"quav-key\"}").string()});
  std::vector<std::string> windows;
  ASSERT_TRUE(
      eventually([&] { return (windows = desktop.windowsOf(launcher->pid())).size() == 2; }));
  const auto alert = windows.front() == window ? windows.back() : windows.front();
  const auto properties =
      desktop.tool({"xprop", "-id", alert, "WM_TRANSIENT_FOR", "_NET_WM_STATE"}).output;
  char transientFor[64];
  std::snprintf(transientFor, sizeof transientFor, "window id # 0x%lx", std::stoul(window));
  EXPECT_NE(properties.find(transientFor), std::string::npos) << properties;
  EXPECT_NE(properties.find("_NET_WM_STATE_MODAL"), std::string::npos) << properties;

  desktop.tool({"xdotool", "windowactivate", "--sync", alert});
  desktop.tool({"xdotool", "key", "Return"});
  EXPECT_TRUE(eventually([&] { return desktop.windowsOf(launcher->pid()).size() == 1; }));
  ASSERT_TRUE(later->waitForExit(10s));
  EXPECT_FALSE(eventually([&] { return desktop.opened().size() > 1; }, 500ms));
}

TEST_F(LauncherEndToEndTest, ALaterLaunchWithoutFilesBringsTheWindowBackAndOpensTheLab) {
  auto launcher = launch();
  waitUntilReady();
  desktop.tool({"xdotool", "windowminimize", "--sync", launcherWindow()});
  ASSERT_TRUE(eventually([&] { return desktop.windowsNamed("QUAV Lab").empty(); }));
  auto later = launch();
  ASSERT_TRUE(later->waitForExit(10s));
  EXPECT_TRUE(eventually([&] { return desktop.windowsNamed("QUAV Lab").size() == 1; }));
  EXPECT_TRUE(eventually([&] { return desktop.opened().size() == 2; }));
  EXPECT_EQ(desktop.opened(), (std::vector<std::string>{kAddress, kAddress}));
}

}  // namespace
}  // namespace quav::testing
