// A recording fake of the toolkit seam: it keeps what the launcher shows and hands over, and
// lets a test play the desktop and the Lab server (output in chunks of its choosing, the
// server's end, a failed launch) and run the main queue when it chooses. Main thread only.
#pragma once

#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "toolkit/Toolkit.h"

namespace quav::fake {

using namespace toolkit;
using Strings = std::vector<std::string>;

struct TextLabel final : Label {
  explicit TextLabel(std::string text) : text(std::move(text)) {}
  void setStringValue(const std::string& value) override { text = value; }
  void setFont(const Font&) override {}
  std::string text;
};

struct PushButton final : Button {
  PushButton(std::string title, std::function<void()> action) : title(title), action(action) {}
  void setEnabled(bool value) override { enabled = value; }
  std::string title;
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
  explicit Server(std::optional<std::string> failure) : failure(failure) {}
  void setExecutable(const std::filesystem::path& value) override { executable = value; }
  void setArguments(const Strings& value) override { arguments = value; }
  void setStandardOutputHandler(OutputHandler handler) override { write = handler; }
  void setStandardErrorToNullDevice() override { errorDiscarded = true; }
  void setTerminationHandler(TerminationHandler handler) override { ended = handler; }
  std::optional<LaunchError> launch() override {
    running = !failure;
    return failure ? std::optional(LaunchError{*failure}) : std::nullopt;
  }
  bool isRunning() const override { return running; }
  void interrupt() override { ++interrupts; }
  void end() {
    running = false;
    ended();
  }

  std::optional<std::string> failure;
  std::filesystem::path executable;
  Strings arguments;
  bool errorDiscarded = false, running = false;
  int interrupts = 0;
  OutputHandler write;
  TerminationHandler ended;
};

class Application final : public toolkit::Application {
 public:
  void setDelegate(ApplicationDelegate*) override {}
  int run(int, char**) override { return 0; }
  void setMainMenu(const Menu& value) override { menu = value; }
  void activateIgnoringOtherApps() override {}
  std::unique_ptr<Window> makeWindow(const Rect&, WindowStyle) override { return made(window); }
  std::unique_ptr<Label> makeLabel(const std::string& text) override { return label(text); }
  std::unique_ptr<Label> makeWrappingLabel(const std::string& text) override { return label(text); }
  std::unique_ptr<Button> makeButton(const std::string& title,
                                     std::function<void()> action) override {
    return std::make_unique<PushButton>(title, action);
  }
  std::unique_ptr<View> makeStackView(std::vector<std::unique_ptr<View>> views, double,
                                      const Rect&) override {
    return made(stack, std::move(views));
  }
  std::unique_ptr<ChildProcess> makeChildProcess() override { return made(child, launchFailure); }
  void runModalAlert(const Alert& alert) override { alerts.push_back(alert); }
  bool openURL(const std::string& url) override {
    opened.push_back(url);
    return browserTakesAddresses;
  }
  void postToMainQueue(std::function<void()> task) override { queue_.push_back(task); }
  std::filesystem::path resourceDirectory() const override { return "/opt/quav/resources"; }

  // Runs posted tasks, also those they post, until none is left.
  void runMainQueue() {
    for (; !queue_.empty(); queue_.pop_front()) queue_.front()();
  }
  // The window's views top to bottom: a label's text, a button's title ("[off]" when disabled).
  Strings shown() const {
    Strings texts;
    for (const auto& view : stack->views) {
      const auto* button = dynamic_cast<const PushButton*>(view.get());
      texts.push_back(button ? button->title + (button->enabled ? "" : " [off]")
                             : dynamic_cast<const TextLabel&>(*view).text);
    }
    return texts;
  }
  // As on screen, a disabled button takes no click.
  void click(std::size_t index) const {
    auto& button = dynamic_cast<PushButton&>(*stack->views.at(index));
    if (button.enabled) button.action();
  }

  // What the launcher made, and owns.
  AppWindow* window = nullptr;
  Stack* stack = nullptr;
  Server* child = nullptr;

  std::optional<std::string> launchFailure;
  bool browserTakesAddresses = true;
  std::optional<Menu> menu;
  Strings opened;
  std::vector<Alert> alerts;

 private:
  template <typename Made, typename... Arguments>
  std::unique_ptr<Made> made(Made*& record, Arguments&&... arguments) {
    auto object = std::make_unique<Made>(std::forward<Arguments>(arguments)...);
    record = object.get();
    return object;
  }
  std::unique_ptr<Label> label(const std::string& text) {
    return std::make_unique<TextLabel>(text);
  }

  std::deque<std::function<void()>> queue_;
};

// A private directory for the files a test hands over, removed with them.
struct ScratchDirectory {
  std::filesystem::path operator/(const std::string& name) const { return path / name; }
  std::filesystem::path write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path / name, std::ios::binary) << bytes;
    return path / name;
  }
  ~ScratchDirectory() { std::filesystem::remove_all(path); }
  std::string pattern = (std::filesystem::temp_directory_path() / "quav-test-XXXXXX").string();
  const std::filesystem::path path = mkdtemp(pattern.data());
};

}  // namespace quav::fake
