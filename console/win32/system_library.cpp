// Loading a DLL of the system folder by its bare name. Must never fall back to a bare
// name: on a system without the search flags that would search the program's folder.
#include "system_library.h"

#include <cwchar>

namespace console {
namespace win32 {

HMODULE loadSystemLibrary(const wchar_t* name) { return loadSystemLibraryWith(LoadLibraryExW, name); }

HMODULE loadSystemLibraryWith(SystemLibraryLoader load, const wchar_t* name) {
    HMODULE module = load(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr || GetLastError() != ERROR_INVALID_PARAMETER) return module;
    // A system without the flag: the full path, whose own imports the altered search
    // then also takes from the system folder.
    wchar_t path[MAX_PATH];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    const size_t nameLength = wcslen(name);
    if (length == 0 || length >= MAX_PATH || length + 1 + nameLength >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    path[length] = L'\\';
    wmemcpy(path + length + 1, name, nameLength + 1);
    return load(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace win32
}  // namespace console
