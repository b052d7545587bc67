/* Files in use: the system's Restart Manager names the programs that hold files about to
 * be replaced or removed; they are closed only when the user or /closeapplications says so,
 * and restarted afterwards where they can be. What waits for a restart is counted and listed.
 * rstrtmgr.dll is loaded from the system folder only; no program is started by this file. */
#include <windows.h>
#include <restartmanager.h>

#include <string.h>

#include "kelvane_payload.h"
#include "quorvend_console.h"
#include "standard_private.h"

/* Sessions that closed programs, kept until the end to restart them. */
#define KV_MAX_CLOSING_SESSIONS 8

typedef DWORD(WINAPI *RmStartSessionFn)(DWORD *, DWORD, WCHAR[]);
typedef DWORD(WINAPI *RmRegisterResourcesFn)(DWORD, UINT, LPCWSTR[], UINT, RM_UNIQUE_PROCESS[], UINT, LPCWSTR[]);
typedef DWORD(WINAPI *RmGetListFn)(DWORD, UINT *, UINT *, RM_PROCESS_INFO[], LPDWORD);
typedef DWORD(WINAPI *RmShutdownFn)(DWORD, ULONG, RM_WRITE_STATUS_CALLBACK);
typedef DWORD(WINAPI *RmRestartFn)(DWORD, DWORD, RM_WRITE_STATUS_CALLBACK);
typedef DWORD(WINAPI *RmEndSessionFn)(DWORD);

struct KvInUse {
    HMODULE library;
    int libraryTried;
    DWORD libraryCode; /* why it could not be loaded */
    RmStartSessionFn startSession;
    RmRegisterResourcesFn registerResources;
    RmGetListFn getList;
    RmShutdownFn shutdown;
    RmRestartFn restart;
    RmEndSessionFn endSession;
    int checked; /* KvCheckFilesInUse ran: the run's files were asked about */
    DWORD closing[KV_MAX_CLOSING_SESSIONS];
    unsigned closingCount;
    char *waiting; /* the paths that wait for the restart, each NUL-ended */
    size_t waitingUsed;
    size_t waitingCapacity;
    unsigned waitingCount;
    int waitingLost; /* out of memory: counted, not listed */
    char *folders; /* folders removed at the restart, each NUL-ended */
    size_t foldersUsed;
    size_t foldersCapacity;
};

static KvInUse *State(KvRun *run) {
    if (run->inUse == NULL) run->inUse = (KvInUse *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(KvInUse));
    return run->inUse;
}

/* Not a KnownDLL: a bare name would be looked for in the installer's own folder first. */
static int LoadRestartManager(KvInUse *state) {
    wchar_t path[MAX_PATH + 16];
    UINT length;
    if (state->libraryTried) return state->library != NULL;
    state->libraryTried = 1;
    length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        state->libraryCode = length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
        return 0;
    }
    wcscpy(path + length, path[length - 1] == L'\\' ? L"rstrtmgr.dll" : L"\\rstrtmgr.dll");
    state->library = LoadLibraryExW(path, NULL, 0);
    if (state->library == NULL) {
        state->libraryCode = GetLastError();
        return 0;
    }
#define KV_RM_PROC(field, type, name) state->field = (type)(void (*)(void))GetProcAddress(state->library, name)
    KV_RM_PROC(startSession, RmStartSessionFn, "RmStartSession");
    KV_RM_PROC(registerResources, RmRegisterResourcesFn, "RmRegisterResources");
    KV_RM_PROC(getList, RmGetListFn, "RmGetList");
    KV_RM_PROC(shutdown, RmShutdownFn, "RmShutdown");
    KV_RM_PROC(restart, RmRestartFn, "RmRestart");
    KV_RM_PROC(endSession, RmEndSessionFn, "RmEndSession");
#undef KV_RM_PROC
    if (state->startSession == NULL || state->registerResources == NULL || state->getList == NULL ||
        state->shutdown == NULL || state->restart == NULL || state->endSession == NULL) {
        FreeLibrary(state->library);
        state->library = NULL;
        state->libraryCode = ERROR_PROC_NOT_FOUND;
        return 0;
    }
    return 1;
}

static const char *Replaced(const KvRun *run) { return run->uninstalling ? "removed" : "replaced"; }

static int Unusable(KvRun *run, const char *step, DWORD code) {
    KvPrintf(run, KV_COLOR_WARNING,
             "The Restart Manager cannot tell which programs hold the files (%s, error %lu): what is in use is %s "
             "at the restart",
             step, (unsigned long)code, Replaced(run));
    return KV_INUSE_STAGE;
}

/* The programs that hold the session's files, on the heap (HeapFree it); *count 0 and NULL
 * when none. ERROR_MORE_DATA: a program started between the two calls, so ask again. */
static DWORD ListHolders(const KvInUse *state, DWORD session, RM_PROCESS_INFO **infos, UINT *count) {
    UINT capacity = 0;
    unsigned attempt;
    DWORD code = ERROR_MORE_DATA;
    *infos = NULL;
    *count = 0;
    for (attempt = 0; attempt < 8 && code == ERROR_MORE_DATA; ++attempt) {
        UINT needed = 0;
        DWORD reasons = 0;
        *count = capacity;
        code = state->getList(session, &needed, count, *infos, &reasons);
        if (code != ERROR_MORE_DATA) break;
        if (*infos != NULL) HeapFree(GetProcessHeap(), 0, *infos);
        capacity = needed + 4;
        *infos = (RM_PROCESS_INFO *)HeapAlloc(GetProcessHeap(), 0, capacity * sizeof(RM_PROCESS_INFO));
        if (*infos == NULL) code = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (code != ERROR_SUCCESS || *count == 0) {
        if (*infos != NULL) HeapFree(GetProcessHeap(), 0, *infos);
        *infos = NULL;
        *count = 0;
    }
    return code;
}

static void PrintHolders(KvRun *run, const RM_PROCESS_INFO *infos, UINT count) {
    char name[(CCH_RM_MAX_APP_NAME + 1) * 3];
    UINT i;
    for (i = 0; i < count; ++i) {
        const WCHAR *wide = infos[i].strAppName[0] != L'\0' ? infos[i].strAppName : infos[i].strServiceShortName;
        WCHAR ended[CCH_RM_MAX_APP_NAME + 1];
        lstrcpynW(ended, wide, CCH_RM_MAX_APP_NAME + 1); /* the system's text, ended here whatever it sent */
        if (!KvToUtf8(ended, name, sizeof name) || name[0] == '\0') strcpy(name, "(a program without a name)");
        KvPrintf(run, KV_COLOR_WARNING, "In use by: %s (process %lu)", name,
                 (unsigned long)infos[i].Process.dwProcessId);
    }
}

/* 'C', 'R' or 'S'; a cancelled field stops. */
static char Ask(KvRun *run, HWND console) {
    for (;;) {
        char answer[4] = "";
        run->host->setPrintColor(KV_COLOR_NORMAL);
        run->host->printText("Close them and go on (C), go on and restart later (R), or stop (S)? ", NULL,
                             KvTakeOpenLine() ? 1 : 0, 0);
        if (SendMessageA(console, CONM_INPUTLINE, (WPARAM)(1u | ((uint32_t)CONI_TEXT << 12)), (LPARAM)answer) != 1) {
            return 'S';
        }
        answer[1] = '\0';
        if (answer[0] >= 'a' && answer[0] <= 'z') answer[0] = (char)(answer[0] - 'a' + 'A');
        if (answer[0] == 'C' || answer[0] == 'R' || answer[0] == 'S') return answer[0];
    }
}

static int CloseApplicationsAsked(void) {
    wchar_t value[8];
    const DWORD length = GetEnvironmentVariableW(L"KELVANE_CLOSE_APPLICATIONS", value, 8);
    return length == 1 && value[0] == L'1';
}

/* Closes what holds the session's files; the session is kept to restart them at the end. */
static int CloseHolders(KvRun *run, KvInUse *state, DWORD session, int *keep) {
    RM_PROCESS_INFO *left = NULL;
    UINT leftCount = 0;
    DWORD code;
    KvPrint(run, KV_COLOR_PROGRESS, "Closing the programs that hold the files");
    code = state->shutdown(session, RmForceShutdown, NULL);
    if (state->closingCount < KV_MAX_CLOSING_SESSIONS) {
        state->closing[state->closingCount++] = session;
        *keep = 1;
    }
    if (ListHolders(state, session, &left, &leftCount) == ERROR_SUCCESS && leftCount == 0 && code == ERROR_SUCCESS) {
        KvPrint(run, KV_COLOR_PROGRESS, "The programs are closed");
        return KV_INUSE_FREE;
    }
    if (left != NULL) {
        PrintHolders(run, left, leftCount);
        HeapFree(GetProcessHeap(), 0, left);
    }
    KvPrintf(run, KV_COLOR_WARNING,
             "Not every program could be closed (error %lu): what they hold is %s at the restart", (unsigned long)code,
             Replaced(run));
    return KV_INUSE_STAGE;
}

int KvCheckFilesInUse(KvRun *run, const char *const *paths, unsigned count) {
    KvInUse *state;
    LPCWSTR *names;
    RM_PROCESS_INFO *infos = NULL;
    UINT holders = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1];
    DWORD session = 0;
    DWORD code;
    HWND console;
    unsigned i;
    int result = KV_INUSE_STAGE;
    int keep = 0;
    char answer;
    state = State(run);
    if (state != NULL) state->checked = 1;
    if (count == 0) return KV_INUSE_FREE;
    if (state == NULL) return Unusable(run, "out of memory", ERROR_NOT_ENOUGH_MEMORY);
    if (!LoadRestartManager(state)) return Unusable(run, "rstrtmgr.dll", state->libraryCode);
    names = (LPCWSTR *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, count * sizeof(LPCWSTR));
    if (names == NULL) return Unusable(run, "out of memory", ERROR_NOT_ENOUGH_MEMORY);
    for (i = 0; i < count; ++i) {
        /* The Restart Manager matches the names programs opened, not "\\?\" forms. */
        const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, paths[i], -1, NULL, 0);
        wchar_t *wide =
            length > 0 ? (wchar_t *)HeapAlloc(GetProcessHeap(), 0, (size_t)length * sizeof(wchar_t)) : NULL;
        names[i] = wide;
        if (wide == NULL || !KvToWide(paths[i], wide, (size_t)length)) {
            result = Unusable(run, "a path", ERROR_FILENAME_EXCED_RANGE);
            goto done;
        }
    }
    memset(key, 0, sizeof key);
    code = state->startSession(&session, 0, key);
    if (code != ERROR_SUCCESS) {
        result = Unusable(run, "RmStartSession", code);
        goto done;
    }
    code = state->registerResources(session, count, names, 0, NULL, 0, NULL);
    if (code != ERROR_SUCCESS) {
        result = Unusable(run, "RmRegisterResources", code);
    } else if ((code = ListHolders(state, session, &infos, &holders)) != ERROR_SUCCESS) {
        result = Unusable(run, "RmGetList", code);
    } else if (holders == 0) {
        KvPrintf(run, KV_COLOR_NORMAL, "The Restart Manager names no program that holds any of the %u file(s)",
                 count);
        result = KV_INUSE_FREE; /* what is still held when its turn comes waits for the restart */
    } else {
        PrintHolders(run, infos, holders);
        console = run->ui == KV_UI_FULL ? KvFindHostConsole(run->host) : NULL;
        answer = console != NULL ? Ask(run, console) : CloseApplicationsAsked() ? 'C' : 'R';
        if (answer == 'C') {
            KvPrintf(run, KV_COLOR_NORMAL, "Decided: close the programs (%s)",
                     console != NULL ? "answered C" : "/closeapplications");
            result = CloseHolders(run, state, session, &keep);
        } else if (answer == 'R') {
            KvPrintf(run, KV_COLOR_WARNING, "Decided: the programs stay open (%s); the files they hold are %s at the "
                                            "restart",
                     console != NULL ? "answered R" : "unattended, without /closeapplications", Replaced(run));
            result = KV_INUSE_STAGE;
        } else {
            KvPrint(run, KV_COLOR_WARNING, "Decided: stop (answered S, or the question was closed); the programs stay "
                                           "open");
            result = KV_INUSE_CANCEL;
        }
    }
    if (!keep) state->endSession(session);
done:
    if (infos != NULL) HeapFree(GetProcessHeap(), 0, infos);
    for (i = 0; i < count; ++i) {
        if (names[i] != NULL) HeapFree(GetProcessHeap(), 0, (void *)names[i]);
    }
    HeapFree(GetProcessHeap(), 0, (void *)names);
    return result;
}

/* Restarts and ends the sessions that closed programs; the list of waiting files stays. */
static void RestartAndEnd(KvRun *run, KvInUse *state) {
    unsigned i;
    for (i = 0; i < state->closingCount; ++i) {
        /* Only programs that registered for it are started again, by the system, as they were. */
        const DWORD code = state->restart(state->closing[i], 0, NULL);
        if (code == ERROR_SUCCESS) KvPrint(run, KV_COLOR_PROGRESS, "Restarted the closed programs that can be");
        else KvPrintf(run, KV_COLOR_WARNING, "The closed programs could not be restarted (error %lu)",
                      (unsigned long)code);
        state->endSession(state->closing[i]);
    }
    state->closingCount = 0;
}

static void Release(KvRun *run) {
    KvInUse *state = run->inUse;
    if (state == NULL) return;
    if (state->library != NULL) FreeLibrary(state->library);
    if (state->waiting != NULL) HeapFree(GetProcessHeap(), 0, state->waiting);
    if (state->folders != NULL) HeapFree(GetProcessHeap(), 0, state->folders);
    HeapFree(GetProcessHeap(), 0, state);
    run->inUse = NULL;
}

int KvFilesInUseChecked(const KvRun *run) { return run->inUse != NULL && run->inUse->checked; }

void KvRestartClosedApplications(KvRun *run) {
    if (run->inUse == NULL) return;
    RestartAndEnd(run, run->inUse);
    Release(run);
}

/* Adds text to a list of NUL-ended texts; 0 when out of memory. */
static int Append(char **list, size_t *used, size_t *capacity, const char *text) {
    const size_t length = strlen(text) + 1;
    if (*used + length > *capacity) {
        const size_t grownCapacity = (*used + length) * 2;
        char *grown = *list == NULL ? (char *)HeapAlloc(GetProcessHeap(), 0, grownCapacity)
                                    : (char *)HeapReAlloc(GetProcessHeap(), 0, *list, grownCapacity);
        if (grown == NULL) return 0;
        *list = grown;
        *capacity = grownCapacity;
    }
    memcpy(*list + *used, text, length);
    *used += length;
    return 1;
}

static int Listed(const char *list, size_t used, const char *text) {
    size_t at;
    for (at = 0; at < used; at += strlen(list + at) + 1) {
        if (_stricmp(list + at, text) == 0) return 1;
    }
    return 0;
}

void KvNeedRestart(KvRun *run, const char *path) {
    KvInUse *state = State(run);
    KvPrintf(run, KV_COLOR_WARNING, "Waits for a restart: %s", path);
    if (state == NULL) {
        KvSetOutcome(KELVANE_OUTCOME_RESTART_NEEDED); /* no memory to count it: the run still ends saying so */
        return;
    }
    ++state->waitingCount;
    if (!Append(&state->waiting, &state->waitingUsed, &state->waitingCapacity, path)) state->waitingLost = 1;
}

void KvFolderRemovedAtRestart(KvRun *run, const char *folder) {
    KvInUse *state = State(run);
    if (state != NULL) Append(&state->folders, &state->foldersUsed, &state->foldersCapacity, folder);
}

int KvFolderWaitsForRestart(KvRun *run, const char *folder) {
    KvInUse *state = run->inUse;
    char pattern[KV_PRODUCT_PATH];
    char name[MAX_PATH * 3];
    char path[KV_PRODUCT_PATH];
    WIN32_FIND_DATAW found;
    wchar_t *wide;
    HANDLE search;
    int waits = 1;
    if (state == NULL || (state->waitingUsed == 0 && state->foldersUsed == 0) ||
        !KvJoin(pattern, sizeof pattern, folder, "*") || (wide = KvWideOf(pattern)) == NULL) {
        return 0;
    }
    search = FindFirstFileW(wide, &found);
    HeapFree(GetProcessHeap(), 0, wide);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0) continue;
        waits = KvToUtf8(found.cFileName, name, sizeof name) && KvJoin(path, sizeof path, folder, name) &&
                (Listed(state->waiting, state->waitingUsed, path) || Listed(state->folders, state->foldersUsed, path));
    } while (waits && FindNextFileW(search, &found));
    FindClose(search);
    /* Scheduled after what it holds: the restart empties it first. */
    wide = waits ? KvWideOf(folder) : NULL;
    waits = wide != NULL && MoveFileExW(wide, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    if (wide != NULL) HeapFree(GetProcessHeap(), 0, wide);
    if (!waits) return 0;
    KvPrintf(run, KV_COLOR_WARNING, "Waits for a restart: %s", folder);
    KvFolderRemovedAtRestart(run, folder);
    return 1;
}

void KvFinishRestart(KvRun *run) {
    KvInUse *state = run->inUse;
    size_t at;
    if (state == NULL) return;
    RestartAndEnd(run, state);
    if (state->waitingCount > 0) {
        KvSetOutcome(KELVANE_OUTCOME_RESTART_NEEDED);
        KvPrintf(run, KV_COLOR_WARNING, "A restart of the computer is needed to finish: %u file(s) wait for it",
                 state->waitingCount);
        for (at = 0; at < state->waitingUsed; at += strlen(state->waiting + at) + 1) {
            KvPrintf(run, KV_COLOR_WARNING, "  %s", state->waiting + at);
        }
        if (state->waitingLost) KvPrint(run, KV_COLOR_WARNING, "  (more, named above: out of memory for the list)");
    }
    Release(run);
}
