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
  void setOrientation(toolkit::Orientation value) override { orientation = value; }
  void setAlignment(toolkit::Alignment value) override { alignment = value; }
  void setSpacing(double value) override { spacing = value; }
  void setFrame(const toolkit::Rect& value) override { frame = value; }

  std::vector<std::unique_ptr<toolkit::View>> views;
  std::optional<toolkit::Orientation> orientation;
  std::optional<toolkit::Alignment> alignment;
  std::optional<double> spacing;
  std::optional<toolkit::Rect> frame;
};

// The order in which the launcher asked for things that the user can see or the server feels.
using EventLog = std::vector<std::string>;

class FakeWindow final : public toolkit::Window {
 public:
  FakeWindow(const toolkit::Rect& contentRect, unsigned styleMask, EventLog& events)
      : contentRect(contentRect), styleMask(styleMask), events_(events) {}
  void setTitle(const std::string& value) override;
  void center() override;
  void addSubview(std::unique_ptr<toolkit::View> view) override;
  void makeKeyAndOrderFront() override;

  toolkit::Rect contentRect;
  unsigned styleMask;
  std::string title;
  bool centred = false;
  std::vector<std::unique_ptr<toolkit::View>> subviews;
  int timesBroughtToFront = 0;

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
  std::optional<toolkit::LaunchError> launch() override;
  bool isRunning() const override { return running; }
  void interrupt() override;

  // The server's side, as the toolkit's background reader and process watcher would see it.
  void writeOutput(const std::string& chunk);
  void end();

  std::filesystem::path executable;
  std::vector<std::string> arguments;
  bool standardErrorDiscarded = false;
  int launches = 0;
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
  int run(int argc, char** argv) override;
  void setMainMenu(const toolkit::Menu& value) override;
  void activateIgnoringOtherApps() override;
  std::unique_ptr<toolkit::Window> makeWindow(const toolkit::Rect& contentRect,
                                              unsigned styleMask) override;
  std::unique_ptr<toolkit::Label> makeLabel(const std::string& text) override;
  std::unique_ptr<toolkit::Label> makeWrappingLabel(const std::string& text) override;
  std::unique_ptr<toolkit::Button> makeButton(const std::string& title,
                                              std::function<void()> action) override;
  std::unique_ptr<toolkit::StackView> makeStackView(
      std::vector<std::unique_ptr<toolkit::View>> views) override;
  std::unique_ptr<toolkit::ChildProcess> makeChildProcess() override;
  void runModalAlert(const toolkit::Alert& alert) override;
  bool openURL(const std::string& url) override;
  void postToMainQueue(std::function<void()> task) override;
  std::filesystem::path resourceDirectory() const override { return "/opt/quav-lab/resources"; }

  // Runs posted tasks, also those they post, until the queue is empty; tells how many ran.
  int runMainQueue();
  std::size_t pendingTasks() const;

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
  mutable std::mutex queueMutex_;
  std::deque<std::function<void()>> queue_;
};

// The fake that toolkit::sharedApplication() returns in the tests.
FakeApplication& sharedFakeApplication();

}  // namespace quav::testing
