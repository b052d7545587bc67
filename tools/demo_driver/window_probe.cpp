// Reading another process's windows: window messages the system carries across
// processes, and process memory at the address the console itself reports.
#include "tools/demo_driver/window_probe.h"

#include "sdk/quorvend_console.h"

namespace window_probe {

namespace {

struct WindowSearch {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectVisibleWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window)) search->found.push_back(window);
    return TRUE;
}

}  // namespace

std::vector<HWND> VisibleTopWindows(DWORD processId) {
    WindowSearch search{processId, {}};
    EnumWindows(CollectVisibleWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string ClassName(HWND window) {
    char name[64];
    const int length = GetClassNameA(window, name, sizeof name);
    return std::string(name, length > 0 ? length : 0);
}

std::string WindowText(HWND window) {
    char text[4096];
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                             5000, &copied)) {
        return std::string();
    }
    return std::string(text, copied < sizeof text ? copied : sizeof text - 1);
}

HWND FindMessageBox(const std::vector<HWND>& windows) {
    for (HWND window : windows) {
        if (ClassName(window) == "#32770" && GetDlgItem(window, 1005) == nullptr &&
            GetDlgItem(window, 1000) == nullptr) {
            return window;
        }
    }
    return nullptr;
}

ConsoleCells ReadConsoleCells(HANDLE process, HWND console) {
    ConsoleCells view;
    DWORD_PTR size = 0;
    DWORD_PTR cells = 0;
    if (!SendMessageTimeoutA(console, CONM_GETSIZE, 0, 0, SMTO_ABORTIFHUNG, 5000, &size) ||
        !SendMessageTimeoutA(console, CONM_GETCELLS, 0, 0, SMTO_ABORTIFHUNG, 5000, &cells) ||
        static_cast<LONG_PTR>(size) <= 0 || cells == 0) {
        return view;
    }
    view.rows = static_cast<int>((size >> 16) & 0xFFFF);
    view.columns = static_cast<int>(size & 0xFFFF);
    view.cells.resize(static_cast<size_t>(view.rows) * view.columns);
    SIZE_T got = 0;
    if (!ReadProcessMemory(process, reinterpret_cast<LPCVOID>(cells), view.cells.data(),
                           view.cells.size() * sizeof(uint16_t), &got) ||
        got != view.cells.size() * sizeof(uint16_t)) {
        view = ConsoleCells();
    }
    return view;
}

}  // namespace window_probe
