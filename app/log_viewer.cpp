// Opening the install log through the desktop's shell, which runs as the user. Must
// never fall back to a launch from this process: it runs elevated, and the viewer comes
// from the user's class registry, which any unelevated program may change.
#include "app/log_viewer.h"

#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include <cstdio>
#include <cwchar>

#include "engine/win32/install_log.h"

namespace app {

namespace {

// One reference, released at the end of the scope.
template <typename Interface>
class Held {
public:
    Held() = default;
    ~Held() {
        if (pointer_ != nullptr) pointer_->Release();
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    Interface* operator->() const { return pointer_; }
    Interface* get() const { return pointer_; }
    Interface** put() { return &pointer_; }
    void** putVoid() { return reinterpret_cast<void**>(&pointer_); }

private:
    Interface* pointer_ = nullptr;
};

// A BSTR freed at the end of the scope; null for a null text.
class Text {
public:
    explicit Text(const wchar_t* text) : bstr_(text != nullptr ? SysAllocString(text) : nullptr) {}
    ~Text() { SysFreeString(bstr_); }
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    BSTR get() const { return bstr_; }

private:
    BSTR bstr_;
};

VARIANT StringVariant(BSTR text) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = text;
    return value;
}

// A step fails when it fails or yields nothing (FindWindowSW answers S_FALSE without a
// desktop window).
bool Failed(HRESULT result, const void* got, const char* step, char* why, size_t size) {
    if (SUCCEEDED(result) && got != nullptr) return false;
    if (size > 0) snprintf(why, size, "%s: 0x%08lX", step, static_cast<unsigned long>(result));
    return true;
}

}  // namespace

bool OpenAsDesktopUser(const wchar_t* file, const wchar_t* directory, char* why, size_t size) {
    Held<IShellWindows> windows;
    HRESULT result = CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                      windows.putVoid());
    if (Failed(result, windows.get(), "ShellWindows", why, size)) return false;

    VARIANT desktop;
    VariantInit(&desktop);
    desktop.vt = VT_I4;
    desktop.lVal = CSIDL_DESKTOP;
    VARIANT none;
    VariantInit(&none);
    long desktopWindow = 0;
    Held<IDispatch> found;
    result = windows->FindWindowSW(&desktop, &none, SWC_DESKTOP, &desktopWindow, SWFO_NEEDDISPATCH, found.put());
    // S_FALSE with nothing: no desktop window is registered (no explorer shell).
    if (Failed(result, found.get(), "FindWindowSW", why, size)) return false;

    Held<IServiceProvider> services;
    result = found->QueryInterface(IID_IServiceProvider, services.putVoid());
    if (Failed(result, services.get(), "IServiceProvider", why, size)) return false;
    Held<IShellBrowser> browser;
    result = services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.putVoid());
    if (Failed(result, browser.get(), "SID_STopLevelBrowser", why, size)) return false;
    Held<IShellView> view;
    result = browser->QueryActiveShellView(view.put());
    if (Failed(result, view.get(), "QueryActiveShellView", why, size)) return false;
    Held<IDispatch> background;
    result = view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.putVoid());
    if (Failed(result, background.get(), "GetItemObject", why, size)) return false;
    Held<IShellFolderViewDual> folderView;
    result = background->QueryInterface(IID_IShellFolderViewDual, folderView.putVoid());
    if (Failed(result, folderView.get(), "IShellFolderViewDual", why, size)) return false;
    Held<IDispatch> application;
    result = folderView->get_Application(application.put());
    if (Failed(result, application.get(), "get_Application", why, size)) return false;
    Held<IShellDispatch2> shell;
    result = application->QueryInterface(IID_IShellDispatch2, shell.putVoid());
    if (Failed(result, shell.get(), "IShellDispatch2", why, size)) return false;

    // The shell starts the viewer: let it bring that window to the front.
    DWORD shellProcess = 0;
    if (GetWindowThreadProcessId(reinterpret_cast<HWND>(static_cast<LONG_PTR>(desktopWindow)), &shellProcess) != 0) {
        AllowSetForegroundWindow(shellProcess);
    }
    const Text path(file);
    const Text folder(directory);
    const Text open(L"open");
    const Text noArguments(L"");
    VARIANT show;
    VariantInit(&show);
    show.vt = VT_I4;
    show.lVal = SW_SHOWNORMAL;
    result = shell->ShellExecute(path.get(), StringVariant(noArguments.get()), StringVariant(folder.get()),
                                 StringVariant(open.get()), show);
    return !Failed(result, shell.get(), "ShellExecute", why, size);
}

bool OpenLogViewer(HWND owner, const char* path) {
    (void)owner;  // the viewer belongs to the shell, not to this dialog
    if (path == nullptr || path[0] == '\0') return false;
    wchar_t file[MAX_PATH];
    char why[160] = "the log path cannot be converted";
    bool opened = false;
    const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, file, MAX_PATH);
    if (length > 0) {
        wchar_t directory[MAX_PATH];
        wmemcpy(directory, file, static_cast<size_t>(length));
        wchar_t* slash = wcsrchr(directory, L'\\');
        if (slash != nullptr) slash[1] = L'\0';
        opened = OpenAsDesktopUser(file, directory, why, sizeof why);
    }
    if (!opened) {
        char record[256];
        snprintf(record, sizeof record, "The log is not opened as the user through the desktop shell (%s)", why);
        engine::win32::WriteLateLogLine(record);
    }
    return opened;
}

}  // namespace app
