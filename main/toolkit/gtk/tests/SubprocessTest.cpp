#include "Subprocess.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ChildProcess.h"
#include "LauncherHarness.h"

namespace quav::testing {
namespace {

using toolkit::gtk::Subprocess;

std::filesystem::path writeScript(const TemporaryDirectory& directory, const std::string& body) {
  const auto path = std::filesystem::path(directory.path()) / "child";
  std::ofstream(path) << "#!/bin/sh\n" << body;
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  return path;
}

std::string contentsOf(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::stringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

// A child with its output and its end recorded.
struct Watched {
  Subprocess process;
  std::string output;
  std::vector<size_t> chunkSizes;
  int terminations = 0;

  explicit Watched(const std::filesystem::path& executable,
                   const std::vector<std::string>& arguments = {}) {
    process.setExecutable(executable);
    process.setArguments(arguments);
    process.setStandardOutputHandler([this](std::string chunk) {
      chunkSizes.push_back(chunk.size());
      output += chunk;
    });
    process.setStandardErrorToNullDevice();
    process.setTerminationHandler([this] { ++terminations; });
  }
};

class SubprocessTest : public ::testing::Test {
 protected:
  TemporaryDirectory directory;
};

TEST_F(SubprocessTest, HandsOnTheWholeOutputInOrderAndEndsOnce) {
  Watched child(writeScript(directory, "seq 1 200000\n"));
  ASSERT_FALSE(child.process.launch());
  EXPECT_TRUE(child.process.isRunning());
  ASSERT_TRUE(spinUntil([&] { return child.terminations == 1; }));
  EXPECT_FALSE(child.process.isRunning());
  std::string expected;
  for (int number = 1; number <= 200000; ++number) expected += std::to_string(number) + "\n";
  ASSERT_TRUE(spinUntil([&] { return child.output.size() >= expected.size(); }));
  EXPECT_EQ(child.output, expected);
  EXPECT_GT(child.chunkSizes.size(), 1u);
  for (size_t size : child.chunkSizes) EXPECT_GT(size, 0u);
  EXPECT_EQ(child.terminations, 1);
}

// The server's diagnostics go nowhere; its input, directory and environment are the launcher's.
TEST_F(SubprocessTest, SilencesStandardErrorAndSharesTheRest) {
  setenv("QUAV_SUBPROCESS_TEST", "inherited", 1);
  Watched child(writeScript(directory,
                            "echo \"$(readlink /proc/$$/fd/2)\"\n"
                            "echo \"$(readlink /proc/$$/fd/0)\"\n"
                            "echo \"$PWD\"\n"
                            "echo \"$QUAV_SUBPROCESS_TEST\"\n"
                            "echo written to standard error >&2\n"));
  ASSERT_FALSE(child.process.launch());
  ASSERT_TRUE(
      spinUntil([&] { return child.terminations == 1 && child.output.ends_with("inherited\n"); }));
  const auto input = std::filesystem::read_symlink("/proc/self/fd/0").string();
  const auto directoryNow = std::filesystem::current_path().string();
  EXPECT_EQ(child.output, "/dev/null\n" + input + "\n" + directoryNow + "\ninherited\n");
  unsetenv("QUAV_SUBPROCESS_TEST");
}

// Why the launch failed of a missing server the launcher's own tests show.
TEST_F(SubprocessTest, ReportsWhyItCouldNotStartAndNeverEnds) {
  const auto notExecutable = writeScript(directory, "exit 0\n");
  std::filesystem::permissions(notExecutable, std::filesystem::perms::owner_read);
  Watched denied(notExecutable);
  const auto refused = denied.process.launch();
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->localizedDescription, "Failed to execute child process \u201c" +
                                               notExecutable.string() +
                                               "\u201d (Permission denied)");
  EXPECT_FALSE(denied.process.isRunning());
  denied.process.interrupt();
  EXPECT_FALSE(spinUntil([&] { return denied.terminations > 0; }, 300ms));
}

// Shells start background jobs with SIGINT ignored; the server must still be able to stop on it.
TEST_F(SubprocessTest, InterruptDeliversOneSigintEvenWhenTheLauncherIgnoresIt) {
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGINT, &ignore, &previous);
  Watched child(writeScript(directory,
                            "trap 'echo interrupted; exit 0' INT\n"
                            "echo started\n"
                            "while :; do sleep 0.05; done\n"));
  const auto error = child.process.launch();
  sigaction(SIGINT, &previous, nullptr);
  ASSERT_FALSE(error);
  ASSERT_TRUE(spinUntil([&] { return child.output == "started\n"; }));
  child.process.interrupt();
  ASSERT_TRUE(spinUntil([&] { return child.terminations == 1; }));
  ASSERT_TRUE(spinUntil([&] { return child.output == "started\ninterrupted\n"; }));
  child.process.interrupt();  // after the end: nothing to signal
}

TEST_F(SubprocessTest, AChildThatClosesItsOutputKeepsRunningUntilItEnds) {
  Watched child(writeScript(directory, "echo last words\nexec >&-\nexec sleep 60\n"));
  ASSERT_FALSE(child.process.launch());
  ASSERT_TRUE(spinUntil([&] { return child.output == "last words\n"; }));
  EXPECT_FALSE(spinUntil([&] { return child.terminations > 0; }, 300ms));
  EXPECT_TRUE(child.process.isRunning());
  child.process.interrupt();
  EXPECT_TRUE(spinUntil([&] { return child.terminations == 1; }));
}

TEST_F(SubprocessTest, LettingGoOfARunningChildNeitherStopsItNorCallsBackAgain) {
  const auto pidFile = std::filesystem::path(directory.path()) / "pid";
  const auto script =
      writeScript(directory, "echo $$ > " + pidFile.string() + "\necho started\nexec sleep 60\n");
  int callbacks = 0;
  auto process = std::make_unique<Subprocess>();
  process->setExecutable(script);
  process->setStandardOutputHandler([&](std::string) { ++callbacks; });
  process->setTerminationHandler([&] { ++callbacks; });
  ASSERT_FALSE(process->launch());
  ASSERT_TRUE(spinUntil([&] { return callbacks == 1; }));
  const pid_t pid = std::stoi(contentsOf(pidFile));
  process.reset();
  EXPECT_EQ(kill(pid, 0), 0);
  kill(pid, SIGKILL);
  // GLib still reaps the child; its end reaches nobody.
  EXPECT_TRUE(spinUntil([&] { return kill(pid, 0) != 0; }));
  EXPECT_EQ(callbacks, 1);
}

}  // namespace
}  // namespace quav::testing
