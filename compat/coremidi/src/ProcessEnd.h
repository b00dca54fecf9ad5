// How the process around the layer starts and ends: what it must never hand to JACK, and the
// ways out of it that must not leave a JACK client behind.
#pragma once

namespace coremidi {

// Calls `closeClients` once, whichever comes first: the process's normal exit, or a SIGINT,
// SIGTERM, SIGHUP or SIGPIPE that the program leaves to its default action (the process then
// still ends by that signal). Safe to call more than once; the first call counts.
void closeClientsOnTheWayOut(void (*closeClients)());

}  // namespace coremidi
