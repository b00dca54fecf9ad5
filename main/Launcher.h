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
  // Opens the lab page, carrying a pending key once; nothing while the lab address is unknown.
  void openLab();
  // Opens the connection guide next to the lab page; nothing while the lab address is unknown.
  void openGuide();
  bool applicationShouldTerminateAfterLastWindowClosed() override;
  void applicationWillTerminate() override;
  bool applicationShouldHandleReopen(bool hasVisibleWindows) override;

  // All of the launcher's state, read and written on the main thread only. Public so that
  // tests can observe it; nothing outside this class changes it.
  std::unique_ptr<toolkit::Window> window;
  std::unique_ptr<toolkit::ChildProcess> child;
  std::optional<boost::urls::url> localURL;  // the lab address, set once, never cleared
  toolkit::Label* status = nullptr;          // owned by the window's view tree
  toolkit::Button* openButton = nullptr;     // owned by the window's view tree
  std::string output;                        // the server's standard output so far
  std::optional<std::string> pendingKey;     // a key file's bytes waiting for the lab

 private:
  void buildMenuAndWindow();
  void startServer();
  void receive(const std::string& chunk);
  void becomeReady(boost::urls::url labAddress);

  toolkit::Application& application_;
};

}  // namespace quav
