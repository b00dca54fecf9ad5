#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <boost/url/url.hpp>
#include <fstream>

#include "Base64Url.h"
#include "ChildProcess.h"
#include "FakeToolkit.h"
#include "Launcher.h"

int launcherEntryPoint(int argc, char** argv);

namespace quav {
namespace {

using ::testing::ElementsAre;
using testing::FakeApplication;
using testing::FakeButton;
using testing::FakeLabel;
using testing::FakeStackView;
using Urls = std::vector<std::string>;

const std::string kStartingText = "Starting QUAV Lab\u2026";
const std::string kReadyText =
    "Ready. Audio stays on this Mac. Quit this app when you\u2019re finished.";
const std::string kStoppedText = "QUAV Lab stopped. Quit and reopen this app to restart.";
const std::string kLab = "http://127.0.0.1:8123/";
const std::string kValidKey = R"({"format":"quav-key","version":1,"key":"C#","scale":"minor"})";

std::string readinessLine(const std::string& address) {
  return "QUAV Tonvex is ready: " + address + "\n";
}

std::string keyAddressFor(const std::string& lab, const std::string& key) {
  return lab + "#quav-key=" + base64url(key);
}

std::string fileURL(const std::filesystem::path& path) {
  boost::urls::url address("file://");
  address.set_path(path.string());
  return std::string(address.buffer());
}

class AppDelegateTest : public ::testing::Test {
 protected:
  void launch() { delegate->applicationDidFinishLaunching(); }

  FakeStackView& stack() { return dynamic_cast<FakeStackView&>(*app.window->subviews.at(0)); }
  FakeLabel& label(std::size_t index) { return dynamic_cast<FakeLabel&>(*stack().views.at(index)); }
  FakeButton& button(std::size_t index) {
    return dynamic_cast<FakeButton&>(*stack().views.at(index));
  }
  FakeLabel& statusLine() { return label(2); }
  FakeButton& openButton() { return button(3); }
  FakeButton& guideButton() { return button(4); }

  // The server writes; the toolkit's reader hands the chunk over; the main queue runs.
  void serverWrites(const std::string& chunk) {
    app.child->writeOutput(chunk);
    app.runMainQueue();
  }
  void serverEnds() {
    app.child->end();
    app.runMainQueue();
  }
  void becomeReady(const std::string& address = kLab) { serverWrites(readinessLine(address)); }

  std::filesystem::path writeFile(const std::string& name, const std::string& bytes) {
    const auto path = std::filesystem::path(directory.path()) / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  void open(const std::vector<std::filesystem::path>& paths) {
    Urls urls;
    for (const auto& path : paths) urls.push_back(fileURL(path));
    delegate->applicationOpenURLs(urls);
  }
  void openKey(const std::string& bytes, const std::string& name = "key.quavkey") {
    open({writeFile(name, bytes)});
  }

  testing::TemporaryDirectory directory;
  FakeApplication app;
  std::shared_ptr<AppDelegate> delegate = std::make_shared<AppDelegate>(app);
};

TEST_F(AppDelegateTest, ShowsTheWindowAndMenuThenStartsTheServer) {
  launch();
  EXPECT_THAT(app.events, ElementsAre("setMainMenu", "makeWindow", "setTitle", "center",
                                      "addSubview", "makeKeyAndOrderFront",
                                      "activateIgnoringOtherApps", "makeChildProcess", "launch"));
  const toolkit::MenuItem quit{"Quit QUAV Lab", toolkit::MenuAction::kTerminate, "q", {}};
  EXPECT_EQ(app.menu, (toolkit::Menu{{toolkit::MenuItem{"", std::nullopt, "", {quit}}}}));

  EXPECT_EQ(app.window->contentRect, (toolkit::Rect{0, 0, 480, 270}));
  EXPECT_EQ(app.window->styleMask, 7u);
  EXPECT_EQ(app.window->title, "QUAV Lab");
  EXPECT_EQ(stack().frame, (toolkit::Rect{28, 25, 424, 220}));
  ASSERT_EQ(stack().views.size(), 5u);
  EXPECT_EQ(label(0).text, "Find the key. Keep your audio local.");
  EXPECT_FALSE(label(0).wrapping);
  EXPECT_EQ(label(0).font, toolkit::Font::boldSystemFont(20));
  EXPECT_EQ(label(1).text,
            "Analyze beats without installing Python or opening Terminal or Codex. DAW "
            "connections are optional and start when you press Find in QUAV Lab.");
  EXPECT_TRUE(label(1).wrapping);
  EXPECT_EQ(statusLine().text, kStartingText);
  EXPECT_TRUE(statusLine().wrapping);
  EXPECT_EQ(openButton().title, "Open QUAV Lab");
  EXPECT_FALSE(openButton().enabled);
  EXPECT_EQ(guideButton().title, "Setup & optional DAW connections");
  EXPECT_TRUE(guideButton().enabled);

  EXPECT_EQ(app.child->executable, "/opt/quav-lab/resources/backend/tonvex-server");
  EXPECT_THAT(app.child->arguments, ElementsAre("--no-browser", "--port", "0"));
  EXPECT_TRUE(app.child->standardErrorDiscarded);
}

TEST_F(AppDelegateTest, ReportsAFailedLaunchAndNeverSignalsTheServer) {
  app.launchFailure = "Failed to execute child process \u201Cx\u201D (No such file or directory)";
  launch();
  EXPECT_EQ(statusLine().text, "Could not start QUAV Lab: " + *app.launchFailure);
  EXPECT_FALSE(openButton().enabled);
  EXPECT_TRUE(guideButton().enabled);
  delegate->applicationWillTerminate();
  EXPECT_EQ(app.child->interrupts, 0);
}

TEST_F(AppDelegateTest, ServerCallbacksOnlyPostToTheMainQueue) {
  launch();
  app.child->writeOutput(readinessLine(kLab));
  app.child->end();
  EXPECT_EQ(delegate->output, "");
  EXPECT_EQ(statusLine().text, kStartingText);
  EXPECT_EQ(app.runMainQueue(), 2);
  EXPECT_EQ(app.openedURLs, Urls{kLab});
  EXPECT_EQ(statusLine().text, kStoppedText);
}

TEST_F(AppDelegateTest, NothingKeepsTheDelegateAliveAndLateTasksDoNothing) {
  launch();
  app.child->writeOutput(readinessLine(kLab));
  app.child->end();
  const std::weak_ptr<AppDelegate> weak = delegate;
  delegate.reset();
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(app.runMainQueue(), 2);
  EXPECT_TRUE(app.openedURLs.empty());
}

TEST_F(AppDelegateTest, BecomesReadyOnceAndOpensTheLab) {
  launch();
  becomeReady();
  ASSERT_TRUE(delegate->localURL);
  EXPECT_EQ(statusLine().text, kReadyText);
  EXPECT_TRUE(openButton().enabled);
  EXPECT_EQ(app.openedURLs, Urls{kLab});

  // Every later chunk rescans the whole output and changes nothing.
  serverWrites(readinessLine("http://127.0.0.1:9999/"));
  EXPECT_EQ(delegate->localURL->buffer(), kLab);
  EXPECT_EQ(app.openedURLs, Urls{kLab});
}

struct Readiness {
  std::string name;
  std::vector<std::string> chunks;
  std::optional<std::string> lab;  // the address opened, if any
};

// Just under the cap: the 16384th byte is still to come.
std::string filler(std::size_t size) {
  std::string text(size, 'x');
  text.back() = '\n';
  return text;
}

TEST_F(AppDelegateTest, OpensTheFirstAcceptableAnnouncementInTheOutput) {
  const std::vector<Readiness> cases = {
      {"first of two wins after localhost",
       {"starting\n" + readinessLine("http://localhost:1/") +
        readinessLine("http://127.0.0.1:2/a") + readinessLine("http://127.0.0.1:3/b")},
       "http://127.0.0.1:2/a"},
      {"split over chunks", {"QUAV Tonv", "ex is ready: http://127.0", ".0.1:8123/\n"}, kLab},
      {"unterminated address taken once it parses",
       {"QUAV Tonvex is ready: http://127.0.0.1:81", "23/\n"},
       "http://127.0.0.1:81"},
      {"after invalid UTF-8 and a split character",
       {"\xFF\xC0\xAF garbage \xE2\x80", "\xA6\n\xED\xA0\x80\n" + readinessLine(kLab)},
       kLab},
      {"text before the prefix", {"12:00 " + readinessLine(kLab)}, std::nullopt},
      {"CR LF", {"QUAV Tonvex is ready: http://127.0.0.1:8123/\r\n"}, std::nullopt},
      {"host and port without scheme", {readinessLine("127.0.0.1:8123")}, std::nullopt},
      {"line after 16384 bytes never seen",
       {filler(16383) + "\n", readinessLine(kLab)},
       std::nullopt},
      {"chunk after 16383 bytes taken whole",
       {filler(16383), std::string(5000, 'y') + "\n" + readinessLine(kLab)},
       kLab},
  };
  for (const auto& [name, chunks, lab] : cases) {
    SCOPED_TRACE(name);
    FakeApplication fresh;
    const auto scanning = std::make_shared<AppDelegate>(fresh);
    scanning->applicationDidFinishLaunching();
    for (const auto& chunk : chunks) fresh.child->writeOutput(chunk);
    fresh.runMainQueue();
    EXPECT_EQ(fresh.openedURLs, lab ? Urls{*lab} : Urls{});
    EXPECT_EQ(scanning->localURL.has_value(), lab.has_value());
  }
}

TEST_F(AppDelegateTest, OutputHandledAfterTheStopStillMakesTheLabReady) {
  launch();
  app.child->end();
  app.child->writeOutput(readinessLine(kLab));
  app.runMainQueue();
  EXPECT_EQ(statusLine().text, kReadyText);
  EXPECT_EQ(app.openedURLs, Urls{kLab});
}

TEST_F(AppDelegateTest, AStopAfterReadinessKeepsTheLabAddress) {
  launch();
  becomeReady();
  serverEnds();
  EXPECT_EQ(statusLine().text, kStoppedText);
  EXPECT_FALSE(openButton().enabled);
  EXPECT_TRUE(delegate->applicationShouldHandleReopen(false));
  guideButton().click();
  EXPECT_EQ(app.openedURLs, (Urls{kLab, kLab, kLab + "CONNECT.html"}));
}

// Nothing opens before readiness; then only the last key rides the first opening, once.
TEST_F(AppDelegateTest, KeysBeforeReadinessWaitAndTheLastRidesTheFirstOpeningOnce) {
  launch();
  const std::string second = R"({"format":"quav-key","version":1,"key":"Eb","scale":"major"})";
  openKey(kValidKey, "first.quavkey");
  openKey(second, "second.quavkey");
  delegate->openLab();
  guideButton().click();
  EXPECT_TRUE(app.openedURLs.empty());
  EXPECT_EQ(delegate->pendingKey, second);

  becomeReady("http://127.0.0.1:8123/lab?x=1#intro");
  EXPECT_FALSE(delegate->pendingKey);
  openButton().click();
  guideButton().click();
  EXPECT_EQ(app.openedURLs, (Urls{keyAddressFor("http://127.0.0.1:8123/lab?x=1", second),
                                  "http://127.0.0.1:8123/lab?x=1#intro",
                                  "http://127.0.0.1:8123/lab/CONNECT.html?x=1#intro"}));
}

TEST_F(AppDelegateTest, AKeyOpenedAfterReadinessGoesOutAtOnceUnchangedEvenIfTheBrowserRefuses) {
  launch();
  becomeReady();
  app.browserTakesAddresses = false;
  std::string bytes =
      "{\n  \"scale\": \"major\",\n  \"key\": \"Bb\",\n  \"version\": 1.0,\n"
      "  \"format\": \"quav-key\"\n}\n";
  bytes.resize(4096, ' ');
  openKey(bytes, "Padded.QuavKey");
  EXPECT_TRUE(app.alerts.empty());
  EXPECT_EQ(app.openedURLs, (Urls{kLab, keyAddressFor(kLab, bytes)}));
  EXPECT_FALSE(delegate->pendingKey);
}

TEST_F(AppDelegateTest, AcceptsKeysBeforeTheLaunch) {
  openKey(kValidKey);
  launch();
  becomeReady();
  EXPECT_EQ(app.openedURLs, Urls{keyAddressFor(kLab, kValidKey)});
}

TEST_F(AppDelegateTest, IgnoresWhatIsNotOneKeyFileWithoutAWord) {
  launch();
  becomeReady();
  delegate->applicationOpenURLs({});
  open({writeFile("a.quavkey", kValidKey), writeFile("b.quavkey", kValidKey)});
  delegate->applicationOpenURLs({"http://127.0.0.1:8123/a.quavkey"});
  open({writeFile("key.json", kValidKey)});
  open({writeFile("key", kValidKey)});
  EXPECT_TRUE(app.alerts.empty());
  EXPECT_FALSE(delegate->pendingKey);
  EXPECT_EQ(app.openedURLs, Urls{kLab});
}

TEST_F(AppDelegateTest, RejectsBadKeyFilesWithOneAlertAndChangesNothing) {
  launch();
  openKey(kValidKey, "pending.quavkey");
  for (const auto& path :
       {std::filesystem::path(directory.path()) / "missing.quavkey",
        writeFile("major.quavkey",
                  R"({"format":"quav-key","version":1,"key":"C","scale":"Major"})")}) {
    open({path});
    EXPECT_EQ(app.alerts, (std::vector<toolkit::Alert>{
                              {"This key file could not be opened.",
                               "Export a new .quavkey file from QUAV Lab. Nothing was sent to "
                               "Auto-Tune."}}))
        << path;
    app.alerts.clear();
  }
  EXPECT_EQ(delegate->pendingKey, kValidKey);
  EXPECT_EQ(statusLine().text, kStartingText);

  becomeReady();
  EXPECT_EQ(app.openedURLs, Urls{keyAddressFor(kLab, kValidKey)});
}

TEST_F(AppDelegateTest, QuittingInterruptsOnlyARunningServerOnce) {
  delegate->applicationWillTerminate();  // before the launch: no server at all
  launch();
  delegate->applicationWillTerminate();
  EXPECT_EQ(app.child->interrupts, 1);
  app.child->end();
  delegate->applicationWillTerminate();
  EXPECT_EQ(app.child->interrupts, 1);
}

TEST_F(AppDelegateTest, ReopeningBringsTheWindowFrontThenOpensTheLab) {
  launch();
  app.events.clear();
  EXPECT_TRUE(delegate->applicationShouldHandleReopen(true));
  EXPECT_THAT(app.events, ElementsAre("makeKeyAndOrderFront"));

  becomeReady();
  app.events.clear();
  EXPECT_TRUE(delegate->applicationShouldHandleReopen(false));
  EXPECT_THAT(app.events, ElementsAre("makeKeyAndOrderFront", "openURL"));
  EXPECT_EQ(app.openedURLs, (Urls{kLab, kLab}));
}

TEST(LauncherEntryPoint, RunsTheOneDelegateAndReturnsTheToolkitsResult) {
  FakeApplication& app = testing::sharedFakeApplication();
  std::string status;
  app.duringRun = [&status](FakeApplication& running) {
    status = dynamic_cast<FakeLabel&>(
                 *dynamic_cast<FakeStackView&>(*running.window->subviews.at(0)).views.at(2))
                 .text;
  };
  app.runResult = 3;
  std::string name = "tone_launcher";
  std::string document = "/tmp/a.quavkey";
  std::array<char*, 3> argv{name.data(), document.data(), nullptr};

  EXPECT_EQ(launcherEntryPoint(2, argv.data()), 3);
  EXPECT_EQ(app.runArguments, (Urls{name, document}));
  EXPECT_EQ(status, kStartingText);
  // The run quit with the server still running: it was interrupted on the way out.
  EXPECT_EQ(app.events.back(), "interrupt");
  EXPECT_EQ(app.delegate, nullptr);
}

}  // namespace
}  // namespace quav
