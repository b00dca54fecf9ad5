#include "LauncherHarness.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

namespace quav::testing {
namespace {

// Each run registers its own name on the session bus, so runs never meet as instances of one
// application.
std::string uniqueApplicationId() {
  static int runs = 0;
  return "app.quav.tests.Launcher_" + std::to_string(getpid()) + "_" + std::to_string(++runs);
}

std::vector<Gtk::Widget*> childrenOf(Gtk::Widget& widget) {
  std::vector<Gtk::Widget*> children;
  for (auto* child = widget.get_first_child(); child; child = child->get_next_sibling()) {
    children.push_back(child);
  }
  return children;
}

template <typename WidgetType>
WidgetType& viewAs(const std::vector<Gtk::Widget*>& views, size_t index) {
  auto* view = index < views.size() ? dynamic_cast<WidgetType*>(views[index]) : nullptr;
  if (!view) throw std::logic_error("the window's stack is not as built");
  return *view;
}

}  // namespace

// Conditions may also change outside the main loop (files, processes), so the loop wakes up
// now and then to look again.
bool spinUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  const guint waker = g_timeout_add(
      10, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  while (!condition() && std::chrono::steady_clock::now() < deadline) {
    g_main_context_iteration(nullptr, TRUE);
  }
  g_source_remove(waker);
  return condition();
}

// The desktop as the launcher sees it: the real toolkit, except that resources come from the
// test's directory and addresses go to a list instead of a browser.
class LauncherHarness::Desktop final : public toolkit::Application {
 public:
  Desktop(LauncherHarness& harness) : harness_(harness), toolkit_(harness.application_) {}

  void setDelegate(toolkit::ApplicationDelegate* delegate) override {
    toolkit_.setDelegate(delegate);
  }
  int run(int argc, char** argv) override { return toolkit_.run(argc, argv); }
  void setMainMenu(const toolkit::Menu& menu) override { toolkit_.setMainMenu(menu); }
  void activateIgnoringOtherApps() override { toolkit_.activateIgnoringOtherApps(); }
  std::unique_ptr<toolkit::Window> makeWindow(const toolkit::Rect& contentRect,
                                              unsigned styleMask) override {
    return toolkit_.makeWindow(contentRect, styleMask);
  }
  std::unique_ptr<toolkit::Label> makeLabel(const std::string& text) override {
    return toolkit_.makeLabel(text);
  }
  std::unique_ptr<toolkit::Label> makeWrappingLabel(const std::string& text) override {
    return toolkit_.makeWrappingLabel(text);
  }
  std::unique_ptr<toolkit::Button> makeButton(const std::string& title,
                                              std::function<void()> action) override {
    return toolkit_.makeButton(title, std::move(action));
  }
  std::unique_ptr<toolkit::StackView> makeStackView(
      std::vector<std::unique_ptr<toolkit::View>> views) override {
    return toolkit_.makeStackView(std::move(views));
  }
  std::unique_ptr<toolkit::ChildProcess> makeChildProcess() override {
    return toolkit_.makeChildProcess();
  }
  void runModalAlert(const toolkit::Alert& alert) override { toolkit_.runModalAlert(alert); }
  bool openURL(const std::string& url) override {
    harness_.opened_.push_back(url);
    return true;
  }
  void postToMainQueue(std::function<void()> task) override {
    toolkit_.postToMainQueue(std::move(task));
  }
  std::filesystem::path resourceDirectory() const override {
    return std::filesystem::path(harness_.directory_.path()) / "share" / "quav-lab";
  }

 private:
  LauncherHarness& harness_;
  toolkit::gtk::GtkToolkitApplication& toolkit_;
};

LauncherHarness::LauncherHarness()
    : application_(uniqueApplicationId()),
      desktop_(std::make_unique<Desktop>(*this)),
      delegate_(std::make_shared<AppDelegate>(*desktop_)) {}

// A scenario that failed half-way may leave the server running; the scripted servers all end
// on SIGINT.
LauncherHarness::~LauncherHarness() {
  if (delegate_->child && delegate_->child->isRunning()) delegate_->child->interrupt();
  application_.setDelegate(nullptr);
  delegate_.reset();
}

std::filesystem::path LauncherHarness::serverPath() const {
  return std::filesystem::path(directory_.path()) / "share/quav-lab/backend/tonvex-server";
}

void LauncherHarness::installServer(const std::string& script) {
  std::filesystem::create_directories(serverPath().parent_path());
  std::ofstream(serverPath()) << "#!/bin/sh\n" << script;
  std::filesystem::permissions(serverPath(), std::filesystem::perms::owner_all);
}

void LauncherHarness::run(const std::function<void()>& scenario,
                          const std::vector<std::string>& files) {
  scenario_ = scenario;
  std::vector<std::string> arguments{"toolkit_gtk_tests"};
  arguments.insert(arguments.end(), files.begin(), files.end());
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  application_.setDelegate(this);
  application_.run(static_cast<int>(arguments.size()), argv.data());
}

void LauncherHarness::applicationDidFinishLaunching() {
  delegate_->applicationDidFinishLaunching();
  application_.postToMainQueue([this] {
    scenario_();
    application_.gtkApplication()->activate_action("quit");
  });
}

void LauncherHarness::applicationOpenURLs(const std::vector<std::string>& urls) {
  delegate_->applicationOpenURLs(urls);
}

bool LauncherHarness::applicationShouldTerminateAfterLastWindowClosed() {
  return delegate_->applicationShouldTerminateAfterLastWindowClosed();
}

void LauncherHarness::applicationWillTerminate() {
  ++terminations_;
  delegate_->applicationWillTerminate();
}

bool LauncherHarness::applicationShouldHandleReopen(bool hasVisibleWindows) {
  return delegate_->applicationShouldHandleReopen(hasVisibleWindows);
}

Gtk::Window& LauncherHarness::window() const {
  for (auto* window : application_.gtkApplication()->get_windows()) {
    if (!dynamic_cast<Gtk::MessageDialog*>(window)) return *window;
  }
  throw std::logic_error("the launcher has no window");
}

std::vector<Gtk::Widget*> LauncherHarness::stackViews() const {
  auto* content = window().get_child();
  auto* stack = content ? content->get_first_child() : nullptr;
  if (!stack) throw std::logic_error("the window has no stack");
  return childrenOf(*stack);
}

Gtk::Label& LauncherHarness::status() const {
  return viewAs<Gtk::Label>(stackViews(), 2);
}

Gtk::Button& LauncherHarness::openButton() const {
  return viewAs<Gtk::Button>(stackViews(), 3);
}

Gtk::Button& LauncherHarness::guideButton() const {
  return viewAs<Gtk::Button>(stackViews(), 4);
}

Gtk::MessageDialog* LauncherHarness::alert() const {
  for (auto* window : Gtk::Window::list_toplevels()) {
    auto* dialog = dynamic_cast<Gtk::MessageDialog*>(window);
    if (dialog && dialog->is_visible()) return dialog;
  }
  return nullptr;
}

}  // namespace quav::testing
