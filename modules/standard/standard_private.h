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

/* ---- journal_file.c ---- */
/* Creates {app}\uninstall\journal.txt (refusing one that exists) and writes the header and
 * product records. 1, or 0 after a printed failure. */
int KvJournalCreate(KvRun *run);
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
} KvJournalFile;

/* Reads path (UTF-8) whole. 1; 0 with *missing set when there is no such file; 0 after a
 * printed failure when it cannot be read or is damaged. */
int KvJournalLoad(const KvRun *run, const char *path, KvJournalFile *journal, int *missing);
void KvJournalFree(KvJournalFile *journal);
/* Line index (0 = first) as a record; 0 for a line that is none. */
int KvJournalRecordAt(const KvJournalFile *journal, size_t index, KvJournalRecord *record);

/* ---- undo.c ---- */
typedef enum KvUndoMode { KV_UNDO_ROLLBACK, KV_UNDO_UNINSTALL } KvUndoMode;

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

/* ---- self_removal.c ---- */
/* CreateDirectoryW with the DACL of sddl; fails when the folder exists. */
int KvCreateFolderWithSddl(const wchar_t *path, const wchar_t *sddl, DWORD *code);
/* Ends an uninstall: journal.txt and product.ini deleted, the uninstaller and the module moved
 * away or left for the restart, then the deferred folders. Returns how many things could not
 * be removed nor scheduled. */
unsigned KvRemoveSelf(KvRun *run, const KvFolderList *deferred);

#ifdef __cplusplus
}
#endif

#endif
