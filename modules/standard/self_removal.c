/* The end of an uninstall: the uninstaller removes its own files. What is in use (the
 * running uninstall.exe, this loaded module) moves into an admin-only folder under the
 * system's Temp (a per-user product's: under the user's temp folder) and waits for the
 * restart there, or in place; installed files a program
 * holds are removed at the restart. Starts no program, and never removes a folder that
 * holds what was not installed. */
#include <windows.h>
#include <sddl.h>
#include <wincrypt.h>

#include <stdio.h>
#include <string.h>

#include "standard_private.h"

/* SYSTEM and Administrators only: nobody else may put a file where one waits for removal. */
static const wchar_t kAdminOnly[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

int KvCreateFolderWithSddl(const wchar_t *path, const wchar_t *sddl, DWORD *code) {
    SECURITY_ATTRIBUTES attributes;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    int ok;
    *code = 0;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, NULL)) {
        *code = GetLastError();
        return 0;
    }
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = descriptor;
    attributes.bInheritHandle = FALSE;
    ok = CreateDirectoryW(path, &attributes);
    if (!ok) *code = GetLastError();
    LocalFree(descriptor);
    return ok;
}

typedef struct Removal {
    KvRun *run;
    wchar_t waitFolder[MAX_PATH + 64]; /* empty until a file needs it */
    int waitFolderFailed;
    int pendingInPlace; /* something waits for the restart inside {app}\uninstall */
    unsigned failed;
} Removal;

/* A new folder of a random name under %windir%\Temp, made with the admin-only DACL; a
 * name that exists is never reused, so nobody can have prepared it. */
static int MakeWaitFolder(Removal *removal) {
    HCRYPTPROV provider = 0;
    wchar_t windows[MAX_PATH];
    /* A per-user product's uninstaller has no rights on the system's Temp: its own files
     * wait among the user's temporary files, whose clean-up removes them. */
    const int user = KvIsUserScope(removal->run);
    const UINT length = user ? GetTempPathW(MAX_PATH, windows) : GetSystemWindowsDirectoryW(windows, MAX_PATH);
    unsigned attempt;
    if (removal->waitFolder[0] != L'\0') return 1;
    if (removal->waitFolderFailed || length == 0 || length >= MAX_PATH ||
        !CryptAcquireContextW(&provider, NULL, NULL, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
        removal->waitFolderFailed = 1;
        return 0;
    }
    for (attempt = 0; attempt < 16; ++attempt) {
        BYTE random[8];
        DWORD code;
        unsigned i;
        int at;
        if (!CryptGenRandom(provider, sizeof random, random)) break;
        at = swprintf(removal->waitFolder, MAX_PATH + 64, L"%ls%ls%lskv-removal-", windows,
                      windows[length - 1] == L'\\' ? L"" : L"\\", user ? L"" : L"Temp\\");
        if (at < 0) break;
        for (i = 0; i < sizeof random; ++i) {
            removal->waitFolder[at++] = L"0123456789abcdef"[random[i] >> 4];
            removal->waitFolder[at++] = L"0123456789abcdef"[random[i] & 15];
        }
        removal->waitFolder[at] = L'\0';
        if (user ? CreateDirectoryW(removal->waitFolder, NULL)
                 : KvCreateFolderWithSddl(removal->waitFolder, kAdminOnly, &code)) {
            CryptReleaseContext(provider, 0);
            return 1;
        }
        if (user) code = GetLastError();
        if (code != ERROR_ALREADY_EXISTS) break;
    }
    CryptReleaseContext(provider, 0);
    removal->waitFolder[0] = L'\0';
    removal->waitFolderFailed = 1;
    return 0;
}

static void Waits(Removal *removal, const char *path) {
    KvPrintf(removal->run, KV_COLOR_WARNING, "Waits for a restart: %s", path);
}

/* A file that cannot be deleted now: moved away to wait, or left to wait where it is. */
static void RemoveInUse(Removal *removal, const char *path, const wchar_t *wide, const wchar_t *name) {
    DWORD code;
    if (KvDeleteFileUtf8(path, &code)) { /* Wine lets a running program go */
        KvPrintf(removal->run, KV_COLOR_PROGRESS, "Removed %s", path);
        return;
    }
    if (name != NULL && MakeWaitFolder(removal)) {
        wchar_t moved[MAX_PATH + 128];
        if ((size_t)swprintf(moved, MAX_PATH + 128, L"%ls\\%ls", removal->waitFolder, name) < MAX_PATH + 127 &&
            MoveFileExW(wide, moved, 0)) {
            if (MoveFileExW(moved, NULL, MOVEFILE_DELAY_UNTIL_REBOOT)) {
                KvPrintf(removal->run, KV_COLOR_PROGRESS, "Removed %s (its copy in the system's Temp folder waits "
                                                          "for a restart)", path);
                return;
            }
            if (KvIsUserScope(removal->run)) { /* unelevated: nothing may be scheduled */
                KvPrintf(removal->run, KV_COLOR_PROGRESS, "Removed %s (its copy is left with the user's temporary "
                                                          "files)", path);
                return;
            }
            /* The move succeeded but nothing will delete it: bring it back and wait in place. */
            MoveFileExW(moved, wide, 0);
        }
    }
    if (MoveFileExW(wide, NULL, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        removal->pendingInPlace = 1;
        Waits(removal, path);
        return;
    }
    KvPrintFailure(removal->run, "Cannot remove, nor leave for the restart:", GetLastError());
    KvPrintf(removal->run, KV_COLOR_FAILURE, "(%s)", path);
    ++removal->failed;
}

int KvDeleteAtRestart(KvRun *run, const char *path, DWORD code) {
    wchar_t *wide;
    int scheduled;
    if (code != ERROR_SHARING_VIOLATION && code != ERROR_ACCESS_DENIED) return 0;
    wide = KvWideOf(path);
    scheduled = wide != NULL && MoveFileExW(wide, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    if (wide != NULL) HeapFree(GetProcessHeap(), 0, wide);
    if (scheduled) KvNeedRestart(run, path);
    return scheduled;
}

/* The journal's files that still exist, but the uninstaller's own (KvRemoveSelf's). */
static int AddInstalledFile(KvRun *run, KvFolderList *files, const char *path) {
    DWORD attributes;
    wchar_t *wide;
    if (KvPathWithin(path, run->uninstallFolder)) return 1;
    wide = KvWideOf(path);
    if (wide == NULL) return 1;
    attributes = GetFileAttributesW(wide);
    HeapFree(GetProcessHeap(), 0, wide);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return 1;
    return KvFolderListAdd(files, path);
}

int KvCheckJournalFilesInUse(KvRun *run, const KvJournalFile *journal) {
    KvJournalRecord *record = (KvJournalRecord *)HeapAlloc(GetProcessHeap(), 0, sizeof *record);
    KvFolderList files;
    const char **paths = NULL;
    size_t i;
    int result = KV_INUSE_FREE;
    int ok = record != NULL;
    memset(&files, 0, sizeof files);
    for (i = 0; ok && i < journal->lineCount; ++i) {
        if (!KvJournalRecordAt(journal, i, record)) continue;
        if (record->kind == KV_J_FILE || record->kind == KV_J_STAGED) {
            ok = AddInstalledFile(run, &files, record->fields[0]);
        }
    }
    /* Out of memory: each deletion still finds what is held, and waits for the restart. */
    if (ok && files.count > 0) paths = (const char **)HeapAlloc(GetProcessHeap(), 0, files.count * sizeof *paths);
    if (paths != NULL) {
        for (i = 0; i < files.count; ++i) paths[i] = files.paths[i];
        result = KvCheckFilesInUse(run, paths, files.count);
        HeapFree(GetProcessHeap(), 0, (void *)paths);
    }
    if (result == KV_INUSE_CANCEL) KvPrintFailure(run, "Stopped: programs hold files of the installation", 0);
    KvFolderListFree(&files);
    if (record != NULL) HeapFree(GetProcessHeap(), 0, record);
    return result;
}

/* Whether folder holds nothing but the entry named only (the folder below that waits). */
static int HoldsOnly(const char *folder, const char *only) {
    char pattern[KV_PRODUCT_PATH];
    char name[MAX_PATH * 3];
    wchar_t *wide = (wchar_t *)HeapAlloc(GetProcessHeap(), 0, KV_WPATH * sizeof(wchar_t));
    WIN32_FIND_DATAW found;
    HANDLE search = INVALID_HANDLE_VALUE;
    int onlyThat = 0;
    if (wide != NULL && KvJoin(pattern, sizeof pattern, folder, "*") && KvWidePath(pattern, wide, KV_WPATH)) {
        search = FindFirstFileW(wide, &found);
    }
    if (wide != NULL) HeapFree(GetProcessHeap(), 0, wide);
    if (search == INVALID_HANDLE_VALUE) return 0;
    onlyThat = 1;
    do {
        if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0) continue;
        if (!KvToUtf8(found.cFileName, name, sizeof name) || lstrcmpiA(name, only) != 0) onlyThat = 0;
    } while (onlyThat && FindNextFileW(search, &found));
    FindClose(search);
    return onlyThat;
}

static void ScheduleFolder(Removal *removal, const char *path) {
    wchar_t *wide = (wchar_t *)HeapAlloc(GetProcessHeap(), 0, KV_WPATH * sizeof(wchar_t));
    int ok = wide != NULL && KvWidePath(path, wide, KV_WPATH) && MoveFileExW(wide, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    if (wide != NULL) HeapFree(GetProcessHeap(), 0, wide);
    if (ok) {
        Waits(removal, path);
        KvFolderRemovedAtRestart(removal->run, path);
    } else {
        KvPrintf(removal->run, KV_COLOR_FAILURE, "Cannot remove the folder %s, nor leave it for the restart", path);
        ++removal->failed;
    }
}

/* Deepest first; a folder that waits makes the one above it wait too when it holds
 * nothing else. */
static void RemoveFolders(Removal *removal, const KvFolderList *deferred) {
    const char *below = NULL;
    unsigned i;
    for (i = 0; i < deferred->count; ++i) {
        const char *path = deferred->paths[i];
        DWORD code;
        int missing;
        if (KvRemoveFolderUtf8(path, &code, &missing)) {
            KvPrintf(removal->run, KV_COLOR_PROGRESS, "Removed folder %s", path);
            below = NULL;
            continue;
        }
        if (missing) continue;
        if (code == ERROR_DIR_NOT_EMPTY && removal->pendingInPlace &&
            (below == NULL ? KvPathWithin(path, removal->run->uninstallFolder)
                           : HoldsOnly(path, strrchr(below, '\\') + 1))) {
            ScheduleFolder(removal, path);
            below = path;
            continue;
        }
        if (code == ERROR_SHARING_VIOLATION) {
            /* Some program's current folder, or open in it: empty, it can go at the restart,
             * and the folders above it with it. */
            ScheduleFolder(removal, path);
            removal->pendingInPlace = 1;
            below = path;
            continue;
        }
        if (code == ERROR_DIR_NOT_EMPTY && KvFolderWaitsForRestart(removal->run, path)) {
            below = path;
            continue;
        }
        if (code == ERROR_DIR_NOT_EMPTY) {
            KvPrintf(removal->run, KV_COLOR_WARNING, "Kept %s: it holds files that were not installed", path);
        } else {
            KvPrintFailure(removal->run, "Cannot remove the folder", code);
            KvPrintf(removal->run, KV_COLOR_FAILURE, "(%s)", path);
            ++removal->failed;
        }
        return; /* the folders above hold this one */
    }
}

unsigned KvRemoveSelf(KvRun *run, const KvFolderList *deferred) {
    static const char *const kPlain[2] = {KV_JOURNAL_FILE_NAME, KV_PRODUCT_FILE_NAME};
    static const char *const kInUse[2] = {KV_PRODUCT_UNINSTALLER_NAME, KV_PRODUCT_MODULE_NAME};
    static const wchar_t *const kInUseWide[2] = {L"uninstall.exe", L"kelvane-standard.dll"};
    Removal removal;
    char path[KV_PRODUCT_PATH];
    wchar_t *wide = (wchar_t *)HeapAlloc(GetProcessHeap(), 0, KV_WPATH * sizeof(wchar_t));
    unsigned i;
    memset(&removal, 0, sizeof removal);
    removal.run = run;
    KvJournalClose(run);
    if (wide == NULL) {
        KvPrintFailure(run, "Out of memory", ERROR_NOT_ENOUGH_MEMORY);
        return 1;
    }
    for (i = 0; i < 4; ++i) {
        const char *name = i < 2 ? kPlain[i] : kInUse[i - 2];
        if (!KvJoin(path, sizeof path, run->uninstallFolder, name) || !KvWidePath(path, wide, KV_WPATH)) {
            ++removal.failed;
            continue;
        }
        if (GetFileAttributesW(wide) == INVALID_FILE_ATTRIBUTES) continue;
        SetFileAttributesW(wide, FILE_ATTRIBUTE_NORMAL);
        RemoveInUse(&removal, path, wide, i < 2 ? NULL : kInUseWide[i - 2]);
    }
    HeapFree(GetProcessHeap(), 0, wide);
    /* After the files it holds, so the restart empties it before it goes. */
    if (removal.waitFolder[0] != L'\0' && !MoveFileExW(removal.waitFolder, NULL, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        KvPrintf(run, KV_COLOR_WARNING, "The system's Temp folder keeps an empty folder of the uninstaller");
    }
    RemoveFolders(&removal, deferred);
    return removal.failed;
}
