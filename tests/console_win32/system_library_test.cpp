// The console's system-folder loads where the search flag is refused: the full system
// path, never a bare name (searched beside the program) nor a cut path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/win32/system_library.h"

namespace {

std::vector<std::wstring> g_loads;

HMODULE WINAPI LoaderWithoutSearchFlags(LPCWSTR name, HANDLE, DWORD flags) {
    g_loads.push_back(std::to_wstring(flags) + L" " + name);
    SetLastError(ERROR_INVALID_PARAMETER);
    return flags == LOAD_LIBRARY_SEARCH_SYSTEM32 ? nullptr : GetModuleHandleW(nullptr);
}

TEST(SystemLibrary, RefusedFlagLoadsTheFullSystemPathAndAPathTooLongIsRefusedNotCut) {
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    EXPECT_EQ(console::win32::loadSystemLibraryWith(LoaderWithoutSearchFlags, L"oleacc.dll"), GetModuleHandleW(nullptr));
    const std::wstring first = std::to_wstring(LOAD_LIBRARY_SEARCH_SYSTEM32) + L" ";
    EXPECT_EQ(g_loads, (std::vector<std::wstring>{first + L"oleacc.dll", std::to_wstring(LOAD_WITH_ALTERED_SEARCH_PATH) +
                                                                             L" " + system + L"\\oleacc.dll"}));
    g_loads.clear();
    const std::wstring tooLong(MAX_PATH - length - 1, L'a');  // one more than fits with its NUL
    EXPECT_EQ(console::win32::loadSystemLibraryWith(LoaderWithoutSearchFlags, tooLong.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(g_loads, std::vector<std::wstring>{first + tooLong});
}

}  // namespace
