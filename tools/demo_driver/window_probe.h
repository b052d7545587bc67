// What a kelvane process shows, read from outside it: its visible top-level windows,
// window texts and classes, its message box, and its console's cells. Shared by the
// demo's installer walk and the end-to-end tests. Only reads; never sends input.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace window_probe {

std::vector<HWND> VisibleTopWindows(DWORD processId);
std::string ClassName(HWND window);
// Through WM_GETTEXT, which the system carries across processes; empty when the window
// does not answer.
std::string WindowText(HWND window);
// The dialog among windows that is neither the pages dialog (it holds control 1005) nor
// the main dialog (control 1000); null when there is none.
HWND FindMessageBox(const std::vector<HWND>& windows);

struct ConsoleCells {
    int rows = 0;
    int columns = 0;
    std::vector<uint16_t> cells;  // row by row: character in the low byte, attribute in the high
};

// Size and cell address through CONM_GETSIZE and CONM_GETCELLS, then the cells from the
// process's memory; empty (rows 0) when any step fails.
ConsoleCells ReadConsoleCells(HANDLE process, HWND console);

}  // namespace window_probe
