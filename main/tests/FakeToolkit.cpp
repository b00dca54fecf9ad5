#include "FakeToolkit.h"

namespace quav::testing {

void FakeWindow::setTitle(const std::string& value) {
  events_.push_back("setTitle");
  title = value;
}

void FakeWindow::center() {
  events_.push_back("center");
  centred = true;
}

void FakeWindow::addSubview(std::unique_ptr<toolkit::View> view) {
  events_.push_back("addSubview");
  subviews.push_back(std::move(view));
}

void FakeWindow::makeKeyAndOrderFront() {
  events_.push_back("makeKeyAndOrderFront");
  ++timesBroughtToFront;
}

std::optional<toolkit::LaunchError> FakeChildProcess::launch() {
  events_.push_back("launch");
  ++launches;
  if (launchFailure_) return toolkit::LaunchError{*launchFailure_};
  running = true;
  return std::nullopt;
}

void FakeChildProcess::interrupt() {
  events_.push_back("interrupt");
  ++interrupts;
}

void FakeChildProcess::writeOutput(const std::string& chunk) {
  if (output_ && !chunk.empty()) output_(chunk);
}

void FakeChildProcess::end() {
  running = false;
  if (termination_) termination_();
}

int FakeApplication::run(int argc, char** argv) {
  runArguments.assign(argv, argv + argc);
  if (delegate) delegate->applicationDidFinishLaunching();
  if (duringRun) duringRun(*this);
  if (delegate) delegate->applicationWillTerminate();
  return runResult;
}

void FakeApplication::setMainMenu(const toolkit::Menu& value) {
  events.push_back("setMainMenu");
  menu = value;
}

void FakeApplication::activateIgnoringOtherApps() {
  events.push_back("activateIgnoringOtherApps");
}

std::unique_ptr<toolkit::Window> FakeApplication::makeWindow(const toolkit::Rect& contentRect,
                                                             unsigned styleMask) {
  events.push_back("makeWindow");
  auto made = std::make_unique<FakeWindow>(contentRect, styleMask, events);
  window = made.get();
  return made;
}

std::unique_ptr<toolkit::Label> FakeApplication::makeLabel(const std::string& text) {
  return std::make_unique<FakeLabel>(text, false);
}

std::unique_ptr<toolkit::Label> FakeApplication::makeWrappingLabel(const std::string& text) {
  return std::make_unique<FakeLabel>(text, true);
}

std::unique_ptr<toolkit::Button> FakeApplication::makeButton(const std::string& title,
                                                             std::function<void()> action) {
  return std::make_unique<FakeButton>(title, std::move(action));
}

std::unique_ptr<toolkit::StackView> FakeApplication::makeStackView(
    std::vector<std::unique_ptr<toolkit::View>> views) {
  return std::make_unique<FakeStackView>(std::move(views));
}

std::unique_ptr<toolkit::ChildProcess> FakeApplication::makeChildProcess() {
  events.push_back("makeChildProcess");
  auto made = std::make_unique<FakeChildProcess>(launchFailure, events);
  child = made.get();
  return made;
}

void FakeApplication::runModalAlert(const toolkit::Alert& alert) {
  events.push_back("runModalAlert");
  alerts.push_back(alert);
}

bool FakeApplication::openURL(const std::string& url) {
  events.push_back("openURL");
  openedURLs.push_back(url);
  return browserTakesAddresses;
}

void FakeApplication::postToMainQueue(std::function<void()> task) {
  const std::lock_guard lock(queueMutex_);
  queue_.push_back(std::move(task));
}

int FakeApplication::runMainQueue() {
  int ran = 0;
  for (;;) {
    std::function<void()> task;
    {
      const std::lock_guard lock(queueMutex_);
      if (queue_.empty()) return ran;
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    task();
    ++ran;
  }
}

std::size_t FakeApplication::pendingTasks() const {
  const std::lock_guard lock(queueMutex_);
  return queue_.size();
}

FakeApplication& sharedFakeApplication() {
  static FakeApplication application;
  return application;
}

}  // namespace quav::testing

namespace quav::toolkit {

Application& sharedApplication() {
  return testing::sharedFakeApplication();
}

}  // namespace quav::toolkit
