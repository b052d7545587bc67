// Opening the install log in the user's viewer once the log question is answered Yes.
// Launches and returns: it never waits for the viewer, and never initialises COM (the
// calling thread does that before it asks).
#pragma once

#include <windows.h>

namespace app {

// Hands path to the shell's "open" verb, owned by owner. An empty or missing path (no
// log was created) opens nothing and returns false; so does a failed launch.
bool OpenLogViewer(HWND owner, const char* path);

}  // namespace app
