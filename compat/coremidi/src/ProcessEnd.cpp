#include "ProcessEnd.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

namespace coremidi {
namespace {

// A program started with standard input, output or error closed would hand those numbers to the
// first files opened, JACK's metadata database among them, and then read commands from it or
// write packets over it. So before anything opens (this runs ahead of the static constructors),
// each closed one becomes the null device: it reads as end of input and takes what is written,
// as a closed stream behaves for a program on macOS.
[[gnu::constructor(101)]] void occupyClosedStandardDescriptors() {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (fcntl(descriptor, F_GETFD) == -1 && errno == EBADF) {
      open("/dev/null", descriptor == 0 ? O_RDONLY : O_WRONLY);  // the lowest free number
    }
  }
}

void (*clientsToClose)() = nullptr;
std::once_flag closing;
int stopSignals[2] = {-1, -1};  // written by the handler, read by the closing thread

void closeClientsOnce() {
  std::call_once(closing, clientsToClose);
}

void onStopSignal(int number) {
  const char byte = static_cast<char>(number);
  [[maybe_unused]] const auto written = write(stopSignals[1], &byte, 1);
}

// Closing a JACK client is not for a signal handler: this thread does it, then ends the process
// by the same signal, its handler back to the default.
void* closeThenStop(void*) {
  char number = 0;
  while (read(stopSignals[0], &number, 1) != 1) {
  }
  closeClientsOnce();
  signal(number, SIG_DFL);
  kill(getpid(), number);
  return nullptr;
}

void startClosingOnStopSignals() {
  if (pipe2(stopSignals, O_CLOEXEC) != 0) return;
  // The closing thread takes no signal itself, so that the one it sends reaches the program.
  sigset_t all, program;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &program);
  pthread_t closer;
  const bool started = pthread_create(&closer, nullptr, closeThenStop, nullptr) == 0;
  pthread_sigmask(SIG_SETMASK, &program, nullptr);
  if (!started) return;
  pthread_detach(closer);
  for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    struct sigaction current {};
    sigaction(number, nullptr, &current);
    if (current.sa_handler != SIG_DFL) continue;  // the program's own choice, or ignored
    struct sigaction handler {};
    handler.sa_handler = onStopSignal;
    sigemptyset(&handler.sa_mask);
    handler.sa_flags = SA_RESTART;
    sigaction(number, &handler, nullptr);
  }
}

}  // namespace

void closeClientsOnTheWayOut(void (*closeClients)()) {
  static std::once_flag once;
  std::call_once(once, [closeClients] {
    clientsToClose = closeClients;
    std::atexit(closeClientsOnce);
    startClosingOnStopSignals();
  });
}

}  // namespace coremidi
