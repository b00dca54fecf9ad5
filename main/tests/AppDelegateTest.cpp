#include <gtest/gtest.h>

#include "Base64Url.h"
#include "FakeToolkit.h"
#include "Launcher.h"

namespace quav {
namespace {

using Texts = std::vector<std::string>;

const std::string kStarting = "Starting QUAV Lab\u2026";
const std::string kReady =
    "Ready. Audio stays on this Mac. Quit this app when you\u2019re finished.";
const std::string kStopped = "QUAV Lab stopped. Quit and reopen this app to restart.";
const std::string kLab = "http://127.0.0.1:8123/";
const std::string kKey = R"({"format":"quav-key","version":1,"key":"C#","scale":"minor"})";
const toolkit::Alert kRejection{
    "This key file could not be opened.",
    "Export a new .quavkey file from QUAV Lab. Nothing was sent to Auto-Tune."};

const auto announce = [](const std::string& lab) { return "QUAV Tonvex is ready: " + lab + "\n"; };

class AppDelegateTest : public ::testing::Test {
 protected:
  void launch() { delegate->applicationDidFinishLaunching(); }
  void serverWrites(const std::string& chunk) {
    app.child->write(chunk);
    app.runMainQueue();
  }
  void open(const Texts& urls) { delegate->applicationOpenURLs(urls); }
  void openKey(const std::string& bytes, const std::string& name = "key.quavkey") {
    open({"file://" + files.write(name, bytes).string()});
  }

  fake::ScratchDirectory files;
  fake::Application app;
  std::shared_ptr<AppDelegate> delegate = std::make_shared<AppDelegate>(app);
};

TEST_F(AppDelegateTest, ShowsTheWindowAndMenuThenStartsTheServer) {
  launch();
  EXPECT_EQ(app.window->title, "QUAV Lab");
  EXPECT_EQ(app.activations, 1);
  EXPECT_EQ(app.shown(),
            (Texts{"Find the key. Keep your audio local.",
                   "Analyze beats without installing Python or opening Terminal or Codex. DAW "
                   "connections are optional and start when you press Find in QUAV Lab.",
                   kStarting, "Open QUAV Lab [off]", "Setup & optional DAW connections"}));
  const toolkit::MenuItem quit{"Quit QUAV Lab", toolkit::MenuAction::kTerminate, "q", {}};
  EXPECT_EQ(app.menu, (toolkit::Menu{{{"", std::nullopt, "", {quit}}}}));
  EXPECT_EQ(app.child->executable, "/opt/quav/resources/backend/tonvex-server");
  EXPECT_EQ(app.child->arguments, (Texts{"--no-browser", "--port", "0"}));
  EXPECT_TRUE(app.child->errorDiscarded);
}

// What the server writes (a chunk each) or its end (nullopt), all handed over before the main
// queue runs; then what the launcher shows and opens.
TEST_F(AppDelegateTest, FollowsTheServersOutputAndEnd) {
  const std::string full(16384, '\n');
  const struct {
    std::vector<std::optional<std::string>> events;
    std::string status, opened;
  } cases[] = {
      {{announce("http://localhost:1/") + announce(kLab), announce(kLab + "b")}, kReady, kLab},
      {{"QUAV Tonv", "ex is ready: http://127.0", ".0.1:8123/\n"}, kReady, kLab},
      {{"QUAV Tonvex is ready: http://127.0.0.1:81", "23/\n"}, kReady, "http://127.0.0.1:81"},
      {{"\xFF\xC0\xAF x \xE2\x80", "\xA6\n\xED\xA0\x80\n" + announce(kLab)}, kReady, kLab},
      {{"QUAV Tonvex is ready: http://127.0.0.1:8123/\r\n"}, kStarting, ""},
      {{full, announce(kLab)}, kStarting, ""},
      {{full.substr(1), "x\n" + announce(kLab)}, kReady, kLab},  // the chunk crossing the cap
      {{std::nullopt}, kStopped, ""},
      {{announce(kLab), std::nullopt}, kStopped, kLab},
      {{std::nullopt, announce(kLab)}, kReady, kLab}};
  for (const auto& [events, status, opened] : cases) {
    SCOPED_TRACE(opened + " " + status);
    fake::Application fresh;
    const auto launcher = std::make_shared<AppDelegate>(fresh);
    launcher->applicationDidFinishLaunching();
    for (const auto& event : events) event ? fresh.child->write(*event) : fresh.child->end();
    EXPECT_EQ(fresh.shown().at(2), kStarting);  // the server's callbacks only post
    fresh.runMainQueue();
    EXPECT_EQ(fresh.shown().at(2), status);
    EXPECT_EQ(fresh.shown().at(3), status == kReady ? "Open QUAV Lab" : "Open QUAV Lab [off]");
    EXPECT_EQ(fresh.opened, opened.empty() ? Texts{} : Texts{opened});
  }
}

TEST_F(AppDelegateTest, QuittingInterruptsOnlyARunningServerOnce) {
  EXPECT_TRUE(delegate->applicationShouldTerminateAfterLastWindowClosed());
  delegate->applicationWillTerminate();  // before the launch: no server at all
  launch();
  delegate->applicationWillTerminate();
  app.child->end();
  delegate->applicationWillTerminate();
  EXPECT_EQ(app.child->interrupts, 1);
}

// A server that cannot start, or no telling where the launcher is installed (then no server is
// made at all): the status says why, and quitting has nothing to interrupt.
TEST_F(AppDelegateTest, SaysWhyTheServerCouldNotStartAndLeavesNothingToInterrupt) {
  app.launchFailure = {{"No such file or directory"}};
  launch();
  EXPECT_EQ(app.shown().at(2), "Could not start QUAV Lab: No such file or directory");
  delegate->applicationWillTerminate();
  EXPECT_EQ(app.child->interrupts, 0);
  fake::Application uninstalled;
  uninstalled.resources.reset();
  const auto launcher = std::make_shared<AppDelegate>(uninstalled);  // owns what it shows
  launcher->applicationDidFinishLaunching();
  EXPECT_EQ(uninstalled.shown().at(2),
            "Could not start QUAV Lab: The launcher could not find where it is installed.");
  EXPECT_EQ(uninstalled.child, nullptr);
}

TEST_F(AppDelegateTest, NothingKeepsTheDelegateAliveAndLateTasksDoNothing) {
  launch();
  app.child->write(announce(kLab));
  const std::weak_ptr<AppDelegate> weak = delegate;
  delegate.reset();
  EXPECT_TRUE(weak.expired());
  app.runMainQueue();
  EXPECT_TRUE(app.opened.empty());
}

TEST_F(AppDelegateTest, ReopeningBringsTheWindowFrontAndOpensTheLabOnceReady) {
  launch();
  EXPECT_TRUE(delegate->applicationShouldHandleReopen(true));
  serverWrites(announce(kLab));
  app.child->end();
  app.runMainQueue();
  EXPECT_TRUE(delegate->applicationShouldHandleReopen(false));
  app.click(4);  // the guide: the address outlives the server
  EXPECT_EQ(app.window->fronts, 3);
  EXPECT_EQ(app.opened, (Texts{kLab, kLab, kLab + "CONNECT.html"}));
}

// Nothing opens before readiness; then only the last key rides the first opening, once. A key
// opened later goes out at once, and once, even when the browser refuses it.
TEST_F(AppDelegateTest, KeysWaitForTheLabAndEachGoesOutOnce) {
  const std::string second = R"({"format":"quav-key","version":1,"key":"Eb","scale":"major"})";
  openKey(kKey, "before-launch.quavkey");
  launch();
  openKey(second, "Second.QuavKey");
  app.click(4);
  delegate->applicationShouldHandleReopen(true);

  const std::string lab = "http://127.0.0.1:8123/lab?x=1";
  serverWrites(announce(lab + "#intro"));
  app.click(4);
  app.browserTakesAddresses = false;
  const std::string padded = "\n" + kKey + " ";
  openKey(padded);
  app.click(3);
  EXPECT_EQ(app.opened, (Texts{lab + "#quav-key=" + base64url(second),
                               "http://127.0.0.1:8123/lab/CONNECT.html?x=1#intro",
                               lab + "#quav-key=" + base64url(padded), lab + "#intro"}));
}

TEST_F(AppDelegateTest, IgnoresWhatIsNotOneKeyFileAndRejectsBadKeysWithAnAlert) {
  launch();
  openKey(kKey, "pending.quavkey");
  open({});
  open({"file:///a.quavkey", "file:///b.quavkey"});
  open({"http://127.0.0.1:8123/a.quavkey"});
  openKey("{}", "key.json");
  openKey("{}", "key");

  open({"file://" + files.path.string() + "/missing.quavkey//"});  // a directory's URL
  openKey(R"({"format":"quav-key","version":1,"key":"C","scale":"Major"})", "major.quavkey");
  EXPECT_EQ(app.alerts, (std::vector<toolkit::Alert>{kRejection, kRejection}));

  serverWrites(announce(kLab));  // the key from before stays pending
  EXPECT_EQ(app.opened, Texts{kLab + "#quav-key=" + base64url(kKey)});
}

}  // namespace
}  // namespace quav
