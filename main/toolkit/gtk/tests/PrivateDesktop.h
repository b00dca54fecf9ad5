// A desktop of one's own for an end-to-end test of the launcher: an X display (Xvfb), a window
// manager (openbox), a session bus, and a default web browser that records every address it is
// asked to open. Nothing is shared with other tests or with the machine's own session.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ChildProcess.h"

namespace quav::testing {

using namespace std::chrono_literals;

// Looks again every few milliseconds until the condition holds or the timeout passes.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s);

std::string contentsOf(const std::filesystem::path& path);

class PrivateDesktop {
 public:
  // `dataDirectories` join the system's as places to look for applications and file types.
  explicit PrivateDesktop(const std::vector<std::filesystem::path>& dataDirectories = {});
  ~PrivateDesktop();
  PrivateDesktop(const PrivateDesktop&) = delete;
  PrivateDesktop& operator=(const PrivateDesktop&) = delete;

  // What a program needs to live on this desktop and nowhere else.
  const std::vector<std::string>& environment() const { return environment_; }

  // The addresses the browser was asked to open, in order.
  std::vector<std::string> opened() const;

  // Runs a desktop tool (xdotool, xprop, ...) on this desktop.
  Run tool(const std::vector<std::string>& argv) const;
  // The visible windows of a process, or named so.
  std::vector<std::string> windowsOf(pid_t pid) const;
  std::vector<std::string> windowsNamed(const std::string& name) const;

 private:
  void stop(std::unique_ptr<ChildProcess>& process);

  TemporaryDirectory directory_;
  std::vector<std::string> environment_;
  std::unique_ptr<ChildProcess> display_;
  std::unique_ptr<ChildProcess> bus_;
  std::unique_ptr<ChildProcess> windowManager_;
};

// The launcher installed in a directory of its own: <dir>/bin/tone_launcher (a copy, since the
// launcher finds its resources from its real location) and a scripted server at
// <dir>/share/quav-lab/backend/tonvex-server.
class InstalledLauncher {
 public:
  explicit InstalledLauncher(const std::string& serverScript);
  // Ends the scripted server if it still runs (it may outlive the launcher on purpose).
  ~InstalledLauncher();

  std::filesystem::path executable() const;
  // A file in the installation's directory, where scripts may record what they see.
  std::filesystem::path file(const std::string& name) const;

 private:
  TemporaryDirectory directory_;
};

}  // namespace quav::testing
