// The one SIGINT the Lab server gets from the launcher, also when the launcher dies without
// quitting (killed, crashed), so that no server runs on without its launcher.
//
// The kernel's parent-death signal cannot do this: it follows the thread that started the
// child, and each launcher thread that ends while the server lives passes the server on to
// another thread with one more signal. A small process of the launcher's own holds the only
// copy of a socket's far end instead; when the launcher's process ends, however it ends, the
// socket closes, and the guard sends the SIGINT that the launcher did not.
#pragma once

#include <sys/types.h>

#include <optional>

namespace quav::toolkit::gtk {

class InterruptGuard {
 public:
  // Watches the process `pid`, a child of this process; nothing when the guard cannot be made,
  // or the process has already ended.
  static std::optional<InterruptGuard> watch(pid_t pid);

  // Has the guard send the SIGINT now, if the process still runs; false when the guard is gone.
  // The guard then ends: the process gets one SIGINT whatever happens afterwards.
  bool interrupt();

 private:
  explicit InterruptGuard(int socket) : socket_(socket) {}
  // Never closed: its closing is what tells the guard the launcher is gone, so it lives as long
  // as the launcher's process.
  int socket_;
};

}  // namespace quav::toolkit::gtk
