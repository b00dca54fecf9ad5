// The launcher: one application delegate that starts the Lab server, waits for it to announce
// the lab page, opens that page in the default browser and hands it key files.
#pragma once

#include <boost/url/url.hpp>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "toolkit/Toolkit.h"

namespace quav {

class AppDelegate final : public toolkit::ApplicationDelegate,
                          public std::enable_shared_from_this<AppDelegate> {
 public:
  // Makes nothing yet: the window, menu and server process come with the launch. Must be owned
  // by a std::shared_ptr before the launch, because the background callbacks and the buttons
  // refer to it weakly.
  explicit AppDelegate(toolkit::Application& application);
  AppDelegate(const AppDelegate&) = delete;
  AppDelegate& operator=(const AppDelegate&) = delete;

  void applicationDidFinishLaunching() override;
  void applicationOpenURLs(const std::vector<std::string>& urls) override;
  bool applicationShouldTerminateAfterLastWindowClosed() override;
  void applicationWillTerminate() override;
  bool applicationShouldHandleReopen(bool hasVisibleWindows) override;

 private:
  void buildMenuAndWindow();
  void startServer();
  void receive(const std::string& chunk);
  void becomeReady(boost::urls::url labAddress);
  // Opens the lab page, carrying a pending key once; nothing while the lab address is unknown.
  void openLab();
  // Opens the connection guide next to the lab page; nothing while the lab address is unknown.
  void openGuide();

  // All of the launcher's state, read and written on the main thread only.
  std::unique_ptr<toolkit::Window> window_;
  std::unique_ptr<toolkit::ChildProcess> child_;
  std::optional<boost::urls::url> localURL_;  // the lab address, set once, never cleared
  toolkit::Label* status_ = nullptr;          // owned by the window's view tree
  toolkit::Button* openButton_ = nullptr;     // owned by the window's view tree
  std::string output_;                        // the server's standard output so far
  std::optional<std::string> pendingKey_;     // a key file's bytes waiting for the lab
  toolkit::Application& application_;
};

}  // namespace quav
