/* What the module's own files share beyond standard_run.h: paths, the journal read back
 * from disk, the payload's list, undoing and the removal of the uninstaller. Windows
 * only; C. Nothing here is seen by shortcuts.c or registry_values.c. */
#ifndef KV_STANDARD_PRIVATE_H
#define KV_STANDARD_PRIVATE_H

#include "standard_run.h"

#ifdef __cplusplus
extern "C" {
#endif

#define KV_UNINSTALL_FOLDER_NAME "uninstall"
#define KV_JOURNAL_FILE_NAME "journal.txt"
#define KV_BACKUP_FOLDER_NAME "backup"
/* Folders that {app} may have above it; each of them at least two characters long. */
#define KV_MAX_FOLDER_CHAIN 512

/* ---- output.c ---- */
/* 1 the first time only: the text printed then begins with a line break. */
int KvTakeOpenLine(void);
/* A UTF-8 path (drive or UNC) as an extended wide path ("\\?\C:\..." or
 * "\\?\UNC\server\..."), '/' turned into '\'. 0 when it is no absolute path or too long. */
int KvWidePath(const char *utf8, wchar_t *out, size_t outCount);
/* The same on the heap (KV_WPATH characters; HeapFree it); NULL when it fails. */
wchar_t *KvWideOf(const char *path);
/* out = folder "\" name (out may be folder); 0 when it does not fit (out left unchanged). */
int KvJoin(char *out, size_t outSize, const char *folder, const char *name);
/* Decimal digits, cut to outSize (24 bytes always hold them). */
void KvFormatUnsigned(char *out, size_t outSize, uint64_t value);
/* "12.3 MB" (1 MB = 1,048,576 bytes). */
void KvFormatMegabytes(char *out, size_t outSize, uint64_t bytes);
/* A path's parent in place ("C:\a\b" -> "C:\a"); 0 at a drive root or a UNC share. */
int KvParentFolder(char *path);
/* Whether prefix is path itself or a folder above it (ASCII case ignored). */
int KvPathWithin(const char *path, const char *prefix);
/* An absolute folder given by the user or the product: "X:\..." or "\\server\share\...",
 * every part a plain name. Written to out without trailing '\'; 0 when refused. */
int KvNormaliseFolder(const char *text, char *out, size_t outSize);

/* ---- scope.c ---- */
/* 1 for a per-user product (SCOPE=user). */
int KvIsUserScope(const KvRun *run);
/* The installed-apps entry's root, HKCU for a per-user product, else HKLM; and its name
 * as journals and messages write it. */
HKEY KvAppsRoot(const KvRun *run);
const char *KvAppsRootName(const KvRun *run);
/* The journal's product record: "user" or "machine". */
const char *KvScopeName(const KvRun *run);
/* Creates a folder that must not exist yet: with sddl's DACL for a machine product, with
 * the one it inherits for a per-user product. */
int KvCreateScopedFolder(const KvRun *run, const wchar_t *path, const wchar_t *sddl, DWORD *code);

/* ---- standard_module.c ---- */
/* An environment variable the host set, UTF-8: 1 with the value; 0 when the variable is not
 * set; -1 when it is set but does not fit. */
int KvReadVariable(const wchar_t *name, char *out, size_t outSize);

/* ---- journal_file.c ---- */
/* Creates {app}\uninstall\journal.txt (refusing one that exists) and writes the header and
 * product records. 1, or 0 after a printed failure. */
int KvJournalCreate(KvRun *run);
/* The same for another file name of {app}\uninstall (an upgrade's journal.new). */
int KvJournalCreateNamed(KvRun *run, const char *fileName);
void KvJournalClose(KvRun *run);

/* A journal read back whole: its complete lines, each a record, undone from the end. */
typedef struct KvJournalFile {
    char *bytes;
    size_t size;
    size_t *lineStarts; /* each line's first byte, then one past the last line */
    size_t lineCount;
    int cut;            /* a last line was cut by a crash */
    int complete;       /* an end record was found */
    int hasProduct;
    char productId[KV_JOURNAL_FIELD];
    char version[KV_JOURNAL_FIELD];
    char app[KV_JOURNAL_FIELD];
    /* An upgrade's journal has three product records: its head; where its own steps begin
     * (what stands before carries the older installation's records); and where the regvalue
     * records begin that only a failure undoes (older values taken back, the installed-apps
     * entry's values). The index of the second, 0 when there is none, and of the third,
     * (size_t)-1 when there is none. */
    unsigned productRecords;
    size_t ownStepsFrom;
    size_t failureOnlyFrom;
} KvJournalFile;

/* Reads path (UTF-8) whole. 1; 0 with *missing set when there is no such file; 0 after a
 * printed failure when it cannot be read or is damaged. */
int KvJournalLoad(const KvRun *run, const char *path, KvJournalFile *journal, int *missing);
void KvJournalFree(KvJournalFile *journal);
/* Line index (0 = first) as a record; 0 for a line that is none. */
int KvJournalRecordAt(const KvJournalFile *journal, size_t index, KvJournalRecord *record);

/* ---- undo.c ---- */
/* KV_UNDO_UPGRADE: an upgrade's journal.new after a failure, back to its last product record;
 * the installed-apps entry it rewrote is put back value by value, never deleted. */
typedef enum KvUndoMode { KV_UNDO_ROLLBACK, KV_UNDO_UNINSTALL, KV_UNDO_UPGRADE } KvUndoMode;

/* Folders of the journal that wait for the end: {app}\uninstall, {app} and the folders made
 * above it, in the journal's order (deepest last). */
typedef struct KvFolderList {
    unsigned count;
    unsigned capacity;
    char (*paths)[KV_PRODUCT_PATH];
} KvFolderList;

/* Undoes every record of journal in reverse, but the folders above (left in deferred, in
 * the order to remove them, deepest first; the caller frees it with KvFolderListFree) and,
 * uninstalling, the uninstaller's own files. Prints each step and counts it in *undone.
 * Returns the number of steps that failed (listed as they happen). */
unsigned KvUndoJournal(KvRun *run, const KvJournalFile *journal, KvUndoMode mode, KvFolderList *deferred,
                       unsigned *undone);
/* Removes the deferred folders, deepest first, when empty; a folder that holds what was not
 * installed is kept and said so (and so are the ones above it). Returns how many failed
 * otherwise; counts each removal in *undone. */
unsigned KvRemoveDeferredFolders(KvRun *run, const KvFolderList *deferred, KvUndoMode mode, unsigned *undone);
/* Adds a copy of path; 0 when out of memory. */
int KvFolderListAdd(KvFolderList *list, const char *path);
void KvFolderListFree(KvFolderList *list);
/* Deletes a file, read-only or not. 1 when it is gone (or was never there), else 0 with
 * the system's code. */
int KvDeleteFileUtf8(const char *path, DWORD *code);
/* Removes an empty folder. 1 when removed, 0 with the code (ERROR_DIR_NOT_EMPTY, ...);
 * *missing set when there was none. */
int KvRemoveFolderUtf8(const char *path, DWORD *code, int *missing);

/* ---- payload_files.c ---- */
typedef struct KvPayloadEntry {
    char *relative; /* below payload\<PAYLOAD>, '\' separators */
    uint64_t size;
} KvPayloadEntry;

typedef struct KvPayload {
    KvPayloadEntry *entries;
    unsigned count;
    unsigned capacity;
    uint64_t bytes;
    int failed; /* out of memory while listing */
} KvPayload;

/* Lists payload\<PAYLOAD>; 1, or 0 after a printed failure. */
int KvListPayload(KvRun *run, KvPayload *payload);
void KvFreePayload(KvPayload *payload);
/* Free space for bytes on the volume of {app}; 1, or 0 after a printed failure. */
int KvCheckFreeSpace(KvRun *run, uint64_t bytes);
/* Makes folder and each missing folder above it. With the journal open each gets its
 * folder record first; otherwise each made one is added to made. 1, or 0 after a printed
 * failure. */
int KvMakeFolders(KvRun *run, const char *folder, KvFolderList *made);
/* The files, then the empty folders of folders.ini, then the uninstaller's files. */
int KvInstallPayload(KvRun *run, const KvPayload *payload);
int KvInstallEmptyFolders(KvRun *run);
int KvInstallUninstaller(KvRun *run);
/* Deletes {app}\uninstall\backup and what it holds, after a complete installation. */
void KvDeleteBackups(KvRun *run);
/* Sets the progress on the taskbar when the host offers it. */
void KvTaskbarProgress(uint32_t state, uint64_t done, uint64_t total);

/* ---- upgrade_sets.c ---- */
typedef struct KvPathSet {
    char **keys; /* upper-cased, sorted by KvPathSetSort once filled */
    unsigned count;
    unsigned capacity;
} KvPathSet;

/* A folded name's room: a value's id (three journal fields) may grow by half when upper-cased. */
#define KV_FOLDED_NAME (5 * KV_JOURNAL_FIELD)
/* Upper case without the user's locale, as names compare; 0 when it does not fit. */
int KvFoldName(const char *text, char *out, size_t outSize);
/* Adds a copy of text, folded; 0 when out of memory or too long. */
int KvPathSetAdd(KvPathSet *set, const char *text);
void KvPathSetSort(KvPathSet *set);
/* On a sorted set: text itself; folder itself or anything below it. */
int KvPathSetHas(const KvPathSet *set, const char *text);
int KvPathSetHasWithin(const KvPathSet *set, const char *folder);
void KvPathSetFree(KvPathSet *set);
/* A registry value as one text: root, key and name apart by a byte no name holds. */
int KvValueId(char *out, size_t outSize, const char *root, const char *key, const char *name);

/* ---- upgrade.c ---- */
#define KV_JOURNAL_NEW_FILE_NAME "journal.new"

/* The installation of this product that the installed-apps entry names. */
typedef struct KvInstalled {
    char version[KV_PRODUCT_TEXT];
    char app[KV_PRODUCT_PATH];
} KvInstalled;

/* ---- standard_module.c ---- */
/* 1 with *installed filled when the product's installed-apps entry exists (0 when not). */
int KvFindInstalled(KvRun *run, KvInstalled *installed);
/* The entry's key below its root (HKLM or HKCU); 0 when it does not fit. */
int KvAppsKeyPath(const KvRun *run, char *out, size_t outSize);
/* Installs over the installation found: an upgrade (older one), a repair (the same version)
 * or, with KELVANE_ALLOW_DOWNGRADE=1, a downgrade; a newer one is refused (outcome 1638).
 * One transaction on top of the old journal: on failure the old installation is as it
 * was. 1, or 0 after a printed failure. */
int KvInstallOver(KvRun *run, const KvInstalled *installed);
/* A journal.new left by an upgrade that was cut off: finished when complete, else undone
 * and deleted. 1 when the folder holds no such journal any more. */
int KvSettleInterruptedUpgrade(KvRun *run);
/* ---- self_removal.c ---- */
/* CreateDirectoryW with the DACL of sddl; fails when the folder exists. */
int KvCreateFolderWithSddl(const wchar_t *path, const wchar_t *sddl, DWORD *code);
/* Ends an uninstall: journal.txt and product.ini deleted, the uninstaller and the module moved
 * away or left for the restart, then the deferred folders. Returns how many things could not
 * be removed nor scheduled. */
unsigned KvRemoveSelf(KvRun *run, const KvFolderList *deferred);

/* ---- files_in_use.c ---- */
#define KV_INUSE_FREE 0   /* nothing holds the files any more */
#define KV_INUSE_STAGE 1  /* go on: what is still held is staged, or removed, at the restart */
#define KV_INUSE_CANCEL 2 /* the user chose to stop */
typedef struct KvInUse KvInUse;
/* Asks the Restart Manager which programs hold any of paths (UTF-8). Interactive: names them and asks;
 * unattended: closes them only when KELVANE_CLOSE_APPLICATIONS=1. Returns KV_INUSE_FREE (nothing holds
 * them any more), KV_INUSE_STAGE (go on: what is still held is staged for the restart) or KV_INUSE_CANCEL
 * (the user chose to stop). Without a usable Restart Manager: KV_INUSE_STAGE, said in the log. */
int KvCheckFilesInUse(KvRun *run, const char *const *paths, unsigned count);
/* Whether KvCheckFilesInUse ran in this run already (an upgrade asks before installing the payload). */
int KvFilesInUseChecked(const KvRun *run);
/* After the run: restarts what KvCheckFilesInUse closed, where the Restart Manager can. Then lets go
 * of what the run kept for it: the end of a run that failed (KvFinishRestart does it itself). */
void KvRestartClosedApplications(KvRun *run);
/* Marks the run as needing a restart (then setOutcome(3010) at the end) and logs path. */
void KvNeedRestart(KvRun *run, const char *path);
/* A folder that holds only what waits for the restart (files given to KvNeedRestart, folders
 * given here or to KvFolderRemovedAtRestart): its removal is scheduled after them. 1 when so. */
int KvFolderWaitsForRestart(KvRun *run, const char *folder);
/* Notes a folder already scheduled for removal at the restart. */
void KvFolderRemovedAtRestart(KvRun *run, const char *folder);
/* The last step of a successful install or uninstall: restarts the closed programs; when anything
 * waits for the restart, sets the outcome 3010 and lists the files. */
void KvFinishRestart(KvRun *run);

/* ---- payload_files.c (outcome) ---- */
/* The host's setOutcome (KELVANE_OUTCOME_*), when the host offers it; else nothing. */
void KvSetOutcome(uint32_t outcome);

/* ---- self_removal.c (files in use when uninstalling) ---- */
/* Before an uninstall removes the journal's files: the ones a program holds go through
 * KvCheckFilesInUse, once. KV_INUSE_CANCEL when the user chose to stop. */
int KvCheckJournalFilesInUse(KvRun *run, const KvJournalFile *journal);
/* A file that could not be deleted (code): held by a program, its deletion is scheduled for the
 * restart and counted. 1 when scheduled; 0 for any other failure. */
int KvDeleteAtRestart(KvRun *run, const char *path, DWORD code);

/* The host's console, or NULL: the test host has none, and a module may have put its own
 * window in mainWindow, whose control 1000 could be anything. */
HWND KvFindHostConsole(const InstallHostInterface *host);

#ifdef __cplusplus
}
#endif

#endif
