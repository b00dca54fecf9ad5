#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "LauncherHarness.h"
#include "MainQueue.h"

namespace quav::testing {
namespace {

using toolkit::gtk::postToMainQueue;

TEST(MainQueue, RunsTasksFromManyThreadsEachInTheOrderPosted) {
  constexpr int kThreads = 4;
  constexpr int kTasksPerThread = 2000;
  std::vector<std::vector<int>> ran(kThreads);
  int total = 0;
  std::vector<std::thread> posters;
  for (int thread = 0; thread < kThreads; ++thread) {
    posters.emplace_back([&, thread] {
      for (int task = 0; task < kTasksPerThread; ++task) {
        postToMainQueue([&, thread, task] {
          ran[thread].push_back(task);
          ++total;
        });
      }
    });
  }
  for (auto& poster : posters) poster.join();
  ASSERT_TRUE(spinUntil([&] { return total == kThreads * kTasksPerThread; }));
  for (const auto& tasks : ran) {
    ASSERT_EQ(tasks.size(), static_cast<size_t>(kTasksPerThread));
    for (int task = 0; task < kTasksPerThread; ++task) EXPECT_EQ(tasks[task], task);
  }
}

TEST(MainQueue, RunsATaskPostedByATaskAfterThoseAlreadyWaiting) {
  std::vector<std::string> ran;
  postToMainQueue([&] {
    ran.push_back("first");
    postToMainQueue([&] { ran.push_back("posted by first"); });
  });
  postToMainQueue([&] { ran.push_back("second"); });
  ASSERT_TRUE(spinUntil([&] { return ran.size() == 3; }));
  EXPECT_EQ(ran, (std::vector<std::string>{"first", "second", "posted by first"}));
}

}  // namespace
}  // namespace quav::testing
