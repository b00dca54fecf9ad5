// The launcher's application on Linux: a single-instance Gtk::Application.
//
// AppKit's application events map onto GApplication's: the first activation or opening
// finishes launching; files from the command line, at the first launch or from a later launch
// of the program, arrive as one delivery of file URLs; a later launch without files is the
// reopen; quitting (the quit action, closing the last window) ends the main loop, and the
// delegate hears applicationWillTerminate once on the way out.
#pragma once

#include <gtkmm.h>

#include "Toolkit.h"

namespace quav::toolkit::gtk {

// The application identity on the session bus, and the name of its desktop entry.
inline constexpr const char* kApplicationId = "app.quav.Lab";

class GtkToolkitApplication final : public Application {
 public:
  explicit GtkToolkitApplication(const std::string& applicationId);

  void setDelegate(ApplicationDelegate* delegate) override;
  int run(int argc, char** argv) override;

  void setMainMenu(const Menu& menu) override;
  void activateIgnoringOtherApps() override;

  // GTK 4 has no way to place a window: placement belongs to the window manager, which puts a
  // new window in the middle of an empty screen (openbox does).
  std::unique_ptr<Window> makeWindow(const Rect& contentRect, WindowStyle style) override;
  std::unique_ptr<Label> makeLabel(const std::string& text) override;
  std::unique_ptr<Label> makeWrappingLabel(const std::string& text) override;
  std::unique_ptr<Button> makeButton(const std::string& title,
                                     std::function<void()> action) override;
  std::unique_ptr<View> makeStackView(std::vector<std::unique_ptr<View>> views, double spacing,
                                      const Rect& frame) override;
  std::unique_ptr<ChildProcess> makeChildProcess() override;

  void runModalAlert(const Alert& alert) override;
  bool openURL(const std::string& url) override;
  void postToMainQueue(std::function<void()> task) override;
  std::optional<std::filesystem::path> resourceDirectory() const override;

  // Quits the way every route does (the quit item, closing the last window, a signal).
  void quit();

 private:
  void startUp();
  void activate();
  void open(const std::vector<Glib::RefPtr<Gio::File>>& files);
  void shutDown();
  void finishLaunchingOnce();
  void closeWindow(Gtk::Window& window);
  void answerQuitShortcuts(Gtk::Window& window);
  bool hasVisibleWindows() const;

  Glib::RefPtr<Gtk::Application> application_;
  Glib::RefPtr<Gio::Menu> menu_;
  ApplicationDelegate* delegate_ = nullptr;
  std::vector<Glib::RefPtr<Glib::MainLoop>> modalLoops_;  // of the alerts waiting for an answer
  std::vector<guint> signalWatches_;
  bool launched_ = false;
  bool terminated_ = false;
};

}  // namespace quav::toolkit::gtk
