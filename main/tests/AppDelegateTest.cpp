#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

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

const std::string kStartingText = "Starting QUAV Lab\u2026";
const std::string kReadyText =
    "Ready. Audio stays on this Mac. Quit this app when you\u2019re finished.";
const std::string kStoppedText = "QUAV Lab stopped. Quit and reopen this app to restart.";
const std::string kLab = "http://127.0.0.1:8123/";
const std::string kValidKey = R"({"format":"quav-key","version":1,"key":"C#","scale":"minor"})";
const toolkit::Alert kRejectionAlert{
    "This key file could not be opened.",
    "Export a new .quavkey file from QUAV Lab. Nothing was sent to Auto-Tune."};

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
    std::vector<std::string> urls;
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

TEST_F(AppDelegateTest, StartsWithEmptyStateAndMakesNothing) {
  EXPECT_EQ(delegate->window, nullptr);
  EXPECT_EQ(delegate->child, nullptr);
  EXPECT_FALSE(delegate->localURL);
  EXPECT_EQ(delegate->status, nullptr);
  EXPECT_EQ(delegate->openButton, nullptr);
  EXPECT_EQ(delegate->output, "");
  EXPECT_FALSE(delegate->pendingKey);
  EXPECT_TRUE(app.events.empty());
}

TEST_F(AppDelegateTest, ShowsTheWindowBeforeStartingTheServer) {
  launch();
  EXPECT_THAT(app.events, ElementsAre("setMainMenu", "makeWindow", "setTitle", "center",
                                      "addSubview", "makeKeyAndOrderFront",
                                      "activateIgnoringOtherApps", "makeChildProcess", "launch"));
}

TEST_F(AppDelegateTest, BuildsTheMenuWithOneQuitItem) {
  launch();
  const toolkit::MenuItem quit{"Quit QUAV Lab", toolkit::MenuAction::kTerminate, "q", {}};
  EXPECT_EQ(app.menu, (toolkit::Menu{{toolkit::MenuItem{"", std::nullopt, "", {quit}}}}));
}

TEST_F(AppDelegateTest, BuildsTheWindowAndItsFiveViews) {
  launch();
  ASSERT_NE(app.window, nullptr);
  EXPECT_EQ(delegate->window.get(), app.window);
  EXPECT_EQ(app.window->contentRect, (toolkit::Rect{0, 0, 480, 270}));
  EXPECT_EQ(app.window->styleMask, 7u);
  EXPECT_EQ(app.window->title, "QUAV Lab");
  EXPECT_TRUE(app.window->centred);
  EXPECT_EQ(app.window->timesBroughtToFront, 1);

  ASSERT_EQ(app.window->subviews.size(), 1u);
  EXPECT_EQ(stack().orientation, toolkit::Orientation::kVertical);
  EXPECT_EQ(stack().alignment, toolkit::Alignment::kLeading);
  EXPECT_EQ(stack().spacing, 18);
  EXPECT_EQ(stack().frame, (toolkit::Rect{28, 25, 424, 220}));
  ASSERT_EQ(stack().views.size(), 5u);

  EXPECT_EQ(label(0).text, "Find the key. Keep your audio local.");
  EXPECT_FALSE(label(0).wrapping);
  EXPECT_EQ(label(0).font, toolkit::Font::boldSystemFont(20));
  EXPECT_EQ(label(1).text,
            "Analyze beats without installing Python or opening Terminal or Codex. DAW "
            "connections are optional and start when you press Find in QUAV Lab.");
  EXPECT_TRUE(label(1).wrapping);
  EXPECT_EQ(label(1).font, std::nullopt);
  EXPECT_EQ(statusLine().text, kStartingText);
  EXPECT_TRUE(statusLine().wrapping);
  EXPECT_EQ(delegate->status, &statusLine());

  EXPECT_EQ(openButton().title, "Open QUAV Lab");
  EXPECT_FALSE(openButton().enabled);
  EXPECT_EQ(delegate->openButton, &openButton());
  EXPECT_EQ(guideButton().title, "Setup & optional DAW connections");
  EXPECT_TRUE(guideButton().enabled);
}

TEST_F(AppDelegateTest, StartsTheServerWithItsFixedCommandLine) {
  launch();
  ASSERT_NE(app.child, nullptr);
  EXPECT_EQ(delegate->child.get(), app.child);
  EXPECT_EQ(app.child->executable, "/opt/quav-lab/resources/backend/tonvex-server");
  EXPECT_THAT(app.child->arguments, ElementsAre("--no-browser", "--port", "0"));
  EXPECT_TRUE(app.child->standardErrorDiscarded);
  EXPECT_EQ(app.child->launches, 1);
}

TEST_F(AppDelegateTest, ReportsAFailedLaunchAndNeverSignalsTheServer) {
  app.launchFailure = "Failed to execute child process \u201Cx\u201D (No such file or directory)";
  launch();
  EXPECT_EQ(statusLine().text, "Could not start QUAV Lab: " + *app.launchFailure);
  EXPECT_FALSE(openButton().enabled);
  EXPECT_TRUE(guideButton().enabled);
  EXPECT_NE(delegate->child, nullptr);
  delegate->applicationWillTerminate();
  EXPECT_EQ(app.child->interrupts, 0);
}

TEST_F(AppDelegateTest, ServerCallbacksOnlyPostToTheMainQueue) {
  launch();
  app.child->writeOutput(readinessLine(kLab));
  app.child->end();
  EXPECT_EQ(delegate->output, "");
  EXPECT_EQ(statusLine().text, kStartingText);
  EXPECT_TRUE(app.openedURLs.empty());
  EXPECT_EQ(app.runMainQueue(), 2);
  EXPECT_EQ(app.openedURLs, std::vector{kLab});
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

TEST_F(AppDelegateTest, ServerEndingBeforeReadinessShowsTheStopText) {
  launch();
  serverEnds();
  EXPECT_EQ(statusLine().text, kStoppedText);
  EXPECT_FALSE(openButton().enabled);
  EXPECT_FALSE(delegate->localURL);
}

TEST_F(AppDelegateTest, BecomesReadyOnceAndOpensTheLab) {
  launch();
  becomeReady();
  ASSERT_TRUE(delegate->localURL);
  EXPECT_EQ(delegate->localURL->buffer(), kLab);
  EXPECT_EQ(statusLine().text, kReadyText);
  EXPECT_TRUE(openButton().enabled);
  EXPECT_EQ(app.openedURLs, std::vector{kLab});

  // Every later chunk rescans the whole output and changes nothing.
  serverWrites(readinessLine("http://127.0.0.1:9999/"));
  serverWrites("more\n");
  EXPECT_EQ(delegate->localURL->buffer(), kLab);
  EXPECT_EQ(app.openedURLs, std::vector{kLab});
}

TEST_F(AppDelegateTest, TheFirstAcceptableAddressWins) {
  launch();
  serverWrites("starting\n" + readinessLine("http://localhost:1/") +
               readinessLine("http://127.0.0.1:2/a") + readinessLine("http://127.0.0.1:3/b"));
  EXPECT_EQ(app.openedURLs, std::vector<std::string>{"http://127.0.0.1:2/a"});
}

TEST_F(AppDelegateTest, AcceptsAReadinessLineSplitOverChunks) {
  launch();
  serverWrites("QUAV Tonv");
  serverWrites("ex is ready: http://127.0");
  EXPECT_FALSE(delegate->localURL);
  serverWrites(".0.1:8123/\n");
  EXPECT_EQ(app.openedURLs, std::vector{kLab});
}

TEST_F(AppDelegateTest, TakesAnUnterminatedAddressOnceItParses) {
  launch();
  serverWrites("QUAV Tonvex is ready: http://127.0.0.1:81");
  serverWrites("23/\n");
  EXPECT_EQ(app.openedURLs, std::vector<std::string>{"http://127.0.0.1:81"});
}

TEST_F(AppDelegateTest, FindsTheLineAfterInvalidUtf8AndSplitCharacters) {
  launch();
  serverWrites("\xFF\xC0\xAF garbage \xE2\x80");
  serverWrites("\xA6\n\xED\xA0\x80\n" + readinessLine(kLab));
  EXPECT_EQ(app.openedURLs, std::vector{kLab});
}

TEST_F(AppDelegateTest, IgnoresLinesThatAreNotReadinessLines) {
  launch();
  serverWrites("12:00 " + readinessLine(kLab));
  serverWrites("QUAV Tonvex is ready: http://127.0.0.1:8123/\r\n");
  serverWrites(readinessLine("127.0.0.1:8123"));
  EXPECT_FALSE(delegate->localURL);
  EXPECT_EQ(statusLine().text, kStartingText);
  EXPECT_FALSE(openButton().enabled);
  EXPECT_TRUE(app.openedURLs.empty());
}

TEST_F(AppDelegateTest, RefusesEveryChunkOnceTheOutputHolds16KiB) {
  launch();
  std::string filler(16383, 'x');
  filler.back() = '\n';
  serverWrites(filler + "\n");
  EXPECT_EQ(delegate->output.size(), 16384u);
  serverWrites(readinessLine(kLab));
  EXPECT_EQ(delegate->output.size(), 16384u);
  EXPECT_FALSE(delegate->localURL);
}

TEST_F(AppDelegateTest, TakesTheWholeChunkThatCrossesTheCap) {
  launch();
  std::string filler(16383, 'x');
  filler.back() = '\n';
  serverWrites(filler);
  const std::string crossing = std::string(5000, 'y') + "\n" + readinessLine(kLab);
  serverWrites(crossing);
  EXPECT_EQ(delegate->output, filler + crossing);
  EXPECT_EQ(app.openedURLs, std::vector{kLab});
  serverWrites("z");
  EXPECT_EQ(delegate->output, filler + crossing);
}

TEST_F(AppDelegateTest, OutputHandledAfterTheStopStillMakesTheLabReady) {
  launch();
  app.child->end();
  app.child->writeOutput(readinessLine(kLab));
  app.runMainQueue();
  EXPECT_EQ(statusLine().text, kReadyText);
  EXPECT_EQ(app.openedURLs, std::vector{kLab});
}

TEST_F(AppDelegateTest, AStopAfterReadinessKeepsTheLabAddress) {
  launch();
  becomeReady();
  serverEnds();
  EXPECT_EQ(statusLine().text, kStoppedText);
  EXPECT_FALSE(openButton().enabled);
  ASSERT_TRUE(delegate->localURL);
  EXPECT_EQ(delegate->localURL->buffer(), kLab);

  EXPECT_TRUE(delegate->applicationShouldHandleReopen(false));
  guideButton().click();
  EXPECT_EQ(app.openedURLs, (std::vector<std::string>{kLab, kLab, kLab + "CONNECT.html"}));
}

TEST_F(AppDelegateTest, OpenAndGuideDoNothingBeforeReadiness) {
  launch();
  openKey(kValidKey);
  delegate->openLab();
  guideButton().click();
  EXPECT_TRUE(app.openedURLs.empty());
  EXPECT_EQ(delegate->pendingKey, kValidKey);
}

TEST_F(AppDelegateTest, ButtonsOpenTheLabAndTheGuide) {
  launch();
  becomeReady("http://127.0.0.1:8123/lab?x=1#intro");
  openButton().click();
  guideButton().click();
  EXPECT_EQ(app.openedURLs,
            (std::vector<std::string>{"http://127.0.0.1:8123/lab?x=1#intro",
                                      "http://127.0.0.1:8123/lab?x=1#intro",
                                      "http://127.0.0.1:8123/lab/CONNECT.html?x=1#intro"}));
}

TEST_F(AppDelegateTest, AKeyOpenedBeforeReadinessRidesTheFirstOpeningOnce) {
  launch();
  openKey(kValidKey);
  EXPECT_EQ(delegate->pendingKey, kValidKey);
  EXPECT_TRUE(app.openedURLs.empty());
  becomeReady("http://127.0.0.1:8123/lab?x=1#intro");
  EXPECT_FALSE(delegate->pendingKey);
  openButton().click();
  EXPECT_EQ(app.openedURLs,
            (std::vector<std::string>{keyAddressFor("http://127.0.0.1:8123/lab?x=1", kValidKey),
                                      "http://127.0.0.1:8123/lab?x=1#intro"}));
}

TEST_F(AppDelegateTest, AKeyOpenedAfterReadinessGoesOutAtOnceEvenIfTheBrowserRefuses) {
  launch();
  becomeReady();
  app.browserTakesAddresses = false;
  openKey(kValidKey);
  EXPECT_EQ(app.openedURLs, (std::vector{kLab, keyAddressFor(kLab, kValidKey)}));
  EXPECT_FALSE(delegate->pendingKey);
}

TEST_F(AppDelegateTest, OnlyTheLastKeyOpenedBeforeReadinessReachesTheLab) {
  launch();
  const std::string second = R"({"format":"quav-key","version":1,"key":"Eb","scale":"major"})";
  openKey(kValidKey, "first.quavkey");
  openKey(second, "second.quavkey");
  guideButton().click();
  becomeReady();
  EXPECT_EQ(app.openedURLs, std::vector{keyAddressFor(kLab, second)});
}

TEST_F(AppDelegateTest, DeliversTheKeyFileBytesUnchanged) {
  launch();
  becomeReady();
  std::string bytes =
      "{\n  \"scale\": \"major\",\n  \"key\": \"Bb\",\n  \"version\": 1.0,\n"
      "  \"format\": \"quav-key\"\n}\n";
  bytes.resize(4096, ' ');
  openKey(bytes, "Padded.QuavKey");
  EXPECT_TRUE(app.alerts.empty());
  EXPECT_EQ(app.openedURLs.back(), keyAddressFor(kLab, bytes));
}

TEST_F(AppDelegateTest, AcceptsKeysBeforeTheLaunch) {
  openKey(kValidKey);
  EXPECT_EQ(delegate->pendingKey, kValidKey);
  launch();
  becomeReady();
  EXPECT_EQ(app.openedURLs, std::vector{keyAddressFor(kLab, kValidKey)});
}

TEST_F(AppDelegateTest, IgnoresWhatIsNotOneKeyFileWithoutAWord) {
  launch();
  becomeReady();
  const auto first = writeFile("a.quavkey", kValidKey);
  const auto second = writeFile("b.quavkey", kValidKey);
  delegate->applicationOpenURLs({});
  open({first, second});
  delegate->applicationOpenURLs({"http://127.0.0.1:8123/a.quavkey"});
  open({writeFile("key.json", kValidKey)});
  open({writeFile("key", kValidKey)});
  open({writeFile("invalid.txt", "not json")});
  EXPECT_TRUE(app.alerts.empty());
  EXPECT_FALSE(delegate->pendingKey);
  EXPECT_EQ(app.openedURLs, std::vector{kLab});
}

TEST_F(AppDelegateTest, RejectsBadKeyFilesWithOneAlertAndChangesNothing) {
  launch();
  openKey(kValidKey, "pending.quavkey");
  const auto fifo = std::filesystem::path(directory.path()) / "fifo.quavkey";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const auto folder = std::filesystem::path(directory.path()) / "folder.quavkey";
  std::filesystem::create_directory(folder);
  const std::vector<std::filesystem::path> rejected = {
      std::filesystem::path(directory.path()) / "missing.quavkey",
      folder,
      fifo,
      writeFile("large.quavkey", kValidKey + std::string(4097 - kValidKey.size(), ' ')),
      writeFile("empty.quavkey", ""),
      writeFile("major.quavkey", R"({"format":"quav-key","version":1,"key":"C","scale":"Major"})"),
  };
  for (const auto& path : rejected) {
    open({path});
    EXPECT_EQ(app.alerts.size(), 1u) << path;
    EXPECT_EQ(app.alerts.back(), kRejectionAlert) << path;
    app.alerts.clear();
  }
  EXPECT_EQ(delegate->pendingKey, kValidKey);
  EXPECT_EQ(statusLine().text, kStartingText);
  EXPECT_FALSE(openButton().enabled);

  becomeReady();
  EXPECT_EQ(app.openedURLs, std::vector{keyAddressFor(kLab, kValidKey)});
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
  EXPECT_EQ(app.openedURLs, (std::vector{kLab, kLab}));
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
  EXPECT_EQ(app.runArguments, (std::vector<std::string>{name, document}));
  EXPECT_EQ(status, kStartingText);
  // The run quit with the server still running: it was interrupted on the way out.
  EXPECT_EQ(app.events.back(), "interrupt");
  EXPECT_EQ(app.delegate, nullptr);
}

}  // namespace
}  // namespace quav
