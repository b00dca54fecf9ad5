#include "Application.h"

#include <glib-unix.h>

#include <csignal>

#include "DefaultHandler.h"
#include "MainQueue.h"
#include "Subprocess.h"
#include "Views.h"

namespace quav::toolkit::gtk {
namespace {

// With the default theme's buttons (34 high) the five views need more than the 220 points of
// their frame once the status wraps to two lines; buttons of 22 keep them inside it, and the
// content at 480 by 270.
constexpr const char* kStyleSheet = R"css(
.quav-stack > button {
  min-height: 0;
  padding-top: 2px;
  padding-bottom: 2px;
}
)css";

const char* actionName(const std::optional<MenuAction>& action) {
  if (action == MenuAction::kTerminate) return "app.quit";
  return "";
}

// An untitled item at the top is the application menu: GNOME shows its items directly in the
// window's primary menu, so it becomes a section there.
void appendItems(Gio::Menu& menu, const std::vector<MenuItem>& items,
                 Gtk::Application& application) {
  for (const auto& item : items) {
    if (!item.submenu.empty()) {
      auto submenu = Gio::Menu::create();
      appendItems(*submenu, item.submenu, application);
      if (item.title.empty()) {
        menu.append_section(submenu);
      } else {
        menu.append_submenu(item.title, submenu);
      }
      continue;
    }
    const std::string action = actionName(item.action);
    menu.append(item.title, action);
    if (!action.empty() && !item.keyEquivalent.empty()) {
      application.set_accels_for_action(action, {"<Control>" + item.keyEquivalent});
    }
  }
}

bool isShownOnScreen(const Gtk::Window& window) {
  if (!window.is_visible()) return false;
  auto toplevel = std::dynamic_pointer_cast<const Gdk::Toplevel>(window.get_surface());
  return !toplevel || (toplevel->get_state() & Gdk::Toplevel::State::MINIMIZED) ==
                          static_cast<Gdk::Toplevel::State>(0);
}

// The launcher runs from <prefix>/bin, in the build tree as after installation; the kernel's link
// to the executable has every symbolic link resolved.
std::optional<std::filesystem::path> installationPrefix() {
  std::error_code error;
  const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::nullopt;
  return executable.parent_path().parent_path();
}

gboolean quitOnSignal(gpointer application) {
  static_cast<GtkToolkitApplication*>(application)->quit();
  return G_SOURCE_CONTINUE;
}

}  // namespace

GtkToolkitApplication::GtkToolkitApplication(const std::string& applicationId)
    : application_(Gtk::Application::create(applicationId, Gio::Application::Flags::HANDLES_OPEN)),
      menu_(Gio::Menu::create()) {
  application_->signal_startup().connect([this] { startUp(); });
  application_->signal_activate().connect([this] { activate(); });
  application_->signal_open().connect(
      [this](const Gio::Application::type_vec_files& files, const Glib::ustring&) { open(files); });
  application_->signal_shutdown().connect([this] { shutDown(); }, false);
}

void GtkToolkitApplication::setDelegate(ApplicationDelegate* delegate) {
  delegate_ = delegate;
}

int GtkToolkitApplication::run(int argc, char** argv) {
  return application_->run(argc, argv);
}

void GtkToolkitApplication::startUp() {
  application_->add_action("quit", [this] { quit(); });
  // A terminal's Ctrl-C, logging out, or a plain kill quits the way the user does, so the
  // server is stopped too.
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    signalWatches_.push_back(g_unix_signal_add(signal, quitOnSignal, this));
  }
  auto style = Gtk::CssProvider::create();
  style->load_from_data(kStyleSheet);
  Gtk::StyleContext::add_provider_for_display(Gdk::Display::get_default(), style,
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  // The icon is installed in <prefix>/share/icons, in the build tree too.
  if (const auto prefix = installationPrefix()) {
    Gtk::IconTheme::get_for_display(Gdk::Display::get_default())
        ->add_search_path((*prefix / "share" / "icons").string());
  }
  Gtk::Window::set_default_icon_name(kApplicationId);
}

void GtkToolkitApplication::finishLaunchingOnce() {
  if (launched_) return;
  launched_ = true;
  if (delegate_) delegate_->applicationDidFinishLaunching();
}

void GtkToolkitApplication::activate() {
  if (!launched_) {
    finishLaunchingOnce();
    return;
  }
  if (delegate_) delegate_->applicationShouldHandleReopen(hasVisibleWindows());
}

void GtkToolkitApplication::open(const std::vector<Glib::RefPtr<Gio::File>>& files) {
  finishLaunchingOnce();
  std::vector<std::string> urls;
  for (const auto& file : files) urls.push_back(file->get_uri());
  if (delegate_) delegate_->applicationOpenURLs(urls);
}

void GtkToolkitApplication::shutDown() {
  for (guint watch : signalWatches_) g_source_remove(watch);
  signalWatches_.clear();
  if (terminated_) return;
  terminated_ = true;
  if (delegate_) delegate_->applicationWillTerminate();
}

// As in AppKit, a closed window is ordered out; the application then quits if the delegate
// wants that once no window is left on screen.
void GtkToolkitApplication::closeWindow(Gtk::Window& window) {
  window.set_visible(false);
  if (hasVisibleWindows()) return;
  if (delegate_ && delegate_->applicationShouldTerminateAfterLastWindowClosed()) quit();
}

// An open alert runs a main loop of its own, inside the application's: those loops end too, or
// the application would quit only once every alert was dismissed.
void GtkToolkitApplication::quit() {
  for (const auto& loop : modalLoops_) loop->quit();
  application_->quit();
}

bool GtkToolkitApplication::hasVisibleWindows() const {
  for (const auto* window : application_->get_windows()) {
    if (isShownOnScreen(*window)) return true;
  }
  return false;
}

void GtkToolkitApplication::setMainMenu(const Menu& menu) {
  menu_->remove_all();
  appendItems(*menu_, menu.items, *application_);
}

void GtkToolkitApplication::activateIgnoringOtherApps() {
  if (auto* window = application_->get_active_window()) window->present();
}

std::unique_ptr<Window> GtkToolkitApplication::makeWindow(const Rect& contentRect,
                                                          WindowStyle style) {
  auto window = std::make_unique<AppWindow>(application_, contentRect, style, menu_);
  auto& gtkWindow = window->gtkWindow();
  gtkWindow.signal_close_request().connect(
      [this, &gtkWindow] {
        closeWindow(gtkWindow);
        return true;
      },
      false);
  return window;
}

std::unique_ptr<Label> GtkToolkitApplication::makeLabel(const std::string& text) {
  return std::make_unique<LabelView>(text, false);
}

std::unique_ptr<Label> GtkToolkitApplication::makeWrappingLabel(const std::string& text) {
  return std::make_unique<LabelView>(text, true);
}

std::unique_ptr<Button> GtkToolkitApplication::makeButton(const std::string& title,
                                                          std::function<void()> action) {
  return std::make_unique<ButtonView>(title, std::move(action));
}

std::unique_ptr<View> GtkToolkitApplication::makeStackView(std::vector<std::unique_ptr<View>> views,
                                                           double spacing, const Rect& frame) {
  return std::make_unique<StackBoxView>(std::move(views), spacing, frame);
}

std::unique_ptr<ChildProcess> GtkToolkitApplication::makeChildProcess() {
  return std::make_unique<Subprocess>();
}

// GTK 4 has no modal run of its own: a nested main loop waits for the answer, while the rest
// of the application (the server's output among it) carries on.
void GtkToolkitApplication::runModalAlert(const Alert& alert) {
  Gtk::MessageDialog dialog(alert.messageText, false, Gtk::MessageType::INFO, Gtk::ButtonsType::OK,
                            true);
  dialog.set_secondary_text(alert.informativeText);
  auto* parent = application_->get_active_window();
  if (parent && parent->is_visible()) dialog.set_transient_for(*parent);
  answerQuitShortcuts(dialog);
  auto loop = Glib::MainLoop::create();
  dialog.signal_response().connect([&loop](int) { loop->quit(); });
  dialog.present();
  modalLoops_.push_back(loop);  // alerts nest when key files arrive while one is open
  loop->run();
  modalLoops_.pop_back();
  dialog.set_visible(false);
}

// The alert is none of the application's windows (it must not count as one when the last of
// them closes), so the quit item's shortcuts would not reach it by themselves.
void GtkToolkitApplication::answerQuitShortcuts(Gtk::Window& window) {
  auto shortcuts = Gtk::ShortcutController::create();
  shortcuts->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
  for (const auto& accelerator : application_->get_accels_for_action("app.quit")) {
    shortcuts->add_shortcut(Gtk::Shortcut::create(
        Gtk::ShortcutTrigger::parse_string(accelerator),
        Gtk::CallbackAction::create([this](Gtk::Widget&, const Glib::VariantBase&) {
          quit();
          return true;
        })));
  }
  window.add_controller(shortcuts);
}

// Through the display's launch context, which gives the browser startup notification and focus.
bool GtkToolkitApplication::openURL(const std::string& url) {
  const auto display = Gdk::Display::get_default();
  const auto context = display ? display->get_app_launch_context() : nullptr;
  return openWithDefaultHandler(url, context ? G_APP_LAUNCH_CONTEXT(context->gobj()) : nullptr);
}

void GtkToolkitApplication::postToMainQueue(std::function<void()> task) {
  gtk::postToMainQueue(std::move(task));
}

std::optional<std::filesystem::path> GtkToolkitApplication::resourceDirectory() const {
  const auto prefix = installationPrefix();
  if (!prefix) return std::nullopt;
  return *prefix / "lib" / "quav-lab";
}

}  // namespace quav::toolkit::gtk
