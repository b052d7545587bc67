// The installation's progress on the main window's taskbar button, as the module reports it
// through the payload extension; the error state when the installation fails. Shows nothing
// on systems or shells without a taskbar that takes it.
#pragma once

#include <windows.h>

#include <cstdint>

namespace app {

// Routes the extension's setProgress to window: any thread may report; the window's thread
// shows it when window receives message. Main thread, before the module runs.
void RouteTaskbarProgress(HWND window, UINT message);

// Any thread: the state (KELVANE_PROGRESS_*) and done of total to show next.
void ReportTaskbarProgress(uint32_t state, uint64_t done, uint64_t total);

// The window's thread, on message: shows what was reported last.
void ShowTaskbarProgress(HWND window);

}  // namespace app
