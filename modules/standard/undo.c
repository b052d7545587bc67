/* Undoing a journal, newest record first: after a failed or interrupted installation
 * (rollback) and when uninstalling. Removes only what the journal says was made; a folder
 * that holds anything else is kept, and said so. Never deletes a folder's contents. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "standard_private.h"

int KvFolderListAdd(KvFolderList *list, const char *path) {
    if (strlen(path) >= KV_PRODUCT_PATH) return 0;
    if (list->count == list->capacity) {
        const unsigned capacity = list->capacity == 0 ? 8 : list->capacity * 2;
        void *grown = list->paths == NULL
                          ? HeapAlloc(GetProcessHeap(), 0, (size_t)capacity * KV_PRODUCT_PATH)
                          : HeapReAlloc(GetProcessHeap(), 0, list->paths, (size_t)capacity * KV_PRODUCT_PATH);
        if (grown == NULL) return 0;
        list->paths = (char(*)[KV_PRODUCT_PATH])grown;
        list->capacity = capacity;
    }
    strcpy(list->paths[list->count++], path);
    return 1;
}

void KvFolderListFree(KvFolderList *list) {
    if (list->paths != NULL) HeapFree(GetProcessHeap(), 0, list->paths);
    list->paths = NULL;
    list->count = 0;
    list->capacity = 0;
}

static int IsMissing(DWORD code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

int KvDeleteFileUtf8(const char *path, DWORD *code) {
    wchar_t *wide = KvWideOf(path);
    int ok;
    *code = 0;
    if (wide == NULL) {
        *code = ERROR_FILENAME_EXCED_RANGE;
        return 0;
    }
    /* DeleteFile refuses a read-only file, and a payload file may be one. */
    SetFileAttributesW(wide, FILE_ATTRIBUTE_NORMAL);
    ok = DeleteFileW(wide);
    if (!ok) *code = GetLastError();
    HeapFree(GetProcessHeap(), 0, wide);
    if (!ok && IsMissing(*code)) {
        *code = 0;
        return 1;
    }
    return ok;
}

int KvRemoveFolderUtf8(const char *path, DWORD *code, int *missing) {
    wchar_t *wide = KvWideOf(path);
    int ok;
    *code = 0;
    *missing = 0;
    if (wide == NULL) {
        *code = ERROR_FILENAME_EXCED_RANGE;
        return 0;
    }
    ok = RemoveDirectoryW(wide);
    if (!ok) {
        *code = GetLastError();
        *missing = IsMissing(*code) || GetFileAttributesW(wide) == INVALID_FILE_ATTRIBUTES;
    }
    HeapFree(GetProcessHeap(), 0, wide);
    return ok;
}

/* A file, not a folder: a folder standing where a file was recorded is not ours. */
static int FileExists(const char *path) {
    wchar_t *wide = KvWideOf(path);
    DWORD attributes;
    int exists;
    if (wide == NULL) return 0;
    attributes = GetFileAttributesW(wide);
    exists = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    HeapFree(GetProcessHeap(), 0, wide);
    return exists;
}

typedef struct Undo {
    KvRun *run;
    KvUndoMode mode;
    const char *app;
    char uninstallFolder[KV_PRODUCT_PATH];
    unsigned failed;
    unsigned *undone;
} Undo;

static void Done(Undo *undo, const char *verb, const char *subject) {
    if (undo->mode != KV_UNDO_UNINSTALL) KvPrintf(undo->run, KV_COLOR_WARNING, "Undone: %s %s", verb, subject);
    else KvPrintf(undo->run, KV_COLOR_PROGRESS, "%c%s %s", verb[0] - 'a' + 'A', verb + 1, subject);
    ++*undo->undone;
}

static void Failed(Undo *undo, const char *what, const char *subject, DWORD code) {
    char line[KV_PRODUCT_PATH + 128];
    snprintf(line, sizeof line, "%s %s", what, subject);
    line[sizeof line - 1] = '\0';
    KvPrintFailure(undo->run, line, code);
    ++undo->failed;
}

static void UndoFolder(Undo *undo, const char *path) {
    DWORD code;
    int missing;
    if (KvRemoveFolderUtf8(path, &code, &missing)) {
        Done(undo, "removed folder", path);
    } else if (code == ERROR_DIR_NOT_EMPTY && undo->mode == KV_UNDO_UNINSTALL &&
               KvFolderWaitsForRestart(undo->run, path)) {
        ++*undo->undone;
    } else if (code == ERROR_DIR_NOT_EMPTY) {
        KvPrintf(undo->run, KV_COLOR_WARNING, "Kept %s: it holds files that were not installed", path);
    } else if (!missing) {
        Failed(undo, "Cannot remove the folder", path, code);
    }
}

static void UndoFile(Undo *undo, const char *path) {
    DWORD code;
    if (!FileExists(path)) return; /* its extraction never began, or it is gone already */
    if (KvDeleteFileUtf8(path, &code)) Done(undo, "removed", path);
    else if (undo->mode == KV_UNDO_UNINSTALL && KvDeleteAtRestart(undo->run, path, code)) ++*undo->undone;
    else Failed(undo, "Cannot remove", path, code);
}

/* The original file goes back where it was; the installed one was undone before it. */
static void UndoBackup(Undo *undo, const char *path, const char *backupPath) {
    wchar_t *from;
    wchar_t *to;
    DWORD code = 0;
    if (!FileExists(backupPath)) return; /* a complete installation deleted its backups */
    from = KvWideOf(backupPath);
    to = KvWideOf(path);
    if (from == NULL || to == NULL) code = ERROR_FILENAME_EXCED_RANGE;
    /* A shortcut's backup lies in {app}, maybe on another volume than the Start menu. */
    else if (!MoveFileExW(from, to, MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) code = GetLastError();
    if (from != NULL) HeapFree(GetProcessHeap(), 0, from);
    if (to != NULL) HeapFree(GetProcessHeap(), 0, to);
    if (code == 0) Done(undo, "restored", path);
    else Failed(undo, "Cannot restore", path, code);
}

/* Folders that outlive the walk: the journal lives in {app}\uninstall until the end. */
static int IsDeferred(const Undo *undo, const char *folder) {
    return KvPathWithin(undo->app, folder) ||
           (strlen(folder) == strlen(undo->uninstallFolder) && KvPathWithin(folder, undo->uninstallFolder));
}

static void UndoRecord(Undo *undo, const KvJournalRecord *record, KvFolderList *deferred) {
    switch (record->kind) {
    case KV_J_FOLDER:
        if (IsDeferred(undo, record->fields[0])) {
            if (!KvFolderListAdd(deferred, record->fields[0])) Failed(undo, "Out of memory for", record->fields[0], 0);
        } else {
            UndoFolder(undo, record->fields[0]);
        }
        break;
    case KV_J_BACKUP:
        UndoBackup(undo, record->fields[0], record->fields[1]);
        break;
    case KV_J_FILE:
        /* The uninstaller's own files go last, with the uninstaller. */
        if (undo->mode == KV_UNDO_UNINSTALL && KvPathWithin(record->fields[0], undo->uninstallFolder)) break;
        UndoFile(undo, record->fields[0]);
        break;
    case KV_J_SHORTCUT:
        if (KvUndoShortcut(undo->run, record)) ++*undo->undone;
        else ++undo->failed;
        break;
    case KV_J_STAGED:
        /* The rename scheduled for the restart then finds nothing to move. */
        UndoFile(undo, record->fields[1]);
        if (undo->mode == KV_UNDO_UNINSTALL) UndoFile(undo, record->fields[0]); /* what it replaced is ours */
        break;
    case KV_J_APPS:
        /* An upgrade rewrites an entry that was there before: its regvalue records put it back. */
        if (undo->mode == KV_UNDO_UPGRADE) break;
        /* fall through */
    case KV_J_REGVALUE:
    case KV_J_REGKEY:
    case KV_J_PATH:
        if (KvUndoRegistryRecord(undo->run, record)) ++*undo->undone;
        else ++undo->failed;
        break;
    default: /* header, product, hash, end: nothing was made by them */
        break;
    }
}

unsigned KvUndoJournal(KvRun *run, const KvJournalFile *journal, KvUndoMode mode, KvFolderList *deferred,
                       unsigned *undone) {
    KvJournalRecord *record = (KvJournalRecord *)HeapAlloc(GetProcessHeap(), 0, sizeof *record);
    Undo undo;
    size_t i;
    memset(&undo, 0, sizeof undo);
    undo.run = run;
    undo.mode = mode;
    undo.app = journal->app;
    undo.undone = undone;
    if (record == NULL || !KvJoin(undo.uninstallFolder, sizeof undo.uninstallFolder, journal->app,
                                  KV_UNINSTALL_FOLDER_NAME)) {
        if (record != NULL) HeapFree(GetProcessHeap(), 0, record);
        KvPrintFailure(run, "Cannot undo the journal: out of memory or a path too long", ERROR_NOT_ENOUGH_MEMORY);
        return 1;
    }
    if (mode == KV_UNDO_UNINSTALL && KvCheckJournalFilesInUse(run, journal) == KV_INUSE_CANCEL) {
        HeapFree(GetProcessHeap(), 0, record);
        return 1;
    }
    for (i = journal->lineCount; i > 0; --i) {
        /* An upgrade's own steps follow its second product record; what stands before it is
         * the installation it builds on. */
        if (mode == KV_UNDO_UPGRADE && (journal->productRecords < 2 || i - 1 <= journal->ownStepsFrom)) break;
        if (!KvJournalRecordAt(journal, i - 1, record)) continue;
        /* Past the third, values kept only for a failure: the upgrade took them back or rewrote them. */
        if (mode != KV_UNDO_UPGRADE && record->kind == KV_J_REGVALUE && i - 1 > journal->failureOnlyFrom) continue;
        UndoRecord(&undo, record, deferred);
    }
    HeapFree(GetProcessHeap(), 0, record);
    return undo.failed;
}

unsigned KvRemoveDeferredFolders(KvRun *run, const KvFolderList *deferred, KvUndoMode mode, unsigned *undone) {
    Undo undo;
    unsigned i;
    memset(&undo, 0, sizeof undo);
    undo.run = run;
    undo.mode = mode;
    undo.undone = undone;
    for (i = 0; i < deferred->count; ++i) {
        const char *path = deferred->paths[i];
        DWORD code;
        int missing;
        if (KvRemoveFolderUtf8(path, &code, &missing)) {
            Done(&undo, "removed folder", path);
        } else if (code == ERROR_DIR_NOT_EMPTY) {
            /* The folders above hold this one: none of them can go. */
            KvPrintf(run, KV_COLOR_WARNING, "Kept %s: it holds files that were not installed", path);
            break;
        } else if (!missing) {
            Failed(&undo, "Cannot remove the folder", path, code);
            break;
        }
    }
    return undo.failed;
}
