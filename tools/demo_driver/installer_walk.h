// Drives a kelvane installer from outside, as a person would click through it: warning
// page, licence page, tick, main dialog, Install, the result box, the log question (No).
// Stops at named checkpoints so that a screenshot can be taken. Starts and owns the
// installer process; touches no other process and never answers a box it did not expect.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace demo {

struct WalkOptions {
    std::string installer;         // path of the installer .exe
    std::string workingDirectory;  // its current directory; empty: the installer's folder
    // Empty: no pauses. Otherwise each checkpoint writes <folder>\<name>.ready holding
    // "x y width height" of the windows to capture, and waits for <name>.done.
    std::string syncFolder;
    // Console text that shows the installation is under way (checkpoint 05-installing).
    std::string progressText = "[ 40%]";
    DWORD stepTimeoutMs = 60000;
    DWORD settleMs = 0;  // pause before each checkpoint, so the screen is repainted
    // An unattended run watched as it goes: started with /passive /acceptlicence, no
    // pages dialog and no box; one checkpoint, 08-passive, while it installs.
    bool passive = false;
    // The uninstaller: started with /uninstall, the question answered Yes, checkpoints
    // 09-confirm-removal, 10-removed, 11-log-question; with passive, /uninstall /passive
    // and the one checkpoint 09-uninstalling.
    bool uninstall = false;
    // Not an installer walk: waits for any top-level window captioned snapCaption, takes
    // one checkpoint snapName of it and closes it (installer is not started).
    std::string snapCaption;
    std::string snapName;
};

struct BoxSeen {
    std::string caption;
    std::string text;
};

struct WalkResult {
    bool completed = false;  // every step taken and the process ended
    std::string failure;     // why not, when not completed
    DWORD exitCode = 0;
    std::string pagesCaption;
    std::string mainCaption;
    std::string warningPage;  // text of the document view on each page
    std::string licencePage;
    std::vector<BoxSeen> boxes;  // every message box of the installer, in order
    std::vector<std::string> checkpoints;
};

// Checkpoints, in order: 01-warning, 02-licence, 03-licence-accepted, 04-main,
// 05-folder-question (only when the installation asks for its folder), 05-installing,
// 06-finished, 07-log-question (a passive walk: 08-passive alone). A message box other
// than the two at the end (for instance a warning that a text was read from a file) ends
// the walk as a failure.
// Any thread; blocks until the installer has ended or the walk failed (then the
// installer is terminated).
WalkResult WalkInstaller(const WalkOptions& options);

}  // namespace demo
