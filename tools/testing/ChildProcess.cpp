#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

extern char** environ;

namespace quav::testing {
namespace {

std::vector<std::string> mergedEnvironment(const std::vector<std::string>& overrides) {
  std::vector<std::string> merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string_view current(*entry);
    const auto name = current.substr(0, current.find('=') + 1);
    bool replaced = false;
    for (const auto& override : overrides) {
      replaced = replaced || std::string_view(override).starts_with(name);
    }
    if (!replaced) merged.emplace_back(current);
  }
  merged.insert(merged.end(), overrides.begin(), overrides.end());
  return merged;
}

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (auto& string : strings) pointers.push_back(string.data());
  pointers.push_back(nullptr);
  return pointers;
}

void makePipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error(std::strerror(errno));
}

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv, std::vector<std::string> environment) {
  // A child that exits before reading all its input must fail the write, not kill the test.
  signal(SIGPIPE, SIG_IGN);
  int in[2], out[2], err[2];
  makePipe(in);
  makePipe(out);
  makePipe(err);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  // The child starts with default signal handling, whatever the test runner ignores or blocks.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  auto merged = mergedEnvironment(environment);
  auto args = pointersTo(argv);
  auto env = pointersTo(merged);
  const int failure =
      posix_spawn(&pid_, argv.at(0).c_str(), &actions, &attributes, args.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (failure != 0) {
    close(in[1]);
    close(out[0]);
    close(err[0]);
    throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(failure));
  }
  input_ = in[1];
  abandon_ = eventfd(0, EFD_CLOEXEC);
  threads_.emplace_back([this, fd = out[0]] { collect(fd, output_, outputClosed_); });
  threads_.emplace_back([this, fd = err[0]] { collect(fd, error_, errorClosed_); });
  threads_.emplace_back([this] { reap(); });
}

ChildProcess::~ChildProcess() {
  closeInput();
  {
    std::unique_lock lock(mutex_);
    if (!ending_) kill(pid_, SIGKILL);
    // A grandchild may hold the output pipes open for good: give up on them after a while.
    changed_.wait_for(lock, 2s, [&] { return outputClosed_ && errorClosed_; });
  }
  const std::uint64_t one = 1;
  if (::write(abandon_, &one, sizeof one) < 0) std::perror("abandoning the child's output");
  for (auto& thread : threads_) thread.join();
  close(abandon_);
}

void ChildProcess::collect(int fd, std::string& into, bool& closed) {
  char buffer[65536];
  for (;;) {
    pollfd ready[2] = {{fd, POLLIN, 0}, {abandon_, POLLIN, 0}};
    if (poll(ready, 2, -1) < 0 && errno != EINTR) break;
    if (ready[1].revents != 0) break;
    if (ready[0].revents == 0) continue;
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    std::lock_guard lock(mutex_);
    if (count <= 0) {
      closed = true;
      changed_.notify_all();
      break;
    }
    into.append(buffer, static_cast<size_t>(count));
    changed_.notify_all();
  }
  close(fd);
}

void ChildProcess::reap() {
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  std::lock_guard lock(mutex_);
  ending_ = WIFEXITED(status) ? Ending{WEXITSTATUS(status), std::nullopt}
                              : Ending{std::nullopt, WTERMSIG(status)};
  changed_.notify_all();
}

void ChildProcess::write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t count = ::write(input_, bytes.data(), bytes.size());
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && errno == EPIPE) return;  // the child has stopped reading; its output tells
    if (count < 0) throw std::runtime_error(std::string("write to child: ") + std::strerror(errno));
    bytes.remove_prefix(static_cast<size_t>(count));
  }
}

void ChildProcess::closeInput() {
  if (input_ >= 0) close(input_);
  input_ = -1;
}

void ChildProcess::sendSignal(int signal) {
  std::lock_guard lock(mutex_);
  if (!ending_) kill(pid_, signal);
}

std::string ChildProcess::standardOutput() const {
  std::lock_guard lock(mutex_);
  return output_;
}

std::string ChildProcess::standardError() const {
  std::lock_guard lock(mutex_);
  return error_;
}

bool ChildProcess::waitUntil(
    const std::function<bool(const std::string& out, const std::string& err)>& done,
    std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return done(output_, error_); });
}

bool ChildProcess::waitForOutput(std::string_view text, std::chrono::milliseconds timeout) {
  return waitUntil([&](const std::string& out,
                       const std::string&) { return out.find(text) != std::string::npos; },
                   timeout);
}

bool ChildProcess::waitForError(std::string_view text, std::chrono::milliseconds timeout) {
  return waitUntil([&](const std::string&,
                       const std::string& err) { return err.find(text) != std::string::npos; },
                   timeout);
}

std::optional<Ending> ChildProcess::waitForExit(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [&] { return ending_.has_value(); });
  return ending_;
}

std::optional<Ending> ChildProcess::waitForEnd(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  const bool ended = changed_.wait_for(
      lock, timeout, [&] { return ending_.has_value() && outputClosed_ && errorClosed_; });
  return ended ? ending_ : std::nullopt;
}

Run runToEnd(std::vector<std::string> argv, std::string_view input,
             std::vector<std::string> environment, std::chrono::milliseconds timeout) {
  ChildProcess child(std::move(argv), std::move(environment));
  child.write(input);
  child.closeInput();
  const auto ending = child.waitForEnd(timeout);
  if (!ending) throw std::runtime_error("child did not end in time");
  return Run{*ending, child.standardOutput(), child.standardError()};
}

TemporaryDirectory::TemporaryDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quav-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error(std::strerror(errno));
  path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string uniqueName(std::string_view prefix) {
  static std::atomic<int> counter{0};
  return std::string(prefix) + "-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

}  // namespace quav::testing
