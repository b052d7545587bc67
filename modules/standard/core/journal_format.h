/* The journal of an installation as text: one record per line, written ahead of the
 * step it records, so that undoing it after a failure, a crash or at uninstall needs
 * nothing but the file. Portable C: it formats and parses lines; the module writes
 * and flushes them. A line that was cut by a crash is recognised and never read as
 * a record.
 *
 * A line: KIND, then its fields, separated by a tab, ended by "\r\n" and preceded by
 * nothing else. Fields are UTF-8; a tab, CR, LF or backslash inside a field is written
 * as \t, \r, \n or \\. The first line is the header "kelvane-journal\t1". */
#ifndef KV_STANDARD_JOURNAL_FORMAT_H
#define KV_STANDARD_JOURNAL_FORMAT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define KV_JOURNAL_MAX_FIELDS 6
#define KV_JOURNAL_FIELD 1024 /* bytes per field, NUL included */

typedef enum KvJournalKind {
    KV_J_HEADER,   /* "kelvane-journal", "1" */
    KV_J_PRODUCT,  /* product: id, version, install folder ({app}), machine|user */
    KV_J_FOLDER,   /* folder: path            written before the folder is created */
    KV_J_BACKUP,   /* backup: path, backupPath  before an existing file is moved aside */
    KV_J_FILE,     /* file: path, size          before the file is written */
    KV_J_HASH,     /* hash: path, sha256 (64 hex digits)  after the file is written whole */
    KV_J_SHORTCUT, /* shortcut: path           before the link is written (an older link is a backup first) */
    KV_J_REGKEY,   /* regkey: root, key         before a key that did not exist is created */
    KV_J_REGVALUE, /* regvalue: root, key, name, old: "-" none, else type ":" hex of the old data */
    KV_J_PATH,     /* path: folder              before it is added to the machine's PATH */
    KV_J_APPS,     /* apps: root, key           before the installed-apps entry is written */
    KV_J_END,      /* end: install date (YYYYMMDD)   the installation is complete */
    KV_J_STAGED    /* staged: path, stagedPath  before a new file is written beside one in use, to replace
                    * it at the restart; undo deletes stagedPath */
} KvJournalKind;

typedef struct KvJournalRecord {
    KvJournalKind kind;
    unsigned fieldCount; /* fields after the kind */
    char fields[KV_JOURNAL_MAX_FIELDS][KV_JOURNAL_FIELD];
} KvJournalRecord;

/* The record's kind word ("folder", ...), NULL for a kind out of range. */
const char *KvJournalKindName(KvJournalKind kind);

/* Writes the record as one line, "\r\n" included, NUL-terminated, into out. Returns its
 * length without the NUL, or 0 when it does not fit (never cut) or the record has the
 * wrong number of fields for its kind. */
size_t KvFormatJournalLine(const KvJournalRecord *record, char *out, size_t outSize);

/* Parses one line, without its "\r\n". Returns 1, or 0 for a line that is no record:
 * an unknown kind, a wrong field count, a bad escape, a field too long. */
int KvParseJournalLine(const char *line, size_t length, KvJournalRecord *record);

/* Walks a whole journal file's bytes: calls each for every complete record in order.
 * Returns the number of records, or -1 when the header is missing or a complete line
 * is no record (a damaged journal: nothing of it may be trusted). A last line without
 * its "\r\n" was cut by a crash and is left out; *cut tells whether there was one.
 * each returns 0 to stop the walk early (the count so far is returned). */
typedef int (*KvJournalEach)(void *context, const KvJournalRecord *record);
long KvWalkJournal(const char *bytes, size_t size, KvJournalEach each, void *context, int *cut);

/* The old value of a registry value as the regvalue record keeps it: "-" for none,
 * else "<type>:<hex of the data>", type the system's REG_* number in decimal. */
size_t KvFormatOldValue(int exists, uint32_t type, const uint8_t *data, size_t dataSize, char *out, size_t outSize);
/* Back from the text: *exists 0 for "-". data receives at most dataCapacity bytes;
 * returns 0 when the text is malformed or the data does not fit. */
int KvParseOldValue(const char *text, int *exists, uint32_t *type, uint8_t *data, size_t dataCapacity,
                    size_t *dataSize);

#ifdef __cplusplus
}
#endif

#endif
