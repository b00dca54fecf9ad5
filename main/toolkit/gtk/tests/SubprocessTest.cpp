#include "Subprocess.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <glib.h>

#include <chrono>
#include <functional>

namespace quav::toolkit::gtk {
namespace {

using namespace std::chrono_literals;

// Runs the main loop, which the child's callbacks run on, until the condition holds or the
// timeout passes; tells which. The loop wakes now and then, as the condition may also change
// outside it.
bool runMainLoopUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  const guint waker = g_timeout_add(
      10, [](gpointer) { return gboolean(G_SOURCE_CONTINUE); }, nullptr);
  while (!condition() && std::chrono::steady_clock::now() < deadline) {
    g_main_context_iteration(nullptr, TRUE);
  }
  g_source_remove(waker);
  return condition();
}

// A shell script as the child, with its output and its end recorded.
class SubprocessTest : public ::testing::Test {
 protected:
  std::optional<LaunchError> launch(Subprocess& process, const std::string& script,
                                    const std::filesystem::path& shell = "/bin/sh") {
    process.setExecutable(shell);
    process.setArguments({"-c", script});
    process.setStandardOutputHandler([this](std::string chunk) {
      EXPECT_FALSE(chunk.empty());
      output += chunk;
      ++chunks;
    });
    process.setStandardErrorToNullDevice();
    process.setTerminationHandler([this] { ++terminations; });
    return process.launch();
  }

  Subprocess child;
  std::string output;
  int chunks = 0;
  int terminations = 0;
};

TEST_F(SubprocessTest, HandsOnTheWholeOutputInOrderWithoutStandardErrorAndEndsOnce) {
  ASSERT_FALSE(launch(child, "seq 100000; echo error >&2; readlink /proc/$$/fd/2"));
  EXPECT_TRUE(child.isRunning());
  std::string expected;
  for (int number = 1; number <= 100000; ++number) expected += std::to_string(number) + "\n";
  expected += "/dev/null\n";
  ASSERT_TRUE(runMainLoopUntil([&] { return terminations && output.size() >= expected.size(); }));
  EXPECT_EQ(output, expected);
  EXPECT_GT(chunks, 1);
  EXPECT_FALSE(runMainLoopUntil([&] { return terminations > 1; }, 100ms));
  EXPECT_FALSE(child.isRunning());
}

TEST_F(SubprocessTest, SaysWhyItCouldNotStartAndNeverEnds) {
  const auto error = launch(child, "", "/nonexistent/server");
  ASSERT_TRUE(error);
  EXPECT_EQ(error->localizedDescription,
            "Failed to execute child process \u201c/nonexistent/server\u201d (No such file or "
            "directory)");
  EXPECT_FALSE(child.isRunning());
  child.interrupt();
  EXPECT_FALSE(runMainLoopUntil([&] { return terminations > 0; }, 300ms));
}

// Shells start background jobs with SIGINT ignored; the server must still stop on it. The child
// ends when its process does, not when its output does.
TEST_F(SubprocessTest, InterruptStopsTheChildEvenWhenTheLauncherIgnoresSigint) {
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGINT, &ignore, &previous);
  const auto error = launch(child,
                            "trap 'exit 0' INT; trap '' TERM HUP; echo started; exec >&-; "
                            "while :; do sleep 0.05; done");
  sigaction(SIGINT, &previous, nullptr);
  ASSERT_FALSE(error);
  ASSERT_TRUE(runMainLoopUntil([&] { return output == "started\n"; }));
  EXPECT_FALSE(runMainLoopUntil([&] { return terminations > 0; }, 300ms));
  child.interrupt();
  EXPECT_TRUE(runMainLoopUntil([&] { return terminations == 1; }));
  child.interrupt();  // after the end: nothing to signal
}

}  // namespace
}  // namespace quav::toolkit::gtk
