// A terminal's Ctrl-C, a hangup or a plain kill quits the launcher the way the user does, so
// that the Lab server is interrupted on the way out.
#pragma once

namespace quav::toolkit::appkit {

// From now on SIGINT, SIGTERM and SIGHUP have the application terminate, from its main run loop
// (an open alert's too). Call once, on the main thread.
void quitOnSignals();

}  // namespace quav::toolkit::appkit
