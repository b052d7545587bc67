/* The journal on disk: {app}\uninstall\journal.txt written one flushed record at a time
 * ahead of each step, and read back whole to undo or uninstall. A record that did not
 * reach the disk whole must stop the step it announces; a damaged journal is never
 * acted upon. */
#include <windows.h>

#include <stdarg.h>
#include <string.h>

#include "standard_private.h"

/* Larger than any journal of an installation; a bigger file is no journal of ours. */
#define KV_JOURNAL_MAX_BYTES (512u * 1024u * 1024u)

int KvJournalCreate(KvRun *run) { return KvJournalCreateNamed(run, KV_JOURNAL_FILE_NAME); }

int KvJournalCreateNamed(KvRun *run, const char *fileName) {
    char path[KV_PRODUCT_PATH];
    wchar_t *wide = (wchar_t *)HeapAlloc(GetProcessHeap(), 0, KV_WPATH * sizeof(wchar_t));
    DWORD code = ERROR_FILENAME_EXCED_RANGE;
    if (!KvJoin(path, sizeof path, run->uninstallFolder, fileName)) path[0] = '\0';
    run->journal = INVALID_HANDLE_VALUE;
    if (wide != NULL && path[0] != '\0' && KvWidePath(path, wide, KV_WPATH)) {
        /* Never an old journal's tail: the caller undid and deleted any it found. */
        run->journal = CreateFileW(wide, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
        code = GetLastError();
    }
    if (wide != NULL) HeapFree(GetProcessHeap(), 0, wide);
    if (run->journal == INVALID_HANDLE_VALUE) {
        KvPrintFailure(run, "Cannot create the installation's journal", wide == NULL ? ERROR_NOT_ENOUGH_MEMORY : code);
        KvPrintf(run, KV_COLOR_FAILURE, "(%s)", path);
        return 0;
    }
    return KvJournalAppendTexts(run, KV_J_HEADER, "1", (const char *)NULL) &&
           KvJournalAppendTexts(run, KV_J_PRODUCT, run->product.productId, run->product.version, run->app,
                                KvScopeName(run),
                                (const char *)NULL);
}

void KvJournalClose(KvRun *run) {
    if (run->journal != INVALID_HANDLE_VALUE && run->journal != NULL) CloseHandle(run->journal);
    run->journal = INVALID_HANDLE_VALUE;
}

int KvJournalAppend(KvRun *run, const KvJournalRecord *record) {
    /* Every byte of a field may take two when escaped. */
    const size_t capacity = 2 * KV_JOURNAL_MAX_FIELDS * KV_JOURNAL_FIELD + 64;
    char *line;
    size_t length;
    DWORD written = 0;
    DWORD code = 0;
    if (run->journal == INVALID_HANDLE_VALUE || run->journal == NULL) {
        KvPrintFailure(run, "The journal is not open: the step is not taken", 0);
        return 0;
    }
    line = (char *)HeapAlloc(GetProcessHeap(), 0, capacity);
    if (line == NULL) {
        KvPrintFailure(run, "Out of memory for the journal", ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    length = KvFormatJournalLine(record, line, capacity);
    if (length == 0) {
        HeapFree(GetProcessHeap(), 0, line);
        KvPrintf(run, KV_COLOR_FAILURE, "A %s record cannot be written: a field is too long",
                 KvJournalKindName(record->kind) != NULL ? KvJournalKindName(record->kind) : "journal");
        return 0;
    }
    /* The step may follow only once its record is on the disk whole. */
    if (!WriteFile(run->journal, line, (DWORD)length, &written, NULL) || written != (DWORD)length ||
        !FlushFileBuffers(run->journal)) {
        code = GetLastError();
        if (code == 0) code = ERROR_WRITE_FAULT;
    }
    HeapFree(GetProcessHeap(), 0, line);
    if (code != 0) {
        KvPrintFailure(run, "Cannot write the installation's journal: the step is not taken", code);
        return 0;
    }
    return 1;
}

int KvJournalAppendTexts(KvRun *run, KvJournalKind kind, ...) {
    KvJournalRecord *record = (KvJournalRecord *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof *record);
    const char *text;
    va_list arguments;
    int ok = 1;
    int result;
    if (record == NULL) {
        KvPrintFailure(run, "Out of memory for the journal", ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    record->kind = kind;
    va_start(arguments, kind);
    while ((text = va_arg(arguments, const char *)) != NULL) {
        const size_t length = strlen(text);
        if (record->fieldCount == KV_JOURNAL_MAX_FIELDS || length >= KV_JOURNAL_FIELD) {
            ok = 0;
            break;
        }
        memcpy(record->fields[record->fieldCount++], text, length + 1);
    }
    va_end(arguments);
    if (!ok) {
        HeapFree(GetProcessHeap(), 0, record);
        KvPrintf(run, KV_COLOR_FAILURE, "A %s record cannot be written: a field is too long",
                 KvJournalKindName(kind) != NULL ? KvJournalKindName(kind) : "journal");
        return 0;
    }
    result = KvJournalAppend(run, record);
    HeapFree(GetProcessHeap(), 0, record);
    return result;
}

static int NoteRecord(void *context, const KvJournalRecord *record) {
    KvJournalFile *journal = (KvJournalFile *)context;
    /* Every complete line is a record (or the journal is refused): the count is the line's index. */
    const size_t index = journal->lineCount++;
    if (record->kind == KV_J_PRODUCT && ++journal->productRecords == 2) journal->ownStepsFrom = index;
    if (record->kind == KV_J_PRODUCT && journal->productRecords == 3) journal->failureOnlyFrom = index;
    if (record->kind == KV_J_END) journal->complete = 1;
    if (record->kind == KV_J_PRODUCT && !journal->hasProduct && record->fieldCount >= 3) {
        journal->hasProduct = 1;
        memcpy(journal->productId, record->fields[0], KV_JOURNAL_FIELD);
        memcpy(journal->version, record->fields[1], KV_JOURNAL_FIELD);
        memcpy(journal->app, record->fields[2], KV_JOURNAL_FIELD);
    }
    return 1;
}

static int ReadWhole(const wchar_t *path, KvJournalFile *journal, DWORD *code) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    LARGE_INTEGER size;
    DWORD done = 0;
    int ok;
    if (file == INVALID_HANDLE_VALUE) {
        *code = GetLastError();
        return 0;
    }
    if (!GetFileSizeEx(file, &size) || size.QuadPart > KV_JOURNAL_MAX_BYTES) {
        *code = GetLastError() != 0 ? GetLastError() : ERROR_FILE_TOO_LARGE;
        CloseHandle(file);
        return 0;
    }
    journal->size = (size_t)size.QuadPart;
    journal->bytes = (char *)HeapAlloc(GetProcessHeap(), 0, journal->size + 1);
    ok = journal->bytes != NULL &&
         (journal->size == 0 || (ReadFile(file, journal->bytes, (DWORD)journal->size, &done, NULL) &&
                                 done == (DWORD)journal->size));
    *code = ok ? 0 : (journal->bytes == NULL ? ERROR_NOT_ENOUGH_MEMORY : GetLastError());
    if (ok) journal->bytes[journal->size] = '\0';
    CloseHandle(file);
    return ok;
}

/* Each complete line's start: fields never hold a raw CR or LF, so "\r\n" ends a line. */
static int IndexLines(KvJournalFile *journal) {
    size_t count = 0;
    size_t i;
    size_t start = 0;
    for (i = 0; i + 1 < journal->size; ++i) {
        if (journal->bytes[i] == '\r' && journal->bytes[i + 1] == '\n') ++count;
    }
    journal->lineStarts = (size_t *)HeapAlloc(GetProcessHeap(), 0, (count + 1) * sizeof(size_t));
    if (journal->lineStarts == NULL) return 0;
    for (i = 0; i + 1 < journal->size; ++i) {
        if (journal->bytes[i] == '\r' && journal->bytes[i + 1] == '\n') {
            journal->lineStarts[journal->lineCount++] = start;
            start = i + 2;
            ++i;
        }
    }
    journal->lineStarts[journal->lineCount] = start; /* where the line after the last would begin */
    return 1;
}

int KvJournalLoad(const KvRun *run, const char *path, KvJournalFile *journal, int *missing) {
    wchar_t *wide = (wchar_t *)HeapAlloc(GetProcessHeap(), 0, KV_WPATH * sizeof(wchar_t));
    DWORD code = ERROR_FILENAME_EXCED_RANGE;
    long records;
    int ok;
    memset(journal, 0, sizeof *journal);
    *missing = 0;
    ok = wide != NULL && KvWidePath(path, wide, KV_WPATH) && ReadWhole(wide, journal, &code);
    if (wide == NULL) code = ERROR_NOT_ENOUGH_MEMORY;
    if (wide != NULL) HeapFree(GetProcessHeap(), 0, wide);
    if (!ok) {
        KvJournalFree(journal);
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
            *missing = 1;
            return 0;
        }
        KvPrintFailure(run, "Cannot read the installation's journal", code);
        KvPrintf(run, KV_COLOR_FAILURE, "(%s)", path);
        return 0;
    }
    journal->failureOnlyFrom = (size_t)-1;
    records = KvWalkJournal(journal->bytes, journal->size, NoteRecord, journal, &journal->cut);
    journal->lineCount = 0; /* IndexLines counts them again */
    if (records < 0 || !journal->hasProduct) {
        KvJournalFree(journal);
        KvPrintFailure(run, "The installation's journal is damaged: nothing of it can be trusted, nothing is changed",
                       0);
        KvPrintf(run, KV_COLOR_FAILURE, "(%s)", path);
        return 0;
    }
    if (!IndexLines(journal)) {
        KvJournalFree(journal);
        KvPrintFailure(run, "Out of memory for the journal", ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    return 1;
}

void KvJournalFree(KvJournalFile *journal) {
    if (journal->bytes != NULL) HeapFree(GetProcessHeap(), 0, journal->bytes);
    if (journal->lineStarts != NULL) HeapFree(GetProcessHeap(), 0, journal->lineStarts);
    journal->bytes = NULL;
    journal->lineStarts = NULL;
    journal->lineCount = 0;
}

int KvJournalRecordAt(const KvJournalFile *journal, size_t index, KvJournalRecord *record) {
    size_t start;
    if (index >= journal->lineCount) return 0;
    start = journal->lineStarts[index];
    return KvParseJournalLine(journal->bytes + start, journal->lineStarts[index + 1] - 2 - start, record);
}
