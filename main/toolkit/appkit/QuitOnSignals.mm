#import "QuitOnSignals.h"

#import <AppKit/AppKit.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <initializer_list>

#include "Bridge.h"

namespace {

int signalPipe[2] = {-1, -1};

// Async-signal-safe: only tells the run loop, through the pipe.
void onSignal(int signal) {
  const char number = static_cast<char>(signal);
  (void)write(signalPipe[1], &number, 1);
}

}  // namespace

@interface QuavSignalWatch : NSObject
- (void)signalled:(NSNotification*)notification;
@end

@implementation QuavSignalWatch
- (void)signalled:(NSNotification*)notification {
  [NSApp terminate:nil];
}
@end

namespace quav::toolkit::appkit {

void quitOnSignals() {
  if (pipe(signalPipe) != 0) return;  // then a signal ends the launcher as it would by default
  fcntl(signalPipe[0], F_SETFD, FD_CLOEXEC);
  fcntl(signalPipe[1], F_SETFD, FD_CLOEXEC);
  // Kept for the whole run, as the handlers are.
  NSFileHandle* reader = [[NSFileHandle alloc] initWithFileDescriptor:signalPipe[0]];
  QuavSignalWatch* watch = [[QuavSignalWatch alloc] init];
  [[NSNotificationCenter defaultCenter] addObserver:watch
                                           selector:@selector(signalled:)
                                               name:NSFileHandleReadCompletionNotification
                                             object:reader];
  [reader readInBackgroundAndNotifyForModes:mainRunLoopModes()];
  struct sigaction action = {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

}  // namespace quav::toolkit::appkit
