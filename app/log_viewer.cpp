// Opening the install log in the user's viewer. Launches and returns: it never waits
// for the viewer, and never initialises COM (the calling thread does that).
#include "app/log_viewer.h"

#include <shellapi.h>

namespace app {

bool OpenLogViewer(HWND owner, const char* path) {
    if (path == nullptr || path[0] == '\0') return false;
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    // The process ends as soon as this returns: the launch must be finished by then, not
    // left to a shell thread that ExitProcess would kill. No error box (no viewer for the
    // file type): nobody would see past it, and it would hold the process open.
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = owner;
    info.lpVerb = "open";
    info.lpFile = path;
    info.nShow = SW_SHOW;
    return ShellExecuteExA(&info) != FALSE;
}

}  // namespace app
