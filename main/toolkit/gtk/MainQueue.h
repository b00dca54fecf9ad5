// The main queue on GLib's main loop.
#pragma once

#include <glib.h>

#include <functional>

namespace quav::toolkit::gtk {

// Tasks run below the toolkit's drawing and input, in the order posted. The server's output is
// read at the same priority, so reading never gets ahead of handing the chunks on.
constexpr int kMainQueuePriority = G_PRIORITY_DEFAULT_IDLE;

// Safe from any thread.
void postToMainQueue(std::function<void()> task);

}  // namespace quav::toolkit::gtk
