/* A recursive CopyFileW copy of a folder: the floor an installer's copy is judged against. */
#include "tree_copy.h"

#include <windows.h>

#include <stdio.h>

char copyFailure[512];

static int Failed(const char *what, const wchar_t *path) {
    snprintf(copyFailure, sizeof copyFailure, "%s %ls (error %lu)", what, path, (unsigned long)GetLastError());
    return 0;
}

int CopyTree(const wchar_t *from, const wchar_t *to) {
    wchar_t pattern[MAX_PATH], source[MAX_PATH], target[MAX_PATH];
    WIN32_FIND_DATAW found;
    HANDLE search;
    int ok = 1;
    if (!CreateDirectoryW(to, NULL) && GetLastError() != ERROR_ALREADY_EXISTS) return Failed("cannot make", to);
    _snwprintf(pattern, MAX_PATH, L"%ls\\*", from);
    search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return Failed("cannot list", from);
    do {
        if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0) continue;
        _snwprintf(source, MAX_PATH, L"%ls\\%ls", from, found.cFileName);
        _snwprintf(target, MAX_PATH, L"%ls\\%ls", to, found.cFileName);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ok = CopyTree(source, target) && ok;
        } else if (!CopyFileW(source, target, FALSE)) {
            ok = Failed("cannot copy", source);
        }
    } while (ok && FindNextFileW(search, &found));
    FindClose(search);
    return ok;
}
