/* kelvane-standard.dll's entry: installs the product of product.ini into {app} (over an
 * installed version through upgrade.c), or uninstalls it through the journal of its
 * installation. An installation that fails is
 * undone from its journal before the entry returns; nothing is asked in an unattended
 * run, and nothing is started from anywhere. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "kelvane_payload.h"
#include "quorvend_console.h"
#include "standard_private.h"

#define HOST_CONSOLE_ID 1000 /* the console's control id in the host's main dialog */
#define APPS_KEY "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
/* SYSTEM and Administrators: full control; Users: read and execute. */
#define UNINSTALL_FOLDER_SDDL L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;GRGX;;;BU)"
/* Beside the payload: the uninstaller's files and the journal. */
#define UNINSTALLER_ROOM (4u * 1024u * 1024u)

/* ---- the run's settings ---- */

int KvReadVariable(const wchar_t *name, char *out, size_t outSize) {
    wchar_t *value = (wchar_t *)HeapAlloc(GetProcessHeap(), 0, KV_WPATH * sizeof(wchar_t));
    DWORD length;
    int result = -1;
    out[0] = '\0';
    if (value == NULL) return -1;
    value[0] = L'\0';
    /* The process's environment, which the host set: a C runtime's copy may be older. */
    SetLastError(0);
    length = GetEnvironmentVariableW(name, value, KV_WPATH);
    if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) result = 0;
    else if (length < KV_WPATH && KvToUtf8(value, out, outSize)) result = 1;
    HeapFree(GetProcessHeap(), 0, value);
    return result;
}

static KvUi ReadUi(void) {
    char value[16];
    if (KvReadVariable(L"KELVANE_UI", value, sizeof value) != 1) return KV_UI_FULL;
    if (lstrcmpiA(value, "quiet") == 0) return KV_UI_QUIET;
    if (lstrcmpiA(value, "passive") == 0) return KV_UI_PASSIVE;
    return KV_UI_FULL; /* an older host, or a value we do not know */
}

typedef struct ProductFile {
    const InstallHostInterface *host;
    KeyValueList list;
} ProductFile;

/* getValue gives "" for a key that is absent; the product file tells absent from empty. */
static const char *LookUp(void *context, const char *key) {
    const ProductFile *file = (const ProductFile *)context;
    char upper[128];
    const KeyValueNode *node;
    size_t i;
    for (i = 0; key[i] != '\0'; ++i) {
        if (i + 1 >= sizeof upper) return NULL;
        upper[i] = key[i] >= 'a' && key[i] <= 'z' ? (char)(key[i] - 'a' + 'A') : key[i];
    }
    upper[i] = '\0';
    for (node = file->list; node != NULL; node = node->next) {
        if (strcmp(node->entry->key, upper) == 0) return file->host->getValue(file->list, upper, 0);
    }
    return NULL;
}

static int ReadProduct(KvRun *run) {
    char path[KV_PRODUCT_PATH];
    char problem[512];
    ProductFile file;
    file.host = run->host;
    if (!KvJoin(path, sizeof path, run->host->programDirectory, KV_PRODUCT_FILE_NAME)) {
        KvPrintFailure(run, "The program folder is too long for " KV_PRODUCT_FILE_NAME, 0);
        return 0;
    }
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        KvPrintFailure(run, "Cannot find the product file " KV_PRODUCT_FILE_NAME, code);
        return 0;
    }
    file.list = run->host->loadKeyValues(path);
    if (file.list == NULL) {
        KvPrintFailure(run, "No key=value line could be read from " KV_PRODUCT_FILE_NAME, 0);
        return 0;
    }
    if (!KvReadProduct(LookUp, &file, &run->product, problem, sizeof problem)) {
        problem[sizeof problem - 1] = '\0';
        KvPrintf(run, KV_COLOR_FAILURE, KV_PRODUCT_FILE_NAME ": %s", problem);
        return 0;
    }
    return 1;
}

/* ---- the install folder ---- */

/* The host's console, or NULL: the test host has none, and a module may have put its own
 * window in mainWindow, whose control 1000 could be anything. */
HWND KvFindHostConsole(const InstallHostInterface *host) {
    char className[64];
    HWND console;
    if (host->mainWindow == NULL) return NULL;
    console = GetDlgItem((HWND)host->mainWindow, HOST_CONSOLE_ID);
    if (console == NULL || GetClassNameA(console, className, sizeof className) == 0) return NULL;
    return lstrcmpiA(className, QUORVEND_CONSOLE_CLASS) == 0 ? console : NULL;
}

/* The console edits ANSI text: the field shows the folder only when the code page holds it. */
static int AskTarget(KvRun *run, HWND console, char *target, size_t targetSize) {
    char answer[KV_PRODUCT_PATH];
    wchar_t wide[KV_PRODUCT_PATH];
    BOOL lossy = FALSE;
    if (!KvToWide(target, wide, KV_PRODUCT_PATH) ||
        WideCharToMultiByte(CP_ACP, 0, wide, -1, answer, sizeof answer, "?", &lossy) == 0 || lossy) {
        KvPrintf(run, KV_COLOR_NORMAL, "Target folder: %s (not asked: the console cannot show it)", target);
        return 1;
    }
    run->host->setPrintColor(KV_COLOR_NORMAL);
    run->host->printText("Install into: ", NULL, KvTakeOpenLine() ? 1 : 0, 0);
    if (SendMessageA(console, CONM_INPUTLINE, (WPARAM)((sizeof answer - 1) | ((uint32_t)CONI_TEXT << 12)),
                     (LPARAM)answer) != 1) {
        KvPrintFailure(run, "The target folder question was cancelled", 0);
        return 0;
    }
    answer[sizeof answer - 1] = '\0';
    if (answer[strspn(answer, " ")] == '\0') return 1; /* a cleared field keeps the folder */
    if (MultiByteToWideChar(CP_ACP, 0, answer, -1, wide, KV_PRODUCT_PATH) == 0 ||
        !KvToUtf8(wide, target, targetSize)) {
        KvPrintFailure(run, "The folder given is too long", ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    return 1;
}

/* The uninstaller finds its own folder, and the files in it, through the system's code
 * page: a folder that code page cannot spell could be installed but never removed. A ";"
 * would split the folder's PATH entry into two. */
static int FolderFits(KvRun *run) {
    wchar_t wide[KV_PRODUCT_PATH];
    char narrow[KV_PRODUCT_PATH * 2];
    BOOL lossy = FALSE;
    if (!KvToWide(run->app, wide, KV_PRODUCT_PATH) ||
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, narrow, sizeof narrow, NULL, &lossy) == 0 ||
        lossy) {
        KvPrintf(run, KV_COLOR_FAILURE,
                 "The folder \"%s\" has characters this system's code page lacks: its uninstaller could not run "
                 "from there; choose another folder",
                 run->app);
        return 0;
    }
    if (run->product.pathEntry[0] != '\0' && strchr(run->app, ';') != NULL) {
        KvPrintf(run, KV_COLOR_FAILURE, "The folder \"%s\" holds a \";\", which cannot stand in PATH", run->app);
        return 0;
    }
    return 1;
}

static int ChooseTarget(KvRun *run) {
    char target[KV_PRODUCT_PATH];
    HWND console;
    const int given = KvReadVariable(L"KELVANE_DIR", target, sizeof target);
    if (given < 0) {
        KvPrintFailure(run, "The folder given with /dir is too long or not valid text", ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    if (given == 0 && !KvExpandText(run, run->product.target, target, sizeof target)) return 0;
    console = run->ui == KV_UI_FULL && run->product.askTarget ? KvFindHostConsole(run->host) : NULL;
    if (console != NULL && !AskTarget(run, console, target, sizeof target)) return 0;
    if (!KvNormaliseFolder(target, run->app, sizeof run->app) ||
        !KvJoin(run->uninstallFolder, sizeof run->uninstallFolder, run->app, KV_UNINSTALL_FOLDER_NAME)) {
        KvPrintf(run, KV_COLOR_FAILURE,
                 "Bad target folder \"%s\": give a folder below a drive or a share, such as C:\\Programs\\%s", target,
                 run->product.name);
        run->app[0] = '\0';
        return 0;
    }
    return FolderFits(run);
}

/* ---- the installation found ---- */

int KvAppsKeyPath(const KvRun *run, char *out, size_t outSize) {
    const int length = snprintf(out, outSize, "%s%s", APPS_KEY, run->product.productId);
    return length > 0 && (size_t)length < outSize;
}

static int ReadText(HKEY key, const wchar_t *name, char *out, size_t outSize) {
    wchar_t value[KV_PRODUCT_PATH];
    DWORD size = sizeof value - sizeof(wchar_t);
    DWORD type = 0;
    out[0] = '\0';
    if (RegQueryValueExW(key, name, NULL, &type, (BYTE *)value, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return 0;
    }
    value[size / sizeof(wchar_t)] = L'\0';
    return KvToUtf8(value, out, outSize);
}

int KvFindInstalled(KvRun *run, KvInstalled *installed) {
    char keyPath[KV_PRODUCT_PATH];
    wchar_t wide[KV_PRODUCT_PATH];
    HKEY key;
    memset(installed, 0, sizeof *installed);
    if (!KvAppsKeyPath(run, keyPath, sizeof keyPath) || !KvToWide(keyPath, wide, KV_PRODUCT_PATH) ||
        RegOpenKeyExW(KvAppsRoot(run), wide, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return 0;
    }
    ReadText(key, L"DisplayVersion", installed->version, sizeof installed->version);
    ReadText(key, L"InstallLocation", installed->app, sizeof installed->app);
    RegCloseKey(key);
    return 1;
}

/* ---- undoing ---- */

static void DeleteJournalFile(KvRun *run) {
    char path[KV_PRODUCT_PATH];
    DWORD code;
    if (KvJoin(path, sizeof path, run->uninstallFolder, KV_JOURNAL_FILE_NAME) && !KvDeleteFileUtf8(path, &code)) {
        KvPrintFailure(run, "Cannot delete the journal", code);
    }
}

/* Undoes the journal of {app}\uninstall, then deletes it and the folders it made. Returns
 * the number of steps that could not be undone. */
static unsigned UndoJournalOnDisk(KvRun *run, const KvJournalFile *journal, unsigned *undone) {
    KvFolderList deferred;
    unsigned failed;
    memset(&deferred, 0, sizeof deferred);
    failed = KvUndoJournal(run, journal, KV_UNDO_ROLLBACK, &deferred, undone);
    DeleteJournalFile(run);
    failed += KvRemoveDeferredFolders(run, &deferred, KV_UNDO_ROLLBACK, undone);
    KvFolderListFree(&deferred);
    return failed;
}

/* After a failure: everything the journal holds, or, when it never got its first records,
 * the folders this run made for it. */
static void RollBack(KvRun *run, const KvFolderList *made) {
    char path[KV_PRODUCT_PATH];
    KvJournalFile journal;
    unsigned undone = 0;
    unsigned failed = 0;
    int missing = 0;
    KvJournalClose(run);
    KvPrint(run, KV_COLOR_WARNING, "The installation failed: undoing what it did");
    if (KvJoin(path, sizeof path, run->uninstallFolder, KV_JOURNAL_FILE_NAME) &&
        KvJournalLoad(run, path, &journal, &missing)) {
        failed = UndoJournalOnDisk(run, &journal, &undone);
        KvJournalFree(&journal);
    } else {
        unsigned i;
        if (!missing) DeleteJournalFile(run);
        for (i = made->count; i > 0; --i) {
            DWORD code;
            int gone;
            if (KvRemoveFolderUtf8(made->paths[i - 1], &code, &gone)) {
                KvPrintf(run, KV_COLOR_WARNING, "Undone: removed folder %s", made->paths[i - 1]);
                ++undone;
            } else if (!gone) {
                ++failed;
                KvPrintFailure(run, "Cannot remove the folder", code);
                KvPrintf(run, KV_COLOR_FAILURE, "(%s)", made->paths[i - 1]);
            }
        }
    }
    if (failed == 0) {
        KvPrintf(run, KV_COLOR_WARNING, "Rolled back: %u step(s) undone, nothing of %s is left", undone,
                 run->product.name);
    } else {
        KvPrintf(run, KV_COLOR_FAILURE, "Rolled back %u step(s); %u could not be undone (listed above)", undone,
                 failed);
    }
}

/* A journal in {app}\uninstall: a complete one is an installation; one without its end
 * record was interrupted and is undone first. 1 when the installation may go on. */
static int CheckOldJournal(KvRun *run) {
    char path[KV_PRODUCT_PATH];
    KvJournalFile journal;
    unsigned undone = 0;
    unsigned failed;
    int missing = 0;
    if (!KvJoin(path, sizeof path, run->uninstallFolder, KV_JOURNAL_FILE_NAME)) return 0;
    if (!KvJournalLoad(run, path, &journal, &missing)) return missing;
    if (journal.complete) {
        KvPrintf(run, KV_COLOR_FAILURE, "%s is already installed in %s (version %s): uninstall it first",
                 run->product.name, journal.app, journal.version);
        KvJournalFree(&journal);
        return 0;
    }
    KvPrintf(run, KV_COLOR_WARNING, "An interrupted installation was found in %s: undoing it first", journal.app);
    failed = UndoJournalOnDisk(run, &journal, &undone);
    KvJournalFree(&journal);
    if (failed != 0) {
        KvPrintf(run, KV_COLOR_FAILURE, "The interrupted installation could not be undone whole (%u step(s) failed)",
                 failed);
        return 0;
    }
    KvPrintf(run, KV_COLOR_WARNING, "The interrupted installation is undone (%u step(s))", undone);
    return 1;
}

/* ---- installing ---- */

/* {app} and the folders above it that are missing, then {app}\uninstall, admin-only, made
 * here and now: a folder that stood there could hold anybody's files. */
static int MakeInstallFolders(KvRun *run, KvFolderList *made) {
    wchar_t *wide;
    DWORD code = 0;
    if (!KvMakeFolders(run, run->app, made)) return 0;
    wide = (wchar_t *)HeapAlloc(GetProcessHeap(), 0, KV_WPATH * sizeof(wchar_t));
    if (wide == NULL || !KvWidePath(run->uninstallFolder, wide, KV_WPATH)) code = ERROR_FILENAME_EXCED_RANGE;
    else if (!KvCreateScopedFolder(run, wide, UNINSTALL_FOLDER_SDDL, &code))
        code = code != 0 ? code : ERROR_ACCESS_DENIED;
    if (wide != NULL) HeapFree(GetProcessHeap(), 0, wide);
    if (code == ERROR_ALREADY_EXISTS) {
        KvPrintf(run, KV_COLOR_FAILURE, "%s exists already and is not an installation's: remove it, or choose another "
                                        "folder", run->uninstallFolder);
        return 0;
    }
    if (code != 0) {
        KvPrintFailure(run, "Cannot make the uninstaller's folder", code);
        KvPrintf(run, KV_COLOR_FAILURE, "(%s)", run->uninstallFolder);
        return 0;
    }
    return KvFolderListAdd(made, run->uninstallFolder);
}

static int OpenJournal(KvRun *run, const KvFolderList *made) {
    unsigned i;
    if (!KvJournalCreate(run)) return 0;
    for (i = 0; i < made->count; ++i) {
        if (!KvJournalAppendTexts(run, KV_J_FOLDER, made->paths[i], (const char *)NULL)) return 0;
    }
    return 1;
}

static int Finish(KvRun *run, const KvPayload *payload) {
    char date[16];
    SYSTEMTIME now;
    GetLocalTime(&now);
    snprintf(date, sizeof date, "%04u%02u%02u", (unsigned)now.wYear, (unsigned)now.wMonth, (unsigned)now.wDay);
    if (!KvMakeShortcuts(run) || !KvWriteRegistryValues(run) ||
        !KvWriteAppsEntry(run, (payload->bytes + 1023) / 1024) ||
        !KvJournalAppendTexts(run, KV_J_END, date, (const char *)NULL)) {
        return 0;
    }
    KvJournalClose(run);
    KvDeleteBackups(run);
    return 1;
}

static int Install(KvRun *run) {
    KvPayload payload;
    KvFolderList made;
    KvInstalled installed;
    char size[32];
    int ok;
    memset(&made, 0, sizeof made);
    /* The installed-apps entry names the version and folder of the installation to go over. */
    if (KvFindInstalled(run, &installed)) return KvInstallOver(run, &installed);
    if (!ChooseTarget(run)) return 0;
    KvPrintf(run, KV_COLOR_NORMAL, "Installing %s %s into %s", run->product.name, run->product.version, run->app);
    if (!CheckOldJournal(run)) return 0;
    if (!KvListPayload(run, &payload)) {
        KvFreePayload(&payload);
        return 0;
    }
    if (!KvCheckFreeSpace(run, payload.bytes + UNINSTALLER_ROOM)) {
        KvFreePayload(&payload);
        return 0;
    }
    ok = MakeInstallFolders(run, &made) && OpenJournal(run, &made) && KvInstallPayload(run, &payload) &&
         KvInstallEmptyFolders(run) && KvInstallUninstaller(run) && Finish(run, &payload);
    if (ok) {
        KvFormatMegabytes(size, sizeof size, payload.bytes);
        KvTaskbarProgress(KELVANE_PROGRESS_NORMAL, 1, 1);
        KvPrintf(run, KV_COLOR_DONE, "Installed %s %s into %s: %u files, %s", run->product.name, run->product.version,
                 run->app, payload.count, size);
    } else {
        RollBack(run, &made);
    }
    KvFolderListFree(&made);
    KvFreePayload(&payload);
    return ok;
}

/* ---- uninstalling ---- */

/* "\\?\C:\..." and "\\?\UNC\server\..." as the journal writes them: "C:\..." and "\\server\...". */
static int PlainPath(char *path) {
    if (strncmp(path, "\\\\?\\UNC\\", 8) == 0) memmove(path + 2, path + 8, strlen(path + 8) + 1);
    else if (strncmp(path, "\\\\?\\", 4) == 0) memmove(path, path + 4, strlen(path + 4) + 1);
    return path[0] != '\0';
}

static int Uninstall(KvRun *run) {
    char folder[KV_PRODUCT_PATH];
    char path[KV_PRODUCT_PATH];
    wchar_t wide[KV_PRODUCT_PATH];
    KvJournalFile journal;
    KvFolderList deferred;
    HMODULE self = NULL;
    DWORD length;
    unsigned undone = 0;
    unsigned failed;
    int missing = 0;
    /* This module was loaded from {app}\uninstall: its own path names the folder exactly,
     * where programDirectory is in the ANSI code page. */
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            (LPCWSTR)(void *)Uninstall, &self) ||
        (length = GetModuleFileNameW(self, wide, KV_PRODUCT_PATH)) == 0 || length >= KV_PRODUCT_PATH ||
        !KvToUtf8(wide, folder, sizeof folder) || !PlainPath(folder) || !KvParentFolder(folder) ||
        !KvJoin(path, sizeof path, folder, KV_JOURNAL_FILE_NAME)) {
        KvPrintFailure(run, "The uninstaller's folder cannot be told", ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    /* An upgrade that was cut off is finished or undone first: then journal.txt is whole. */
    strcpy(run->uninstallFolder, folder);
    strcpy(run->app, folder);
    if (!KvParentFolder(run->app) || !KvSettleInterruptedUpgrade(run)) return 0;
    if (!KvJournalLoad(run, path, &journal, &missing)) {
        if (missing) KvPrintf(run, KV_COLOR_FAILURE, "No installation journal in %s: nothing is removed", path);
        return 0;
    }
    if (!journal.complete || strcmp(journal.productId, run->product.productId) != 0 ||
        !KvNormaliseFolder(journal.app, run->app, sizeof run->app) ||
        !KvJoin(run->uninstallFolder, sizeof run->uninstallFolder, run->app, KV_UNINSTALL_FOLDER_NAME)) {
        KvPrintf(run, KV_COLOR_FAILURE, "The journal in %s is not that of a complete installation of %s: nothing is "
                                        "removed", folder, run->product.name);
        KvJournalFree(&journal);
        return 0;
    }
    KvPrintf(run, KV_COLOR_NORMAL, "Uninstalling %s %s from %s", run->product.name, journal.version, run->app);
    memset(&deferred, 0, sizeof deferred);
    failed = KvUndoJournal(run, &journal, KV_UNDO_UNINSTALL, &deferred, &undone);
    KvJournalFree(&journal);
    if (failed == 0) {
        failed = KvRemoveSelf(run, &deferred);
    } else {
        /* The journal and the uninstaller stay, so that the uninstall can be run again. */
        KvPrintf(run, KV_COLOR_FAILURE, "The uninstaller stays in %s: run it again once what is listed above is free",
                 run->uninstallFolder);
    }
    KvFolderListFree(&deferred);
    if (failed != 0) {
        KvPrintf(run, KV_COLOR_FAILURE, "%s is not removed whole: %u thing(s) could not be removed (listed above)",
                 run->product.name, failed);
        return 0;
    }
    KvPrintf(run, KV_COLOR_DONE, "Uninstalled %s %s", run->product.name, journal.version);
    return 1;
}

__declspec(dllexport) KelvaneBool __cdecl quorvend_install2(InstallHostInterface *host);
__declspec(dllexport) KelvaneBool __cdecl quorvend_install2(InstallHostInterface *host) {
    char action[16];
    KvRun *run;
    int ok = 0;
    /* A host older or smaller than this header cannot be trusted with any call. */
    if (host == NULL || host->size < sizeof(InstallHostInterface) || host->printText == NULL ||
        host->setPrintColor == NULL) {
        return 0;
    }
    if (host->programDirectory == NULL || host->loadKeyValues == NULL || host->getValue == NULL) {
        host->setPrintColor(KV_COLOR_FAILURE);
        host->printText("kelvane-standard: the host offers no program folder or key=value services", NULL, 0, 1);
        host->setPrintColor(KV_COLOR_NORMAL);
        return 0;
    }
    /* About 100 KB with the product: kept off the host's worker stack. */
    run = (KvRun *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof *run);
    if (run == NULL) {
        host->setPrintColor(KV_COLOR_FAILURE);
        host->printText("kelvane-standard: out of memory", NULL, 0, 1);
        host->setPrintColor(KV_COLOR_NORMAL);
        return 0;
    }
    run->host = host;
    run->journal = INVALID_HANDLE_VALUE;
    run->ui = ReadUi();
    run->uninstalling =
        KvReadVariable(L"KELVANE_ACTION", action, sizeof action) == 1 && lstrcmpiA(action, "uninstall") == 0;
    if (ReadProduct(run)) ok = run->uninstalling ? Uninstall(run) : Install(run);
    /* Programs closed for the run start again; a success says what waits for the restart. */
    if (ok) KvFinishRestart(run);
    else KvRestartClosedApplications(run);
    KvJournalClose(run);
    host->setPrintColor(KV_COLOR_NORMAL);
    HeapFree(GetProcessHeap(), 0, run);
    return ok ? 1 : 0;
}
