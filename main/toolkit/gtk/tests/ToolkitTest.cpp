#include <glib.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <functional>
#include <numeric>
#include <thread>

#include "MainQueue.h"
#include "Subprocess.h"

namespace quav::toolkit::gtk {
namespace {

using namespace std::chrono_literals;

TEST(MainQueue, RunsTasksFromManyThreadsEachInTheOrderPosted) {
  constexpr int kThreads = 4, kTasks = 2000;
  std::vector<std::vector<int>> ran(kThreads), inOrder(kThreads, std::vector<int>(kTasks));
  for (auto& tasks : inOrder) std::iota(tasks.begin(), tasks.end(), 0);
  for (std::vector<std::jthread> posters; posters.size() < kThreads;) {
    posters.emplace_back([&, thread = posters.size()] {
      for (int task = 0; task < kTasks; ++task) {
        postToMainQueue([&, thread, task] { ran[thread].push_back(task); });
      }
    });
  }
  // Every task is ready to run now: each iteration of the loop runs some.
  for (int round = 0; round < kThreads * kTasks; ++round) g_main_context_iteration(nullptr, FALSE);
  EXPECT_EQ(ran, inOrder);
}

// Runs the main loop, which the child's callbacks run on, until the condition holds or the
// timeout passes; tells which. The condition may also change outside the loop, so it does not
// sleep in it.
bool runMainLoopUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = 10s) {
  for (const auto deadline = std::chrono::steady_clock::now() + timeout;
       !condition() && std::chrono::steady_clock::now() < deadline;) {
    if (!g_main_context_iteration(nullptr, FALSE)) std::this_thread::sleep_for(1ms);
  }
  return condition();
}

// A shell script as the child, with its output and its end recorded.
class SubprocessTest : public ::testing::Test {
 protected:
  std::optional<LaunchError> launch(const std::string& script, const char* shell = "/bin/sh") {
    child.setExecutable(shell);
    child.setArguments({"-c", script});
    child.setStandardOutputHandler([this](std::string chunk) {
      EXPECT_FALSE(chunk.empty());
      output += chunk;
      ++chunks;
    });
    child.setStandardErrorToNullDevice();
    child.setTerminationHandler([this] { ++terminations; });
    return child.launch();
  }

  Subprocess child;
  std::string output;
  int chunks = 0, terminations = 0;
};

TEST_F(SubprocessTest, HandsOnTheWholeOutputInOrderWithoutStandardErrorAndEndsOnce) {
  ASSERT_FALSE(launch("seq 100000; echo error >&2; readlink /proc/$$/fd/2"));
  EXPECT_TRUE(child.isRunning());
  std::string expected;
  for (int number = 1; number <= 100000; ++number) expected += std::to_string(number) + "\n";
  ASSERT_TRUE(runMainLoopUntil([&] { return terminations && output.size() > expected.size(); }));
  EXPECT_EQ(output, expected + "/dev/null\n");
  EXPECT_GT(chunks, 1);
  EXPECT_FALSE(runMainLoopUntil([&] { return terminations > 1; }, 100ms));
  EXPECT_FALSE(child.isRunning());
}

TEST_F(SubprocessTest, SaysWhyItCouldNotStartAndNeverEnds) {
  EXPECT_EQ(launch("", "/nonexistent/server").value().localizedDescription,
            "Failed to execute child process \u201c/nonexistent/server\u201d (No such file or "
            "directory)");
  EXPECT_FALSE(child.isRunning());
  child.interrupt();
  EXPECT_FALSE(runMainLoopUntil([&] { return terminations > 0; }, 300ms));
}

// Shells start background jobs with SIGINT ignored; the server must still stop on it. The child
// ends when its process does, not when its output does.
TEST_F(SubprocessTest, InterruptStopsTheChildEvenWhenTheLauncherIgnoresSigint) {
  const auto previous = signal(SIGINT, SIG_IGN);
  ASSERT_FALSE(
      launch("trap 'exit 0' INT; trap '' TERM HUP; echo started; exec >&-; "
             "while :; do sleep 0.05; done"));
  signal(SIGINT, previous);
  ASSERT_TRUE(runMainLoopUntil([&] { return output == "started\n"; }));
  EXPECT_FALSE(runMainLoopUntil([&] { return terminations > 0; }, 300ms));
  child.interrupt();
  EXPECT_TRUE(runMainLoopUntil([&] { return terminations == 1; }));
  child.interrupt();  // after the end: nothing to signal
}

}  // namespace
}  // namespace quav::toolkit::gtk
