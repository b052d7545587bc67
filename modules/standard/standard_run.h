/* What the parts of the standard install module share: one installation or removal
 * run, its journal on disk, its console and log output. Windows only; C. */
#ifndef KV_STANDARD_RUN_H
#define KV_STANDARD_RUN_H

#include <windows.h>

#include "core/journal_format.h"
#include "core/product.h"
#include "kelvane_install.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Console colours, as the sample module uses them. */
#define KV_COLOR_NORMAL 7
#define KV_COLOR_PROGRESS 11
#define KV_COLOR_DONE 10
#define KV_COLOR_WARNING 14
#define KV_COLOR_FAILURE 4

#define KV_WPATH 32768 /* wide paths are extended ("\\?\") where they are used */

typedef enum KvUi { KV_UI_FULL, KV_UI_PASSIVE, KV_UI_QUIET } KvUi;

typedef struct KvRun {
    const InstallHostInterface *host;
    KvUi ui;
    int uninstalling;   /* KELVANE_ACTION=uninstall */
    KvProduct product;
    char app[KV_PRODUCT_PATH];          /* the install folder, UTF-8, no trailing '\' */
    char uninstallFolder[KV_PRODUCT_PATH]; /* {app}\uninstall */
    HANDLE journal;     /* open for appending while installing; INVALID_HANDLE_VALUE otherwise */
    int quiet;          /* nothing to the console (undo during a failure prints its own summary) */
    struct KvInUse *inUse; /* files_in_use.c's: programs closed, files waiting for the restart; NULL until used */
} KvRun;

/* Output: UTF-8 texts, converted for the console (ANSI code page, '?' for what it
 * lacks); every text also reaches the log through the host. */
void KvPrint(const KvRun *run, uint32_t color, const char *utf8);
void KvPrintf(const KvRun *run, uint32_t color, const char *format, ...);
/* A failure in red, with the system's message for code when it is not 0. */
void KvPrintFailure(const KvRun *run, const char *what, DWORD code);
/* The same, its text formatted first (at most 8 KB, then cut). */
void KvPrintFailuref(const KvRun *run, DWORD code, const char *format, ...);

/* UTF-8 <-> UTF-16; 0 when it does not fit or is not valid. */
int KvToWide(const char *utf8, wchar_t *out, size_t outCount);
int KvToUtf8(const wchar_t *wide, char *out, size_t outSize);

/* Appends one record to the journal and flushes it to disk before returning: the step
 * it announces may be taken only when this returned 1. 0 (after a printed failure)
 * means the step must not be taken. */
int KvJournalAppend(KvRun *run, const KvJournalRecord *record);
/* Shorthands building the record from texts (NULL-terminated argument list). */
int KvJournalAppendTexts(KvRun *run, KvJournalKind kind, ...);

/* Expands a product text with the run's {app}; 0 after a printed failure. */
int KvExpandText(const KvRun *run, const char *text, char *out, size_t outSize);

/* ---- shortcuts.c ---- */
/* Makes every SHORTCUTn of the product (IShellLinkW), each journalled first (an older
 * link of that name is moved aside as a backup record). 1, or 0 after a printed failure. */
int KvMakeShortcuts(KvRun *run);
/* Undoes one shortcut record: deletes the link; removes the Start-menu sub-folders it
 * made when they are empty. 1 when nothing is left of it. */
int KvUndoShortcut(KvRun *run, const KvJournalRecord *record);

/* ---- registry_values.c ---- */
/* Writes every REGn (regkey records for keys it creates, a regvalue record with the old
 * value before each write), then the PATH entry (a path record; WM_SETTINGCHANGE sent
 * with a timeout). 1, or 0 after a printed failure. */
int KvWriteRegistryValues(KvRun *run);
/* Writes the installed-apps entry (an apps record first). estimatedKilobytes: the
 * payload's size. 1, or 0 after a printed failure. */
int KvWriteAppsEntry(KvRun *run, uint64_t estimatedKilobytes);
/* Undo of a regkey (delete when empty), regvalue (restore the old value or delete),
 * path (remove that entry from the machine's PATH, announce) or apps record (delete the
 * whole key). 1 when done or nothing was left to do. */
int KvUndoRegistryRecord(KvRun *run, const KvJournalRecord *record);

#ifdef __cplusplus
}
#endif

#endif
