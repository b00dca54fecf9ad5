#include "MainQueue.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace quav::toolkit::gtk {
namespace {

TEST(MainQueue, RunsTasksFromManyThreadsEachInTheOrderPosted) {
  constexpr int kThreads = 4, kTasks = 2000;
  std::vector<std::vector<int>> ran(kThreads);
  std::vector<std::thread> posters;
  for (int thread = 0; thread < kThreads; ++thread) {
    posters.emplace_back([&, thread] {
      for (int task = 0; task < kTasks; ++task) {
        postToMainQueue([&, thread, task] { ran[thread].push_back(task); });
      }
    });
  }
  for (auto& poster : posters) poster.join();
  // Every task is ready to run now: each iteration of the loop runs some.
  for (int round = 0; round < kThreads * kTasks; ++round) g_main_context_iteration(nullptr, FALSE);
  std::vector<int> inOrder(kTasks);
  for (int task = 0; task < kTasks; ++task) inOrder[task] = task;
  for (const auto& tasks : ran) EXPECT_EQ(tasks, inOrder);
}

}  // namespace
}  // namespace quav::toolkit::gtk
