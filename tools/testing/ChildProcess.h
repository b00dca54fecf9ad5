// A program under test, started with pipes on its three standard streams.
// Output is collected by background threads so a test can wait for what it expects
// with a deadline instead of sleeping.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace quav::testing {

using namespace std::chrono_literals;

// How a child ended: its exit code, or the signal that killed it.
struct Ending {
  std::optional<int> exitCode;
  std::optional<int> signal;
};

class ChildProcess {
 public:
  // argv[0] is the executable's path. `environment` entries ("NAME=VALUE") are added to,
  // or replace, the test's own environment.
  explicit ChildProcess(std::vector<std::string> argv, std::vector<std::string> environment = {});
  ~ChildProcess();  // kills a child that is still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }

  void write(std::string_view bytes);
  void closeInput();
  void sendSignal(int signal);

  std::string standardOutput() const;
  std::string standardError() const;

  // Each waits until the condition holds or the timeout passes, and tells which.
  bool waitForOutput(std::string_view text, std::chrono::milliseconds timeout = 10s);
  bool waitForError(std::string_view text, std::chrono::milliseconds timeout = 10s);
  bool waitUntil(const std::function<bool(const std::string& out, const std::string& err)>& done,
                 std::chrono::milliseconds timeout = 10s);
  std::optional<Ending> waitForExit(std::chrono::milliseconds timeout = 10s);
  // Waits for the exit and for both output streams to reach end of file.
  std::optional<Ending> waitForEnd(std::chrono::milliseconds timeout = 10s);

 private:
  void collect(int fd, std::string& into, bool& closed);
  void reap();

  pid_t pid_ = -1;
  int input_ = -1;
  int abandon_ = -1;  // tells the output collectors to stop waiting
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string output_;
  std::string error_;
  bool outputClosed_ = false;
  bool errorClosed_ = false;
  std::optional<Ending> ending_;
  std::vector<std::thread> threads_;
};

// Runs a program to its end with the given input and returns what it wrote.
struct Run {
  Ending ending;
  std::string output;
  std::string error;
};
Run runToEnd(std::vector<std::string> argv, std::string_view input,
             std::vector<std::string> environment = {}, std::chrono::milliseconds timeout = 30s);

// A fresh directory under the system's temporary directory, removed with everything in it.
class TemporaryDirectory {
 public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A name that no other test process on this machine uses at the same time.
std::string uniqueName(std::string_view prefix);

}  // namespace quav::testing
