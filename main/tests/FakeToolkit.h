// A recording fake of the toolkit seam: it keeps what the launcher shows and hands over, and
// lets a test play the desktop and the Lab server (output in chunks of its choosing, the
// server's end, a failed launch) and run the main queue when it chooses. Main thread only.
#pragma once

#include <cstdlib>
#include <deque>
#include <fstream>

#include "toolkit/Toolkit.h"

namespace quav::fake {

using namespace toolkit;
using Strings = std::vector<std::string>;

// A label or a button: the launcher sees only the interface it asked for.
struct Control final : Label, Button {
  Control(std::string text, std::function<void()> action = {}) : text(text), action(action) {}
  void setStringValue(const std::string& value) override { text = value; }
  void setFont(const Font&) override {}
  void setEnabled(bool value) override { enabled = value; }
  std::string text;
  std::function<void()> action;
  bool enabled = true;
};

struct Stack final : View {
  explicit Stack(std::vector<std::unique_ptr<View>> views) : views(std::move(views)) {}
  std::vector<std::unique_ptr<View>> views;
};

struct AppWindow final : Window {
  void setTitle(const std::string& value) override { title = value; }
  void addSubview(std::unique_ptr<View> view) override { content = std::move(view); }
  void makeKeyAndOrderFront() override { ++fronts; }
  std::string title;
  std::unique_ptr<View> content;
  int fronts = 0;
};

// The server's side is what the toolkit's reader and process watcher would do: write, end().
struct Server final : ChildProcess {
  explicit Server(std::optional<LaunchError> failure) : failure(failure) {}
  void setExecutable(const std::filesystem::path& value) override { executable = value; }
  void setArguments(const Strings& value) override { arguments = value; }
  void setStandardOutputHandler(OutputHandler handler) override { write = handler; }
  void setStandardErrorToNullDevice() override { errorDiscarded = true; }
  void setTerminationHandler(TerminationHandler handler) override { terminated = handler; }
  std::optional<LaunchError> launch() override { return failure; }
  bool isRunning() const override { return !failure && !ended; }
  void interrupt() override { ++interrupts; }
  void end() {
    ended = true;
    terminated();
  }

  std::optional<LaunchError> failure;
  std::filesystem::path executable;
  Strings arguments;
  bool errorDiscarded = false, ended = false;
  int interrupts = 0;
  OutputHandler write;
  TerminationHandler terminated;
};

class Application final : public toolkit::Application {
 public:
  void setDelegate(ApplicationDelegate*) override {}
  int run(int, char**) override { return 0; }
  void setMainMenu(const Menu& value) override { menu = value; }
  void activateIgnoringOtherApps() override { ++activations; }
  std::unique_ptr<Window> makeWindow(const Rect&, WindowStyle) override {
    return std::unique_ptr<Window>(window = new AppWindow);
  }
  std::unique_ptr<Label> makeLabel(const std::string& text) override { return make(text); }
  std::unique_ptr<Label> makeWrappingLabel(const std::string& text) override { return make(text); }
  std::unique_ptr<Button> makeButton(const std::string& title,
                                     std::function<void()> action) override {
    return make(title, action);
  }
  std::unique_ptr<View> makeStackView(std::vector<std::unique_ptr<View>> views, double,
                                      const Rect&) override {
    return std::unique_ptr<View>(stack = new Stack(std::move(views)));
  }
  std::unique_ptr<ChildProcess> makeChildProcess() override {
    return std::unique_ptr<ChildProcess>(child = new Server(launchFailure));
  }
  void runModalAlert(const Alert& alert) override { alerts.push_back(alert); }
  bool openURL(const std::string& url) override {
    opened.push_back(url);
    return browserTakesAddresses;
  }
  void postToMainQueue(std::function<void()> task) override { queue_.push_back(task); }
  std::optional<std::filesystem::path> resourceDirectory() const override { return resources; }

  // Runs posted tasks, also those they post, until none is left.
  void runMainQueue() {
    for (; !queue_.empty(); queue_.pop_front()) queue_.front()();
  }
  // The window's views top to bottom: a label's text, a button's title ("[off]" when disabled).
  Strings shown() const {
    Strings texts;
    for (const auto& view : stack->views)
      texts.push_back(control(*view).text + (control(*view).enabled ? "" : " [off]"));
    return texts;
  }
  // As on screen, a disabled button takes no click.
  void click(std::size_t index) const {
    if (const auto& button = control(*stack->views.at(index)); button.enabled) button.action();
  }

  // What the launcher made, and owns.
  AppWindow* window = nullptr;
  Stack* stack = nullptr;
  Server* child = nullptr;

  std::optional<std::filesystem::path> resources = "/opt/quav/resources";
  std::optional<LaunchError> launchFailure;
  bool browserTakesAddresses = true;
  std::optional<Menu> menu;
  int activations = 0;
  Strings opened;
  std::vector<Alert> alerts;

 private:
  static std::unique_ptr<Control> make(auto... made) { return std::make_unique<Control>(made...); }
  static const Control& control(const View& view) { return dynamic_cast<const Control&>(view); }

  std::deque<std::function<void()>> queue_;
};

// A private directory for the files a test hands over, removed with them.
struct ScratchDirectory {
  std::filesystem::path write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path / name, std::ios::binary) << bytes;
    return path / name;
  }
  ~ScratchDirectory() { std::filesystem::remove_all(path); }
  std::string pattern = (std::filesystem::temp_directory_path() / "quav-test-XXXXXX").string();
  const std::filesystem::path path = mkdtemp(pattern.data());
};

}  // namespace quav::fake
