// Loading a DLL of the system folder by its bare name, for the accessibility libraries
// the console looks up at run time. Must never search the program's folder, the current
// directory or PATH: the console runs in elevated installers started from Downloads.
#pragma once

#include <windows.h>

namespace console {
namespace win32 {

// The loader's shape (LoadLibraryExW's), so that a test can play a system that refuses
// the search flags.
using SystemLibraryLoader = HMODULE(WINAPI*)(LPCWSTR name, HANDLE reserved, DWORD flags);

// name (e.g. L"oleacc.dll") from the system folder only: LOAD_LIBRARY_SEARCH_SYSTEM32;
// where that flag is refused (ERROR_INVALID_PARAMETER), the full path from
// GetSystemDirectoryW. Null when the DLL is missing, or with ERROR_FILENAME_EXCED_RANGE
// when the full path would not fit MAX_PATH (never a cut path). Any thread.
HMODULE loadSystemLibrary(const wchar_t* name);
HMODULE loadSystemLibraryWith(SystemLibraryLoader load, const wchar_t* name);

// slot = the entry name of module, or null when module is null or lacks it.
template <typename Function>
void lookUpEntry(HMODULE module, const char* name, Function& slot) {
    slot = module != nullptr ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                             : nullptr;
}

}  // namespace win32
}  // namespace console
