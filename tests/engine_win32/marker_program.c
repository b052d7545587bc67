/* A program that must never run: put where a running installer's own file was, it leaves
 * marker-ran.txt beside itself if anything starts it. Does nothing else. */
#include <windows.h>

#include <string.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
    char *slash;
    HANDLE file;
    (void)instance, (void)previous, (void)commandLine, (void)show;
    if (length == 0 || length >= sizeof path) return 1;
    slash = strrchr(path, '\\');
    if (slash == NULL || (size_t)(slash - path) + sizeof "\\marker-ran.txt" > sizeof path) return 1;
    strcpy(slash, "\\marker-ran.txt");
    file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return 0;
}
