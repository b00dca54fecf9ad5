#include "MainQueue.h"

namespace quav::toolkit::gtk {
namespace {

using Task = std::function<void()>;

gboolean runTask(gpointer task) {
  (*static_cast<Task*>(task))();
  return G_SOURCE_REMOVE;
}

void deleteTask(gpointer task) {
  delete static_cast<Task*>(task);
}

}  // namespace

// Sources of one priority run in the order they were attached, which keeps the tasks in order.
void postToMainQueue(std::function<void()> task) {
  g_idle_add_full(kMainQueuePriority, runTask, new Task(std::move(task)), deleteTask);
}

}  // namespace quav::toolkit::gtk
