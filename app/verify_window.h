// The start-up check of a one-file installer's payload, with a small window that tells how
// far it is when it takes longer than half a second. Shows nothing else and decides nothing:
// what to do with a damaged payload is the caller's.
#pragma once

#include <string>

namespace app {

// Runs the check (CheckEmbeddedPayload) on a thread of its own while this thread keeps
// serving its messages; after half a second, with showWindow, a window says
// "Verifying the installer ... N %" until the check ends. *seconds: how long it took.
// True when the program carries no payload or a whole one. Main thread, before any
// other window of the program exists.
bool CheckPayloadShowingProgress(bool showWindow, std::string* failure, double* seconds);

}  // namespace app
