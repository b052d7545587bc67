/* Install module used by the front-end's end-to-end tests, built once with a __cdecl and
 * once with a __stdcall entry. Reads kvtest.ini beside the program through the host's
 * own services; prints a fixed script; never touches the console other than by them. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "sdk/kelvane_install.h"
#include "sdk/kelvane_payload.h"
#include "sdk/quorvend_console.h"

#ifdef KVTEST_STDCALL
#define KVTEST_ENTRY_CONVENTION __stdcall
#else
#define KVTEST_ENTRY_CONVENTION __cdecl
#endif

static LONG g_entries = 0;

/* Leaves an empty file in the program folder for the test to find. */
static void Mark(const InstallHostInterface *host, const char *name) {
    char path[MAX_PATH];
    HANDLE file;
    if (snprintf(path, sizeof path, "%s%s", host->programDirectory, name) >= (int)sizeof path) return;
    file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

/* What an interactive module would ask a person: INPUTS fields and a key wait, each
 * answer printed back so the test sees what the host handed over. */
static void AskQuestions(const InstallHostInterface *host, KeyValueList settings) {
    HWND console = GetDlgItem((HWND)host->mainWindow, 1000);
    int count = host->getIntValue(settings, "INPUTS");
    char line[64];
    char echo[96];
    int i;
    for (i = 1; i <= count; ++i) {
        LRESULT ended;
        snprintf(line, sizeof line, "default %d", i);
        snprintf(echo, sizeof echo, "question %d: ", i);
        host->printText(echo, NULL, 0, 0);
        ended = SendMessageA(console, CONM_INPUTLINE, 40 | (CONI_TEXT << 12), (LPARAM)line);
        snprintf(echo, sizeof echo, "answer %d (%d): [%s]", i, (int)ended, line);
        host->printText(echo, NULL, 0, 1);
    }
    /* 2: the focus first goes to "Install ..." (as a click leaves it); the wait is announced. */
    if (host->getIntValue(settings, "WAITKEY") == 2) {
        HWND dialog = (HWND)host->mainWindow;
        SendMessageA(dialog, WM_NEXTDLGCTL, (WPARAM)GetDlgItem(dialog, 1001), TRUE);
        host->printText("press a key", NULL, 0, 1);
    }
    if (host->getIntValue(settings, "WAITKEY") >= 1) {
        snprintf(echo, sizeof echo, "key %d", (int)SendMessageA(console, CONM_WAITKEY, 0, 0));
        host->printText(echo, NULL, 0, 1);
    }
}

/* The host searches only the system folder: the bare name must fail, the full path load. */
static void LoadHelper(const InstallHostInterface *host) {
    char path[MAX_PATH];
    /* A cut path must not load: an empty one fails and shows as "full path: null". */
    if (snprintf(path, sizeof path, "%skvtest_dependency_copy.dll", host->programDirectory) >= (int)sizeof path)
        path[0] = 0;
    host->printText(LoadLibraryA("kvtest_dependency_copy.dll") ? "bare: loaded" : "bare: null", NULL, 0, 1);
    host->printText(LoadLibraryA(path) ? "full path: loaded" : "full path: null", NULL, 0, 1);
}

/* "NAME=value" in UTF-8, which the log keeps as it is, or "NAME absent". */
static void PrintWideVariable(const InstallHostInterface *host, const char *name, const WCHAR *wideName) {
    WCHAR value[MAX_PATH];
    char text[64 + 3 * MAX_PATH];
    DWORD length = GetEnvironmentVariableW(wideName, value, MAX_PATH);
    int at = snprintf(text, sizeof text, length > 0 && length < MAX_PATH ? "%s=" : "%s absent", name);
    if (length > 0 && length < MAX_PATH) {
        WideCharToMultiByte(CP_UTF8, 0, value, -1, text + at, 3 * MAX_PATH, NULL, NULL);
    }
    host->printText(text, NULL, 0, 1);
}

static DWORD WINAPI CrashOnItsOwn(LPVOID unused) {
    volatile int *nowhere = (volatile int *)unused;
    *nowhere = 1;
    return 0;
}

static HWND CreateOwnerWindow(void) {
    return CreateWindowExA(0, "Static", "kvtest owner window", WS_POPUP, 0, 0, 10, 10, NULL, NULL,
                           GetModuleHandleA(NULL), NULL);
}

KelvaneBool KVTEST_ENTRY_CONVENTION quorvend_install2(InstallHostInterface *host) {
    char path[MAX_PATH];
    KeyValueList settings;
    const char *wait;
    KelvaneBool result;

    if (InterlockedIncrement(&g_entries) > 1) {
        Mark(host, "second-entry.txt");
        return 0;
    }
    if (host->size != sizeof(InstallHostInterface) || host->reserved1 != 0 || host->reserved2 != 0) {
        host->printText("bad host interface", NULL, 1, 1);
        return 0;
    }
    if (snprintf(path, sizeof path, "%skvtest.ini", host->programDirectory) >= (int)sizeof path) return 0;
    settings = host->loadKeyValues(path);
    result = (KelvaneBool)(strlen(host->getValue(settings, "result", 0)) > 0 ? host->getIntValue(settings, "RESULT")
                                                                              : 1);

    host->printText("Hello", "world", 0, 1);
    host->setPrintColor(0x10C); /* only 0x0C reaches the console */
    host->printText("red", NULL, 1, 1);
    host->setPrintColor(7);
    host->printText(host->programName, NULL, 0, 1);

    /* Icons as seen from inside the program (Wine answers 0 to other processes). */
    if (host->getIntValue(settings, "PROBEICONS") == 1) {
        HWND dialog = (HWND)host->mainWindow;
        LRESULT big = SendMessageA(dialog, WM_GETICON, ICON_BIG, 0);
        LRESULT small = SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0);
        LRESULT drag = SendMessageA(dialog, WM_QUERYDRAGICON, 0, 0);
        host->printText(big != 0 && big == small && big == drag ? "icons ok" : "icons differ", NULL, 0, 1);
    }

    if (host->getIntValue(settings, "LOADHELPER") == 1) LoadHelper(host);
    if (host->getIntValue(settings, "PRINTENV") == 2) {
        PrintWideVariable(host, "KELVANE_ACTION", L"KELVANE_ACTION");
        PrintWideVariable(host, "KELVANE_DIR", L"KELVANE_DIR");
        PrintWideVariable(host, "KELVANE_ALLOW_DOWNGRADE", L"KELVANE_ALLOW_DOWNGRADE");
        PrintWideVariable(host, "KELVANE_CLOSE_APPLICATIONS", L"KELVANE_CLOSE_APPLICATIONS");
    }
    if (host->getIntValue(settings, "PRINTENV") == 1) {
        char value[32] = "";
        char text[64];
        GetEnvironmentVariableA("KELVANE_UI", value, sizeof value);
        snprintf(text, sizeof text, "KELVANE_UI=%s", value);
        host->printText(text, NULL, 0, 1);
    }
    AskQuestions(host, settings);
    if (host->getIntValue(settings, "REDLINE") == 1) {
        host->setPrintColor(4);
        host->printText("alarm in red", NULL, 0, 1);
        host->setPrintColor(7);
    }
    if (host->getIntValue(settings, "CRASH") == 1) {
        volatile int *nowhere = NULL;
        *nowhere = 1;
    }
    if (host->getIntValue(settings, "CRASH") == 2) { /* on a thread of its own, which nobody guards */
        HANDLE thread = CreateThread(NULL, 0, CrashOnItsOwn, NULL, 0, NULL);
        if (thread != NULL) WaitForSingleObject(thread, INFINITE);
    }

    wait = host->getValue(settings, "WAIT", 0);
    if (wait[0] != '\0') {
        HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, wait);
        host->printText("waiting", NULL, 0, 1);
        /* Only now has the line feed reached the console: the test may print after it. */
        Mark(host, "waiting.txt");
        if (event != NULL) {
            WaitForSingleObject(event, 60000);
            CloseHandle(event);
        }
    }
    if (host->getIntValue(settings, "OWNER") == 1) host->mainWindow = CreateOwnerWindow();

    if (host->getIntValue(settings, "OUTCOME") != 0) { /* as a module built against the SDK finds it */
        KelvaneGetPayloadApi get = (KelvaneGetPayloadApi)(void *)GetProcAddress(GetModuleHandleA(NULL), KELVANE_PAYLOAD_EXPORT);
        const KelvanePayloadApi *api = get != NULL ? get(2) : NULL;
        if (api != NULL) api->setOutcome((uint32_t)host->getIntValue(settings, "OUTCOME"));
    }
    host->printText("last", NULL, 0, 0);
    return result;
}
