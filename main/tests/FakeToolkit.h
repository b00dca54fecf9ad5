// A recording fake of the toolkit seam: it keeps everything the launcher builds and hands
// over, and lets a test play the desktop and the Lab server (output in chunks of its choosing,
// the server's end, a failed launch) and run the main queue when it chooses.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "toolkit/Toolkit.h"

namespace quav::testing {

class FakeLabel final : public toolkit::Label {
 public:
  FakeLabel(std::string text, bool wrapping) : text(std::move(text)), wrapping(wrapping) {}
  void setStringValue(const std::string& value) override { text = value; }
  void setFont(const toolkit::Font& value) override { font = value; }

  std::string text;
  bool wrapping;
  std::optional<toolkit::Font> font;
};

class FakeButton final : public toolkit::Button {
 public:
  FakeButton(std::string title, std::function<void()> action)
      : title(std::move(title)), action(std::move(action)) {}
  void setEnabled(bool value) override { enabled = value; }
  // What a click does: the action runs only while the button is enabled.
  void click() {
    if (enabled) action();
  }

  std::string title;
  std::function<void()> action;
  bool enabled = true;
};

class FakeStackView final : public toolkit::StackView {
 public:
  explicit FakeStackView(std::vector<std::unique_ptr<toolkit::View>> views)
      : views(std::move(views)) {}
  void setOrientation(toolkit::Orientation) override {}
  void setAlignment(toolkit::Alignment) override {}
  void setSpacing(double) override {}
  void setFrame(const toolkit::Rect& value) override { frame = value; }

  std::vector<std::unique_ptr<toolkit::View>> views;
  std::optional<toolkit::Rect> frame;
};

// The order in which the launcher asked for things that the user can see or the server feels.
using EventLog = std::vector<std::string>;

class FakeWindow final : public toolkit::Window {
 public:
  FakeWindow(const toolkit::Rect& contentRect, unsigned styleMask, EventLog& events)
      : contentRect(contentRect), styleMask(styleMask), events_(events) {}
  void setTitle(const std::string& value) override {
    events_.push_back("setTitle");
    title = value;
  }
  void center() override { events_.push_back("center"); }
  void addSubview(std::unique_ptr<toolkit::View> view) override {
    events_.push_back("addSubview");
    subviews.push_back(std::move(view));
  }
  void makeKeyAndOrderFront() override { events_.push_back("makeKeyAndOrderFront"); }

  toolkit::Rect contentRect;
  unsigned styleMask;
  std::string title;
  std::vector<std::unique_ptr<toolkit::View>> subviews;

 private:
  EventLog& events_;
};

class FakeChildProcess final : public toolkit::ChildProcess {
 public:
  FakeChildProcess(std::optional<std::string> launchFailure, EventLog& events)
      : launchFailure_(std::move(launchFailure)), events_(events) {}
  void setExecutable(const std::filesystem::path& value) override { executable = value; }
  void setArguments(const std::vector<std::string>& value) override { arguments = value; }
  void setStandardOutputHandler(OutputHandler handler) override { output_ = std::move(handler); }
  void setStandardErrorToNullDevice() override { standardErrorDiscarded = true; }
  void setTerminationHandler(TerminationHandler handler) override {
    termination_ = std::move(handler);
  }
  std::optional<toolkit::LaunchError> launch() override {
    events_.push_back("launch");
    if (launchFailure_) return toolkit::LaunchError{*launchFailure_};
    running = true;
    return std::nullopt;
  }
  bool isRunning() const override { return running; }
  void interrupt() override {
    events_.push_back("interrupt");
    ++interrupts;
  }

  // The server's side, as the toolkit's background reader and process watcher would see it.
  void writeOutput(const std::string& chunk) {
    if (output_ && !chunk.empty()) output_(chunk);
  }
  void end() {
    running = false;
    if (termination_) termination_();
  }

  std::filesystem::path executable;
  std::vector<std::string> arguments;
  bool standardErrorDiscarded = false;
  bool running = false;
  int interrupts = 0;

 private:
  std::optional<std::string> launchFailure_;
  EventLog& events_;
  OutputHandler output_;
  TerminationHandler termination_;
};

class FakeApplication final : public toolkit::Application {
 public:
  void setDelegate(toolkit::ApplicationDelegate* value) override { delegate = value; }
  // Plays a whole run: the launch, then whatever the test scripts, then the result it chose.
  int run(int argc, char** argv) override {
    runArguments.assign(argv, argv + argc);
    if (delegate) delegate->applicationDidFinishLaunching();
    if (duringRun) duringRun(*this);
    if (delegate) delegate->applicationWillTerminate();
    return runResult;
  }
  void setMainMenu(const toolkit::Menu& value) override {
    events.push_back("setMainMenu");
    menu = value;
  }
  void activateIgnoringOtherApps() override { events.push_back("activateIgnoringOtherApps"); }
  std::unique_ptr<toolkit::Window> makeWindow(const toolkit::Rect& contentRect,
                                              unsigned styleMask) override {
    events.push_back("makeWindow");
    auto made = std::make_unique<FakeWindow>(contentRect, styleMask, events);
    window = made.get();
    return made;
  }
  std::unique_ptr<toolkit::Label> makeLabel(const std::string& text) override {
    return std::make_unique<FakeLabel>(text, false);
  }
  std::unique_ptr<toolkit::Label> makeWrappingLabel(const std::string& text) override {
    return std::make_unique<FakeLabel>(text, true);
  }
  std::unique_ptr<toolkit::Button> makeButton(const std::string& title,
                                              std::function<void()> action) override {
    return std::make_unique<FakeButton>(title, std::move(action));
  }
  std::unique_ptr<toolkit::StackView> makeStackView(
      std::vector<std::unique_ptr<toolkit::View>> views) override {
    return std::make_unique<FakeStackView>(std::move(views));
  }
  std::unique_ptr<toolkit::ChildProcess> makeChildProcess() override {
    events.push_back("makeChildProcess");
    auto made = std::make_unique<FakeChildProcess>(launchFailure, events);
    child = made.get();
    return made;
  }
  void runModalAlert(const toolkit::Alert& alert) override {
    events.push_back("runModalAlert");
    alerts.push_back(alert);
  }
  bool openURL(const std::string& url) override {
    events.push_back("openURL");
    openedURLs.push_back(url);
    return browserTakesAddresses;
  }
  void postToMainQueue(std::function<void()> task) override {
    const std::lock_guard lock(queueMutex_);
    queue_.push_back(std::move(task));
  }
  std::filesystem::path resourceDirectory() const override { return "/opt/quav-lab/resources"; }

  // Runs posted tasks, also those they post, until the queue is empty; tells how many ran.
  int runMainQueue() {
    for (int ran = 0;; ++ran) {
      std::function<void()> task;
      {
        const std::lock_guard lock(queueMutex_);
        if (queue_.empty()) return ran;
        task = std::move(queue_.front());
        queue_.pop_front();
      }
      task();
    }
  }

  // What the launcher made; the launcher owns these, so they live as long as it does.
  FakeWindow* window = nullptr;
  FakeChildProcess* child = nullptr;

  toolkit::ApplicationDelegate* delegate = nullptr;
  EventLog events;
  std::optional<toolkit::Menu> menu;
  std::vector<std::string> openedURLs;
  bool browserTakesAddresses = true;
  std::vector<toolkit::Alert> alerts;
  std::optional<std::string> launchFailure;  // the description a launch fails with, if set
  std::vector<std::string> runArguments;
  std::function<void(FakeApplication&)> duringRun;
  int runResult = 0;

 private:
  std::mutex queueMutex_;
  std::deque<std::function<void()>> queue_;
};

// The fake that toolkit::sharedApplication() returns in the tests.
FakeApplication& sharedFakeApplication();

}  // namespace quav::testing
