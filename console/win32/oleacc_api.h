// oleacc.dll's entry points that the console's Active Accessibility object uses, looked
// up at run time from the system folder. Nothing here may link against oleacc: it is no
// KnownDLL, so a static import would be taken from beside an elevated installer.
#pragma once

#include <windows.h>
#include <ole2.h>

namespace console {
namespace win32 {
namespace oleacc {

// Each is null where the system lacks it (all of them when the DLL itself is missing);
// callers then leave Active Accessibility off.
struct Api {
    LRESULT(WINAPI* lresultFromObject)(REFIID, WPARAM, LPUNKNOWN);
    HRESULT(WINAPI* accessibleObjectFromWindow)(HWND, DWORD, REFIID, void**);
};

// Any thread. Loads the DLL on first use and keeps it for the process's life.
const Api& api();

}  // namespace oleacc
}  // namespace win32
}  // namespace console
