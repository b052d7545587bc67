/* bench_first_window INSTALLER: starts it and prints the milliseconds until it shows its
 * first visible window, then ends it. Exit 1 when none appeared within a minute. */
#include <windows.h>

#include <stdio.h>

typedef struct Search {
    DWORD process;
    int found;
} Search;

static BOOL CALLBACK Look(HWND window, LPARAM parameter) {
    Search *search = (Search *)parameter;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == search->process && IsWindowVisible(window)) {
        search->found = 1;
        return FALSE;
    }
    return TRUE;
}

int wmain(int argc, wchar_t **argv) {
    STARTUPINFOW startup;
    PROCESS_INFORMATION started;
    LARGE_INTEGER frequency, begin, now;
    Search search = {0, 0};
    if (argc != 2) return 2;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    if (!CreateProcessW(argv[1], NULL, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &started)) return 1;
    search.process = started.dwProcessId;
    for (;;) {
        EnumWindows(Look, (LPARAM)&search);
        QueryPerformanceCounter(&now);
        if (search.found || now.QuadPart - begin.QuadPart > 60 * frequency.QuadPart) break;
        Sleep(2);
    }
    printf("%.3f\n", (double)(now.QuadPart - begin.QuadPart) / (double)frequency.QuadPart);
    TerminateProcess(started.hProcess, 0);
    WaitForSingleObject(started.hProcess, 10000);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return search.found ? 0 : 1;
}
