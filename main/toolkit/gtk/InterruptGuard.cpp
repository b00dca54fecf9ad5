#include "InterruptGuard.h"

#include <glib.h>
#include <poll.h>
#include <signal.h>
// glibc 2.36's header forgets to declare its functions as C ones.
extern "C" {
#include <sys/pidfd.h>
}
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace quav::toolkit::gtk {
namespace {

// Leaves the guard nothing of the launcher's but its two descriptors: a guard holding the
// launcher's standard streams or display connection would keep them open after the launcher.
void closeAllBut(int first, int second) {
  const auto low = static_cast<unsigned>(std::min(first, second));
  const auto high = static_cast<unsigned>(std::max(first, second));
  if (low > 0) close_range(0, low - 1, 0);
  if (high > low + 1) close_range(low + 1, high - 1, 0);
  close_range(high + 1, ~0U, 0);
}

// The guard's whole life, in a copy of a process that has threads: async-signal-safe calls
// only. Signals meant for the launcher (a terminal's Ctrl-C, a logout) stay blocked: the
// launcher answers them, and the guard outlives it only to send the SIGINT. A process group of
// its own keeps it out of what kills the launcher's whole group (kill -9 %1 in a shell).
[[noreturn]] void guard(int launcher, int server) {
  sigset_t all;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, nullptr);
  setpgid(0, 0);
  closeAllBut(launcher, server);
  pollfd watched[2] = {{launcher, POLLIN, 0}, {server, POLLIN, 0}};
  while (poll(watched, 2, -1) < 0) {
    if (errno != EINTR) _exit(1);
  }
  // Readable: the launcher asked, or its end of the socket closed. The server's descriptor
  // becomes readable when the server has ended, and then it needs nothing.
  if (!(watched[1].revents & POLLIN)) pidfd_send_signal(server, SIGINT, nullptr, 0);
  _exit(0);
}

void reapGuard(GPid, gint, gpointer) {}

}  // namespace

std::optional<InterruptGuard> InterruptGuard::watch(pid_t pid) {
  // A descriptor for the process itself: a number could name another process once this one
  // has ended and been collected.
  const int server = pidfd_open(pid, 0);
  if (server < 0) return std::nullopt;
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    close(server);
    return std::nullopt;
  }
  const pid_t guardian = fork();
  if (guardian == 0) guard(ends[1], server);
  close(ends[1]);
  close(server);
  if (guardian < 0) {
    close(ends[0]);
    return std::nullopt;
  }
  g_child_watch_add(guardian, reapGuard, nullptr);
  return InterruptGuard(ends[0]);
}

bool InterruptGuard::interrupt() {
  const char request = 'i';
  // No SIGPIPE when the guard has gone: the caller then signals the server itself.
  return send(socket_, &request, 1, MSG_NOSIGNAL) == 1;
}

}  // namespace quav::toolkit::gtk
