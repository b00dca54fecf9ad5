// Runs the launcher's delegate on the GTK toolkit inside the test process: the real window,
// the real server process (a script the test writes), and, in place of the default browser, a
// list of the addresses the launcher handed on.
//
// Needs a display and a session bus (scripts/test provides both).
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Application.h"
#include "ChildProcess.h"
#include "Launcher.h"

namespace quav::testing {

using namespace std::chrono_literals;

// Runs the main loop until the condition holds or the timeout passes; tells which.
bool spinUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s);

class LauncherHarness final : public toolkit::ApplicationDelegate {
 public:
  LauncherHarness();
  ~LauncherHarness() override;

  // The Lab server the launcher will start: a shell script, run by /bin/sh.
  void installServer(const std::string& script);
  std::filesystem::path serverPath() const;

  // Runs the launcher, with `files` on its command line, until the scenario, which starts once
  // the launch is over, returns; then quits as the user does (the quit action) and returns once
  // the application has ended.
  void run(const std::function<void()>& scenario, const std::vector<std::string>& files = {});

  Gtk::Window& window() const;
  // The five views of the window's stack, top to bottom.
  std::vector<Gtk::Widget*> stackViews() const;
  Gtk::Label& status() const;
  Gtk::Button& openButton() const;
  Gtk::Button& guideButton() const;
  // The message dialog on screen, if there is one.
  Gtk::MessageDialog* alert() const;

  const std::vector<std::string>& opened() const { return opened_; }
  int terminations() const { return terminations_; }
  const TemporaryDirectory& directory() const { return directory_; }
  AppDelegate& delegate() const { return *delegate_; }
  toolkit::gtk::GtkToolkitApplication& application() { return application_; }

  void applicationDidFinishLaunching() override;
  void applicationOpenURLs(const std::vector<std::string>& urls) override;
  bool applicationShouldTerminateAfterLastWindowClosed() override;
  void applicationWillTerminate() override;
  bool applicationShouldHandleReopen(bool hasVisibleWindows) override;

 private:
  class Desktop;

  TemporaryDirectory directory_;
  toolkit::gtk::GtkToolkitApplication application_;
  std::unique_ptr<Desktop> desktop_;
  std::shared_ptr<AppDelegate> delegate_;
  std::function<void()> scenario_;
  std::vector<std::string> opened_;
  int terminations_ = 0;
};

}  // namespace quav::testing
