#include "PrivateDesktop.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace quav::testing {
namespace {

namespace fs = std::filesystem;

std::string firstLine(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    if (!line.empty()) result.push_back(line);
  }
  return result;
}

void writeFile(const fs::path& path, const std::string& contents) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << contents;
}

void writeExecutable(const fs::path& path, const std::string& contents) {
  writeFile(path, contents);
  fs::permissions(path, fs::perms::owner_all);
}

// Programs are started without a search of PATH, so the tools are looked up here.
std::vector<std::string> resolved(std::vector<std::string> argv) {
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
  std::istringstream directories(path);
  for (std::string directory; std::getline(directories, directory, ':');) {
    const auto candidate = fs::path(directory) / argv.front();
    if (access(candidate.c_str(), X_OK) == 0) {
      argv.front() = candidate.string();
      break;
    }
  }
  return argv;
}

// Starts a program that reports its readiness with a line on standard output, and returns
// that line.
std::string startAndReadLine(std::unique_ptr<ChildProcess>& process,
                             const std::vector<std::string>& argv,
                             const std::vector<std::string>& environment = {}) {
  process = std::make_unique<ChildProcess>(resolved(argv), environment);
  if (!process->waitUntil([](const std::string& out, const std::string&) {
        return out.find('\n') != std::string::npos;
      })) {
    throw std::runtime_error(argv.front() + " did not start: " + process->standardError());
  }
  return firstLine(process->standardOutput());
}

}  // namespace

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

std::string contentsOf(const fs::path& path) {
  std::ifstream file(path);
  std::stringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

PrivateDesktop::PrivateDesktop(const std::vector<fs::path>& dataDirectories) {
  const fs::path root = directory_.path();
  const fs::path recorder = root / "browser";
  writeExecutable(recorder,
                  "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + (root / "opened").string() + "'\n");
  writeFile(root / "data/applications/recorder.desktop",
            "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" + recorder.string() +
                " %u\nMimeType=x-scheme-handler/http;x-scheme-handler/https;\nNoDisplay=true\n");
  writeFile(root / "config/mimeapps.list",
            "[Default Applications]\nx-scheme-handler/http=recorder.desktop\n"
            "x-scheme-handler/https=recorder.desktop\n");
  fs::create_directories(root / "runtime");
  fs::permissions(root / "runtime", fs::perms::owner_all);

  std::string dataDirs;
  for (const auto& directory : dataDirectories) dataDirs += directory.string() + ":";
  environment_ = {
      "XDG_DATA_HOME=" + (root / "data").string(),
      "XDG_DATA_DIRS=" + dataDirs + "/usr/local/share:/usr/share",
      "XDG_CONFIG_HOME=" + (root / "config").string(),
      "XDG_CACHE_HOME=" + (root / "cache").string(),
      "XDG_RUNTIME_DIR=" + (root / "runtime").string(),
      "GDK_BACKEND=x11",
      "GTK_A11Y=none",
  };
  environment_.push_back("DISPLAY=:" +
                         startAndReadLine(display_, {"Xvfb", "-displayfd", "1", "-screen", "0",
                                                     "1280x800x24", "-nolisten", "tcp"}));
  environment_.push_back(
      "DBUS_SESSION_BUS_ADDRESS=" +
      startAndReadLine(bus_, {"dbus-daemon", "--session", "--nofork", "--print-address=1"}));
  windowManager_ =
      std::make_unique<ChildProcess>(resolved({"openbox", "--sm-disable"}), environment_);
  if (!eventually([this] {
        return tool({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).output.find("window id") !=
               std::string::npos;
      })) {
    throw std::runtime_error("openbox did not start: " + windowManager_->standardError());
  }
}

PrivateDesktop::~PrivateDesktop() {
  stop(windowManager_);
  stop(bus_);
  stop(display_);  // asked, not killed, so that it removes its lock file and socket
}

void PrivateDesktop::stop(std::unique_ptr<ChildProcess>& process) {
  if (!process) return;
  process->sendSignal(SIGTERM);
  process->waitForExit(5s);
  process.reset();
}

std::vector<std::string> PrivateDesktop::opened() const {
  return lines(contentsOf(fs::path(directory_.path()) / "opened"));
}

Run PrivateDesktop::tool(const std::vector<std::string>& argv) const {
  return runToEnd(resolved(argv), "", environment_, 10s);
}

std::vector<std::string> PrivateDesktop::windowsOf(pid_t pid) const {
  return lines(tool({"xdotool", "search", "--onlyvisible", "--pid", std::to_string(pid)}).output);
}

std::vector<std::string> PrivateDesktop::windowsNamed(const std::string& name) const {
  return lines(tool({"xdotool", "search", "--onlyvisible", "--name", "^" + name + "$"}).output);
}

InstalledLauncher::InstalledLauncher(const std::string& serverScript) {
  fs::create_directories(executable().parent_path());
  fs::copy_file(TONE_LAUNCHER, executable());
  writeExecutable(file("share/quav-lab/backend/tonvex-server"),
                  "#!/bin/sh\necho $$ > '" + file("server.pid").string() + "'\n" + serverScript);
}

InstalledLauncher::~InstalledLauncher() {
  const auto pid = contentsOf(file("server.pid"));
  if (!pid.empty()) kill(std::stoi(pid), SIGKILL);
}

fs::path InstalledLauncher::executable() const {
  return file("bin/tone_launcher");
}

fs::path InstalledLauncher::file(const std::string& name) const {
  return fs::path(directory_.path()) / name;
}

}  // namespace quav::testing
