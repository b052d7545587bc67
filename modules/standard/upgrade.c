/* Installing over an installation of the same product: an upgrade, a repair or an allowed
 * downgrade, one transaction on top of the old journal (journal.new, renamed over journal.txt
 * at the end). Never touches what neither journal records; a failure leaves the old
 * installation exactly as it was, journal and installed-apps entry included. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kelvane_payload.h"
#include "standard_private.h"

/* Other backups share the folder: payload files take plain numbers, shortcuts "lnk-". */
#define OLD_BACKUP_PREFIX "old-"
#define MAX_BACKUP_NUMBER 1000000u
/* The registry data a regvalue record can keep: every byte takes two hex digits. */
#define KEPT_VALUE_BYTES (KV_JOURNAL_FIELD / 2)

/* What KvWriteAppsEntry writes: each is kept before, so that a failure puts the entry back. */
static const char *const kAppsValues[] = {"DisplayName",     "DisplayVersion",       "Publisher",
                                          "InstallLocation", "DisplayIcon",          "EstimatedSize",
                                          "InstallDate",     "URLInfoAbout",         "UninstallString",
                                          "QuietUninstallString", "NoModify",        "NoRepair"};
/* The uninstaller's own files in {app}\uninstall, replaced as the payload's are. */
static const char *const kUninstaller[3] = {KV_PRODUCT_UNINSTALLER_NAME, KV_PRODUCT_MODULE_NAME,
                                            KV_PRODUCT_FILE_NAME};

/* ---- the transaction ---- */

typedef struct Upgrade {
    KvRun *run;
    KvJournalFile old;
    KvPayload payload;
    KvPathSet newFiles;    /* every file the new version installs, the uninstaller's included */
    KvPathSet newLinks;    /* the shortcuts journal.new records */
    KvPathSet newValues;   /* ValueId of every REGn of the new version */
    KvPathSet newFolders;  /* the empty folders of folders.ini */
    KvPathSet oldFolders;  /* the folders the old journal made */
    KvFolderList removed; /* files and shortcuts of the old version moved out: their folders may go */
    char appsKey[KV_PRODUCT_PATH];
    char newPath[KV_PRODUCT_PATH]; /* the new version's PATH folder, "" for none */
    unsigned backups;
    int order; /* the installed version against this one: <0 upgrade, 0 repair, >0 downgrade */
} Upgrade;

static int FileExists(const char *path) {
    wchar_t *wide = KvWideOf(path);
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    if (wide != NULL) {
        attributes = GetFileAttributesW(wide);
        HeapFree(GetProcessHeap(), 0, wide);
    }
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static int OutOfMemory(KvRun *run) {
    KvPrintFailure(run, "Out of memory while comparing the versions", ERROR_NOT_ENOUGH_MEMORY);
    return 0;
}

/* What the new version will hold, known before anything is changed. */
static int CollectNewVersion(Upgrade *up) {
    KvRun *run = up->run;
    char path[KV_PRODUCT_PATH];
    char key[KV_PRODUCT_PATH];
    char name[KV_PRODUCT_PATH];
    char id[3 * KV_PRODUCT_PATH];
    KeyValueList list;
    unsigned i;
    for (i = 0; i < up->payload.count; ++i) {
        if (!KvJoin(path, sizeof path, run->app, up->payload.entries[i].relative) ||
            !KvPathSetAdd(&up->newFiles, path)) {
            return OutOfMemory(run);
        }
    }
    for (i = 0; i < 3; ++i) {
        if (!KvJoin(path, sizeof path, run->uninstallFolder, kUninstaller[i]) || !KvPathSetAdd(&up->newFiles, path)) {
            return OutOfMemory(run);
        }
    }
    for (i = 0; i < run->product.regCount && i < KV_PRODUCT_MAX_REGS; ++i) {
        const KvReg *reg = &run->product.regs[i];
        if (!KvExpandText(run, reg->key, key, sizeof key) || !KvExpandText(run, reg->name, name, sizeof name)) return 0;
        if (!KvValueId(id, sizeof id, reg->root == KV_REG_HKCU ? "HKCU" : "HKLM", key, name) ||
            !KvPathSetAdd(&up->newValues, id)) {
            return OutOfMemory(run);
        }
    }
    if (run->product.pathEntry[0] != '\0' &&
        !KvExpandText(run, run->product.pathEntry, up->newPath, sizeof up->newPath)) {
        return 0;
    }
    /* The payload's empty folders stay, though no file keeps them. */
    if (KvJoin(path, sizeof path, run->host->programDirectory, KV_PRODUCT_FOLDERS_FILE_NAME) &&
        (list = run->host->loadKeyValues(path)) != NULL) {
        const KeyValueNode *node;
        for (node = list; node != NULL; node = node->next) {
            if (strncmp(node->entry->key, "FOLDER", 6) == 0 &&
                KvJoin(path, sizeof path, run->app, node->entry->value) &&
                !KvPathSetAdd(&up->newFolders, path)) {
                return OutOfMemory(run);
            }
        }
    }
    for (i = 0; i < up->old.lineCount; ++i) {
        KvJournalRecord *record = (KvJournalRecord *)HeapAlloc(GetProcessHeap(), 0, sizeof *record);
        int ok = record != NULL;
        if (ok && KvJournalRecordAt(&up->old, i, record) && record->kind == KV_J_FOLDER) {
            ok = KvPathSetAdd(&up->oldFolders, record->fields[0]);
        }
        if (record != NULL) HeapFree(GetProcessHeap(), 0, record);
        if (!ok) return OutOfMemory(run);
    }
    KvPathSetSort(&up->newFiles);
    KvPathSetSort(&up->newValues);
    KvPathSetSort(&up->newFolders);
    KvPathSetSort(&up->oldFolders);
    return 1;
}

/* A regvalue record of the old journal that tells a value from before the first installation
 * or one an installation wrote; not one kept only to undo a failed upgrade. */
static int IsValueRecord(const KvJournalFile *journal, size_t index, const KvJournalRecord *record) {
    return record->kind == KV_J_REGVALUE &&
           (journal->failureOnlyFrom == (size_t)-1 || index < journal->failureOnlyFrom);
}

static int AppendProductRecord(KvRun *run) {
    return KvJournalAppendTexts(run, KV_J_PRODUCT, run->product.productId, run->product.version, run->app,
                                KvScopeName(run), (const char *)NULL);
}

/* The old journal's records that the final uninstall still needs, ahead of this run's own
 * steps: the folders and keys the first installation made, its PATH entry, and, for each
 * value the new version writes again, the value from before the first installation. */
static int CarryOldRecords(Upgrade *up) {
    KvRun *run = up->run;
    KvJournalRecord *record = (KvJournalRecord *)HeapAlloc(GetProcessHeap(), 0, sizeof *record);
    KvPathSet carried;
    char id[3 * KV_JOURNAL_FIELD];
    size_t i;
    int ok = record != NULL;
    memset(&carried, 0, sizeof carried);
    for (i = 0; ok && i < up->old.lineCount; ++i) {
        if (!KvJournalRecordAt(&up->old, i, record)) continue;
        if (record->kind == KV_J_REGVALUE) {
            /* Only the first record of a value knows what stood there before. */
            if (!IsValueRecord(&up->old, i, record) ||
                !KvValueId(id, sizeof id, record->fields[0], record->fields[1], record->fields[2]) ||
                !KvPathSetHas(&up->newValues, id) || KvPathSetHas(&carried, id)) {
                continue;
            }
            ok = KvPathSetAdd(&carried, id);
            KvPathSetSort(&carried);
            if (!ok) break;
        } else if ((record->kind != KV_J_FOLDER && record->kind != KV_J_REGKEY && record->kind != KV_J_PATH) ||
                   (record->kind == KV_J_FOLDER && KvPathWithin(record->fields[0], run->uninstallFolder) &&
                    strlen(record->fields[0]) > strlen(run->uninstallFolder))) {
            continue; /* the backup folder is made again when needed, and deleted at every end */
        }
        ok = KvJournalAppend(run, record);
    }
    KvPathSetFree(&carried);
    if (record != NULL) HeapFree(GetProcessHeap(), 0, record);
    else KvPrintFailure(run, "Out of memory for the journal", ERROR_NOT_ENOUGH_MEMORY);
    /* This run's own steps follow the second product record: a failure undoes them alone. */
    return ok && AppendProductRecord(run);
}

/* The old version's files that stay out of the new one, within the uninstaller's folder or not. */
static int IsOldOnlyFile(const Upgrade *up, const KvJournalRecord *record) {
    return record->kind == KV_J_FILE && !KvPathWithin(record->fields[0], up->run->uninstallFolder) &&
           !KvPathSetHas(&up->newFiles, record->fields[0]) && FileExists(record->fields[0]);
}

/* Every existing file the transaction will replace or remove, asked about once. */
static int CheckFilesInUse(Upgrade *up) {
    KvRun *run = up->run;
    KvJournalRecord *record = (KvJournalRecord *)HeapAlloc(GetProcessHeap(), 0, sizeof *record);
    KvFolderList files;
    const char **paths = NULL;
    char path[KV_PRODUCT_PATH];
    unsigned i;
    int ok = record != NULL;
    int answer = KV_INUSE_FREE;
    memset(&files, 0, sizeof files);
    for (i = 0; ok && i < up->payload.count + 3; ++i) {
        const int joined = i < up->payload.count
                               ? KvJoin(path, sizeof path, run->app, up->payload.entries[i].relative)
                               : KvJoin(path, sizeof path, run->uninstallFolder, kUninstaller[i - up->payload.count]);
        if (joined && FileExists(path)) {
            ok = KvFolderListAdd(&files, path);
        }
    }
    for (i = 0; ok && i < up->old.lineCount; ++i) {
        if (KvJournalRecordAt(&up->old, i, record) && IsOldOnlyFile(up, record)) {
            ok = KvFolderListAdd(&files, record->fields[0]);
        }
    }
    if (ok && files.count > 0) {
        paths = (const char **)HeapAlloc(GetProcessHeap(), 0, files.count * sizeof(const char *));
        ok = paths != NULL;
    }
    if (ok && files.count > 0) {
        for (i = 0; i < files.count; ++i) paths[i] = files.paths[i];
        answer = KvCheckFilesInUse(run, paths, files.count);
    }
    if (paths != NULL) HeapFree(GetProcessHeap(), 0, (void *)paths);
    if (record != NULL) HeapFree(GetProcessHeap(), 0, record);
    KvFolderListFree(&files);
    if (!ok) return OutOfMemory(run);
    if (answer == KV_INUSE_CANCEL) {
        KvPrintf(run, KV_COLOR_FAILURE, "Stopped: programs still use files of %s", run->product.name);
        return 0;
    }
    return 1;
}

/* A file or link of the old version goes into {app}\uninstall\backup, journalled first: a
 * failure moves it back, the end deletes it with the other backups. */
static int MoveAside(Upgrade *up, const char *path) {
    KvRun *run = up->run;
    char folder[KV_PRODUCT_PATH];
    char backup[KV_PRODUCT_PATH];
    char name[32];
    wchar_t *from;
    wchar_t *to;
    DWORD code = 0;
    if (!KvJoin(folder, sizeof folder, run->uninstallFolder, KV_BACKUP_FOLDER_NAME) ||
        !KvMakeFolders(run, folder, NULL)) {
        return 0;
    }
    do {
        if (++up->backups > MAX_BACKUP_NUMBER) {
            KvPrintf(run, KV_COLOR_FAILURE, "No free backup name is left in %s", folder);
            return 0;
        }
        snprintf(name, sizeof name, OLD_BACKUP_PREFIX "%u", up->backups);
        if (!KvJoin(backup, sizeof backup, folder, name)) return 0;
    } while (FileExists(backup));
    if (!KvJournalAppendTexts(run, KV_J_BACKUP, path, backup, (const char *)NULL)) return 0;
    from = KvWideOf(path);
    to = KvWideOf(backup);
    if (from == NULL || to == NULL) code = ERROR_FILENAME_EXCED_RANGE;
    /* A link lies in the Start menu, maybe on another volume than {app}. */
    else if (!MoveFileExW(from, to, MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) code = GetLastError();
    if (from != NULL) HeapFree(GetProcessHeap(), 0, from);
    if (to != NULL) HeapFree(GetProcessHeap(), 0, to);
    if (code != 0) {
        KvPrintFailuref(run, code, "Cannot remove %s", path);
        return 0;
    }
    if (!KvFolderListAdd(&up->removed, path)) return OutOfMemory(run);
    return 1;
}

/* The shortcuts this run made, read back from journal.new after its last product record. */
static int CollectNewLinks(Upgrade *up) {
    KvRun *run = up->run;
    KvJournalFile journal;
    KvJournalRecord *record;
    char path[KV_PRODUCT_PATH];
    size_t i;
    int missing = 0;
    int ok = 1;
    if (!KvJoin(path, sizeof path, run->uninstallFolder, KV_JOURNAL_NEW_FILE_NAME) ||
        !KvJournalLoad(run, path, &journal, &missing)) {
        return 0;
    }
    record = (KvJournalRecord *)HeapAlloc(GetProcessHeap(), 0, sizeof *record);
    ok = record != NULL;
    for (i = journal.lineCount; ok && i > 0; --i) {
        if (!KvJournalRecordAt(&journal, i - 1, record)) continue;
        if (record->kind == KV_J_PRODUCT) break;
        if (record->kind == KV_J_SHORTCUT) ok = KvPathSetAdd(&up->newLinks, record->fields[0]);
    }
    if (record != NULL) HeapFree(GetProcessHeap(), 0, record);
    KvJournalFree(&journal);
    KvPathSetSort(&up->newLinks);
    return ok || OutOfMemory(run);
}

/* A value as a regvalue record keeps it; 0 after a printed failure. */
static int KeepCurrentValue(KvRun *run, const char *rootName, const char *keyPath, const char *name) {
    BYTE data[KEPT_VALUE_BYTES];
    char old[KV_JOURNAL_FIELD];
    wchar_t wideKey[KV_JOURNAL_FIELD];
    wchar_t wideName[KV_JOURNAL_FIELD];
    DWORD size = sizeof data;
    DWORD type = 0;
    HKEY key;
    LONG result = ERROR_FILE_NOT_FOUND;
    if (!KvToWide(keyPath, wideKey, KV_JOURNAL_FIELD) || !KvToWide(name, wideName, KV_JOURNAL_FIELD)) {
        KvPrintf(run, KV_COLOR_FAILURE, "The registry value %s\\%s\\%s cannot be used", rootName, keyPath, name);
        return 0;
    }
    if (RegOpenKeyExW(strcmp(rootName, "HKCU") == 0 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, wideKey, 0,
                      KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        result = RegQueryValueExW(key, wideName, NULL, &type, data, &size);
        RegCloseKey(key);
    }
    if ((result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) ||
        KvFormatOldValue(result == ERROR_SUCCESS, type, data, result == ERROR_SUCCESS ? size : 0, old, sizeof old) ==
            0) {
        KvPrintFailuref(run, result == ERROR_MORE_DATA ? 0 : (DWORD)result,
                        "The value %s\\%s\\%s cannot be kept in the journal (too long or unreadable): "
                        "nothing is changed",
                        rootName, keyPath, name[0] != '\0' ? name : "(default)");
        return 0;
    }
    return KvJournalAppendTexts(run, KV_J_REGVALUE, rootName, keyPath, name, old, (const char *)NULL);
}

/* Files, shortcuts and registry values of the old version that the new one lacks. */
static int RemoveOldOnly(Upgrade *up) {
    KvRun *run = up->run;
    KvJournalRecord *record = (KvJournalRecord *)HeapAlloc(GetProcessHeap(), 0, sizeof *record);
    KvPathSet seen;
    char id[3 * KV_JOURNAL_FIELD];
    size_t i;
    /* The third product record: the regvalue records after it only undo a failure. */
    int ok = record != NULL && AppendProductRecord(run);
    memset(&seen, 0, sizeof seen);
    for (i = 0; ok && i < up->old.lineCount; ++i) {
        if (!KvJournalRecordAt(&up->old, i, record)) continue;
        if (IsOldOnlyFile(up, record)) {
            ok = MoveAside(up, record->fields[0]);
            if (ok) {
                KvPrintf(run, KV_COLOR_PROGRESS, "Removed %s: not in %s %s", record->fields[0], run->product.name,
                         run->product.version);
            }
        } else if (record->kind == KV_J_SHORTCUT && !KvPathSetHas(&up->newLinks, record->fields[0]) &&
                   FileExists(record->fields[0])) {
            ok = MoveAside(up, record->fields[0]);
            if (ok) {
                KvPrintf(run, KV_COLOR_PROGRESS, "Removed shortcut %s: not in %s %s", record->fields[0],
                         run->product.name, run->product.version);
            }
        } else if (IsValueRecord(&up->old, i, record) &&
                   KvValueId(id, sizeof id, record->fields[0], record->fields[1], record->fields[2]) &&
                   !KvPathSetHas(&up->newValues, id) && !KvPathSetHas(&seen, id)) {
            /* Back to what stood before the first installation: its first record says. */
            ok = KvPathSetAdd(&seen, id);
            KvPathSetSort(&seen);
            ok = ok && KeepCurrentValue(run, record->fields[0], record->fields[1], record->fields[2]) &&
                 KvUndoRegistryRecord(run, record);
        }
    }
    KvPathSetFree(&seen);
    if (record != NULL) HeapFree(GetProcessHeap(), 0, record);
    return ok;
}

/* The entry's values as they are, each kept before KvWriteAppsEntry rewrites them. */
static int RewriteAppsEntry(Upgrade *up) {
    KvRun *run = up->run;
    unsigned i;
    for (i = 0; i < sizeof kAppsValues / sizeof kAppsValues[0]; ++i) {
        if (!KeepCurrentValue(run, KvAppsRootName(run), up->appsKey, kAppsValues[i])) return 0;
    }
    return KvWriteAppsEntry(run, (up->payload.bytes + 1023) / 1024);
}

static int JournalPaths(const KvRun *run, char *current, char *next) {
    return KvJoin(current, KV_PRODUCT_PATH, run->uninstallFolder, KV_JOURNAL_FILE_NAME) &&
           KvJoin(next, KV_PRODUCT_PATH, run->uninstallFolder, KV_JOURNAL_NEW_FILE_NAME);
}

/* journal.new becomes the installation's journal: from here on the new version stands. */
static int PutNewJournalInPlace(KvRun *run) {
    char current[KV_PRODUCT_PATH];
    char next[KV_PRODUCT_PATH];
    wchar_t *from;
    wchar_t *to;
    DWORD code = 0;
    if (!JournalPaths(run, current, next)) return 0;
    from = KvWideOf(next);
    to = KvWideOf(current);
    if (from == NULL || to == NULL) code = ERROR_FILENAME_EXCED_RANGE;
    else if (!MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) code = GetLastError();
    if (from != NULL) HeapFree(GetProcessHeap(), 0, from);
    if (to != NULL) HeapFree(GetProcessHeap(), 0, to);
    if (code != 0) KvPrintFailure(run, "Cannot put the new journal in place of the old one", code);
    return code == 0;
}

static int Commit(KvRun *run) {
    SYSTEMTIME now;
    char date[16];
    GetLocalTime(&now);
    snprintf(date, sizeof date, "%04u%02u%02u", (unsigned)now.wYear, (unsigned)now.wMonth, (unsigned)now.wDay);
    if (!KvJournalAppendTexts(run, KV_J_END, date, (const char *)NULL)) return 0;
    KvJournalClose(run);
    return PutNewJournalInPlace(run);
}

/* After the commit, what only tidies: the old PATH entry the new version lacks (its record
 * stays, finding nothing at the uninstall) and the old version's folders left empty. */
static void TidyAfterCommit(Upgrade *up) {
    KvRun *run = up->run;
    KvJournalRecord *record = (KvJournalRecord *)HeapAlloc(GetProcessHeap(), 0, sizeof *record);
    char folder[KV_PRODUCT_PATH];
    char a[KV_FOLDED_NAME];
    char b[KV_FOLDED_NAME];
    size_t i;
    unsigned n;
    for (i = 0; record != NULL && i < up->old.lineCount; ++i) {
        if (!KvJournalRecordAt(&up->old, i, record) || record->kind != KV_J_PATH) continue;
        if (up->newPath[0] != '\0' && KvFoldName(record->fields[0], a, sizeof a) &&
            KvFoldName(up->newPath, b, sizeof b) && strcmp(a, b) == 0) {
            continue;
        }
        KvUndoRegistryRecord(run, record);
    }
    if (record != NULL) HeapFree(GetProcessHeap(), 0, record);
    for (n = 0; n < up->removed.count; ++n) {
        strcpy(folder, up->removed.paths[n]);
        while (KvParentFolder(folder) && !KvPathWithin(run->app, folder) && KvPathSetHas(&up->oldFolders, folder) &&
               !KvPathSetHasWithin(&up->newFiles, folder) && !KvPathSetHasWithin(&up->newLinks, folder) &&
               !KvPathSetHasWithin(&up->newFolders, folder)) {
            DWORD code;
            int missing;
            if (!KvRemoveFolderUtf8(folder, &code, &missing)) break; /* it holds more: so do those above */
            KvPrintf(run, KV_COLOR_PROGRESS, "Removed folder %s", folder);
        }
    }
}

/* Undoes journal.new back to its last product record; deleted when all of it is undone,
 * else kept for the next run to finish. Returns the steps that failed. */
static unsigned UndoNewJournal(KvRun *run, const KvJournalFile *journal, unsigned *undone) {
    char current[KV_PRODUCT_PATH];
    char next[KV_PRODUCT_PATH];
    KvFolderList deferred;
    unsigned failed;
    DWORD code;
    memset(&deferred, 0, sizeof deferred);
    failed = KvUndoJournal(run, journal, KV_UNDO_UPGRADE, &deferred, undone);
    KvFolderListFree(&deferred); /* {app} and its uninstaller's folder stood before */
    if (failed == 0 && JournalPaths(run, current, next) && !KvDeleteFileUtf8(next, &code)) {
        KvPrintFailure(run, "Cannot delete the upgrade's journal", code);
        ++failed;
    }
    return failed;
}

static void RollBack(Upgrade *up) {
    KvRun *run = up->run;
    char current[KV_PRODUCT_PATH];
    char next[KV_PRODUCT_PATH];
    KvJournalFile journal;
    unsigned undone = 0;
    unsigned failed = 1;
    int missing = 0;
    KvJournalClose(run);
    KvPrint(run, KV_COLOR_WARNING, "The installation failed: undoing what it did");
    if (JournalPaths(run, current, next) && KvJournalLoad(run, next, &journal, &missing)) {
        failed = UndoNewJournal(run, &journal, &undone);
        KvJournalFree(&journal);
    }
    if (failed == 0) {
        KvPrintf(run, KV_COLOR_WARNING, "Rolled back: %u step(s) undone, %s %s is as it was", undone, run->product.name,
                 up->old.version);
    } else {
        KvPrintf(run, KV_COLOR_FAILURE,
                 "Rolled back %u step(s); what could not be undone is listed above, and %s keeps the rest for the "
                 "next run", undone, KV_JOURNAL_NEW_FILE_NAME);
    }
}

int KvSettleInterruptedUpgrade(KvRun *run) {
    char current[KV_PRODUCT_PATH];
    char next[KV_PRODUCT_PATH];
    KvJournalFile journal;
    unsigned undone = 0;
    unsigned failed;
    int missing = 0;
    if (!JournalPaths(run, current, next)) return 0;
    if (!KvJournalLoad(run, next, &journal, &missing)) return missing;
    if (journal.complete) {
        /* Cut off between its end record and the rename: the new version stands whole. */
        KvJournalFree(&journal);
        KvPrintf(run, KV_COLOR_WARNING, "An upgrade in %s was cut off at its very end: completing it", run->app);
        if (!PutNewJournalInPlace(run)) return 0;
        KvDeleteBackups(run);
        return 1;
    }
    KvPrintf(run, KV_COLOR_WARNING, "An upgrade to %s in %s was cut off: undoing it first", journal.version, run->app);
    failed = UndoNewJournal(run, &journal, &undone);
    KvJournalFree(&journal);
    if (failed != 0) {
        KvPrintf(run, KV_COLOR_FAILURE, "The cut-off upgrade could not be undone whole (%u step(s) failed)", failed);
        return 0;
    }
    KvPrintf(run, KV_COLOR_WARNING, "The cut-off upgrade is undone (%u step(s))", undone);
    return 1;
}

/* The installed version, the version here, the folder: whether and how to go on. */
static int Decide(Upgrade *up, const KvInstalled *installed) {
    KvRun *run = up->run;
    char given[KV_PRODUCT_PATH];
    char folder[KV_PRODUCT_PATH];
    char allow[8];
    const int order = up->order = KvCompareVersions(installed->version, run->product.version);
    const int dir = KvReadVariable(L"KELVANE_DIR", given, sizeof given);
    if (!KvNormaliseFolder(installed->app, run->app, sizeof run->app) ||
        !KvJoin(run->uninstallFolder, sizeof run->uninstallFolder, run->app, KV_UNINSTALL_FOLDER_NAME) ||
        !KvAppsKeyPath(run, up->appsKey, sizeof up->appsKey)) {
        KvPrintf(run, KV_COLOR_FAILURE, "%s %s is installed, but its entry names no usable folder (\"%s\"): uninstall "
                                        "it first", run->product.name, installed->version, installed->app);
        return 0;
    }
    if (order > 0 && !(KvReadVariable(L"KELVANE_ALLOW_DOWNGRADE", allow, sizeof allow) == 1 &&
                       strcmp(allow, "1") == 0)) {
        KvPrintf(run, KV_COLOR_FAILURE, "Another version of this product is already installed: %s %s in %s",
                 run->product.name, installed->version, run->app);
        KvSetOutcome(KELVANE_OUTCOME_OTHER_VERSION);
        return 0;
    }
    /* Moving an installation is an uninstall and an install: both undoable, never half of each. */
    if (dir != 0 && (dir < 0 || !KvNormaliseFolder(given, folder, sizeof folder) || _stricmp(folder, run->app) != 0)) {
        KvPrintf(run, KV_COLOR_FAILURE, "%s %s is installed in %s: uninstall it first, or leave out /dir=",
                 run->product.name, installed->version, run->app);
        return 0;
    }
    if (order < 0) {
        KvPrintf(run, KV_COLOR_NORMAL, "Upgrading %s %s to %s in %s", run->product.name, installed->version,
                 run->product.version, run->app);
    } else if (order == 0) {
        KvPrintf(run, KV_COLOR_NORMAL, "Repairing %s %s in %s", run->product.name, run->product.version, run->app);
    } else {
        KvPrintf(run, KV_COLOR_WARNING, "Downgrading %s %s to %s in %s (allowed by /allowdowngrade)",
                 run->product.name, installed->version, run->product.version, run->app);
    }
    return 1;
}

/* The old journal must be a complete installation of this product in this folder. */
static int LoadOldJournal(Upgrade *up) {
    KvRun *run = up->run;
    char current[KV_PRODUCT_PATH];
    char next[KV_PRODUCT_PATH];
    char folder[KV_PRODUCT_PATH];
    int missing = 0;
    if (!JournalPaths(run, current, next)) return 0;
    if (KvJournalLoad(run, current, &up->old, &missing)) {
        if (up->old.complete && strcmp(up->old.productId, run->product.productId) == 0 &&
            KvNormaliseFolder(up->old.app, folder, sizeof folder) && _stricmp(folder, run->app) == 0) {
            return 1;
        }
        KvJournalFree(&up->old);
    }
    KvPrintf(run, KV_COLOR_FAILURE, "%s in %s has no complete journal of its installation: it cannot be installed "
                                    "over; uninstall it first", run->product.name, run->app);
    return 0;
}

static int Transaction(Upgrade *up) {
    KvRun *run = up->run;
    char size[32];
    int ok;
    if (!KvJournalCreateNamed(run, KV_JOURNAL_NEW_FILE_NAME)) {
        /* Nothing of this run exists to undo but, maybe, a journal without its first lines. */
        if (run->journal != INVALID_HANDLE_VALUE) RollBack(up);
        return 0;
    }
    ok = CarryOldRecords(up) && CheckFilesInUse(up) && KvInstallPayload(run, &up->payload) &&
         KvInstallEmptyFolders(run) && KvInstallUninstaller(run) && KvMakeShortcuts(run) &&
         KvWriteRegistryValues(run) && CollectNewLinks(up) && RemoveOldOnly(up) && RewriteAppsEntry(up) &&
         Commit(run);
    if (!ok) {
        RollBack(up);
        return 0;
    }
    KvDeleteBackups(run);
    TidyAfterCommit(up);
    KvFormatMegabytes(size, sizeof size, up->payload.bytes);
    KvTaskbarProgress(KELVANE_PROGRESS_NORMAL, 1, 1);
    if (up->order == 0) {
        KvPrintf(run, KV_COLOR_DONE, "Repaired %s %s in %s: %u files, %s", run->product.name, run->product.version,
                 run->app, up->payload.count, size);
    } else {
        KvPrintf(run, KV_COLOR_DONE, "Installed %s %s in %s in place of %s: %u files, %s", run->product.name,
                 run->product.version, run->app, up->old.version, up->payload.count, size);
    }
    return 1;
}

int KvInstallOver(KvRun *run, const KvInstalled *installed) {
    Upgrade *up = (Upgrade *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof *up);
    int ok = 0;
    if (up == NULL) return OutOfMemory(run);
    up->run = run;
    if (Decide(up, installed) && KvSettleInterruptedUpgrade(run) && LoadOldJournal(up)) {
        ok = KvListPayload(run, &up->payload) && KvCheckFreeSpace(run, up->payload.bytes) && CollectNewVersion(up) &&
             Transaction(up);
        KvFreePayload(&up->payload);
        KvJournalFree(&up->old);
    }
    KvPathSetFree(&up->newFiles);
    KvPathSetFree(&up->newLinks);
    KvPathSetFree(&up->newValues);
    KvPathSetFree(&up->newFolders);
    KvPathSetFree(&up->oldFolders);
    KvFolderListFree(&up->removed);
    HeapFree(GetProcessHeap(), 0, up);
    return ok;
}
