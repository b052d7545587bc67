/* The journal's record lines (journal_format.h): formatting, parsing and the walk over
 * a whole file. Portable C99: no I/O, no allocation; never reads past the bytes it is
 * given, and a record that would not read back is never written. */
#include "journal_format.h"
#include "product_text.h"

#include <string.h>

static const struct {
    const char *name;
    unsigned fields;
} kKinds[] = {
    {"kelvane-journal", 1}, {"product", 4}, {"folder", 1},   {"backup", 2}, {"file", 2}, {"hash", 2},
    {"shortcut", 1},        {"regkey", 2},  {"regvalue", 4}, {"path", 1},   {"apps", 2}, {"end", 1},
    {"staged", 2},
};
#define KIND_COUNT (sizeof kKinds / sizeof kKinds[0])

const char *KvJournalKindName(KvJournalKind kind) {
    if ((unsigned)kind >= KIND_COUNT) return NULL;
    return kKinds[kind].name;
}

static int AllDigits(const char *text, size_t minimum, size_t maximum) {
    size_t length = strlen(text), i;
    if (length < minimum || length > maximum) return 0;
    for (i = 0; i < length; ++i) {
        if (!KvpIsDigit(text[i])) return 0;
    }
    return 1;
}


static int ParseOld(const char *text, int *exists, uint32_t *type, uint8_t *data, size_t dataCapacity,
                    size_t *dataSize);

/* What each kind's fields must look like beyond their number: the same test when
 * writing and when reading, so the module never writes a line it could not undo from. */
static int FieldsValid(const KvJournalRecord *record) {
    const char(*f)[KV_JOURNAL_FIELD] = record->fields;
    unsigned i;
    int exists;
    uint32_t type;
    size_t dataSize;
    if ((unsigned)record->kind >= KIND_COUNT || record->fieldCount != kKinds[record->kind].fields) return 0;
    for (i = 0; i < record->fieldCount; ++i) {
        if (memchr(f[i], '\0', KV_JOURNAL_FIELD) == NULL || !KvpIsUtf8((const unsigned char *)f[i])) return 0;
    }
    switch (record->kind) {
    case KV_J_HEADER:
        return strcmp(f[0], "1") == 0;
    case KV_J_PRODUCT:
        return f[0][0] != '\0' && f[2][0] != '\0' && (strcmp(f[3], "machine") == 0 || strcmp(f[3], "user") == 0);
    case KV_J_FILE:
        return f[0][0] != '\0' && AllDigits(f[1], 1, 20);
    case KV_J_HASH:
        if (f[0][0] == '\0' || strlen(f[1]) != 64) return 0;
        for (i = 0; i < 64; ++i) {
            if (KvpHexDigit(f[1][i]) < 0) return 0;
        }
        return 1;
    case KV_J_BACKUP:
    case KV_J_STAGED:
    case KV_J_REGKEY:
    case KV_J_APPS:
        return f[0][0] != '\0' && f[1][0] != '\0';
    case KV_J_REGVALUE:
        return f[0][0] != '\0' && f[1][0] != '\0' && ParseOld(f[3], &exists, &type, NULL, 0, &dataSize) != 0;
    case KV_J_END:
        return AllDigits(f[0], 8, 8);
    default: /* folder, shortcut, path: one path */
        return f[0][0] != '\0';
    }
}

/* Appends length bytes; 0 when they do not fit with room left for the NUL. */
static int Put(char *out, size_t outSize, size_t *used, const char *bytes, size_t length) {
    if (length >= outSize - *used) return 0;
    memcpy(out + *used, bytes, length);
    *used += length;
    return 1;
}

size_t KvFormatJournalLine(const KvJournalRecord *record, char *out, size_t outSize) {
    size_t used = 0;
    unsigned i;
    if (out == NULL || outSize == 0) return 0;
    out[0] = '\0';
    if (record == NULL || !FieldsValid(record)) return 0;
    if (!Put(out, outSize, &used, kKinds[record->kind].name, strlen(kKinds[record->kind].name))) goto noRoom;
    for (i = 0; i < record->fieldCount; ++i) {
        const char *c;
        if (!Put(out, outSize, &used, "\t", 1)) goto noRoom;
        for (c = record->fields[i]; *c != '\0'; ++c) {
            const char *escape =
                *c == '\t' ? "\\t" : *c == '\r' ? "\\r" : *c == '\n' ? "\\n" : *c == '\\' ? "\\\\" : NULL;
            if (!(escape != NULL ? Put(out, outSize, &used, escape, 2) : Put(out, outSize, &used, c, 1))) goto noRoom;
        }
    }
    if (!Put(out, outSize, &used, "\r\n", 2)) goto noRoom;
    out[used] = '\0';
    return used;
noRoom:
    out[0] = '\0'; /* never a line cut short */
    return 0;
}

int KvParseJournalLine(const char *line, size_t length, KvJournalRecord *record) {
    size_t at = 0, kindLength, used = 0;
    unsigned kind;
    if (line == NULL || record == NULL) return 0;
    memset(record, 0, sizeof *record);
    for (kindLength = 0; kindLength < length && line[kindLength] != '\t'; ++kindLength) {
    }
    for (kind = 0; kind < KIND_COUNT; ++kind) {
        if (strlen(kKinds[kind].name) == kindLength && memcmp(line, kKinds[kind].name, kindLength) == 0) break;
    }
    if (kind == KIND_COUNT || kindLength == length) return 0; /* every kind has fields */
    record->kind = (KvJournalKind)kind;
    for (at = kindLength; at < length; ++at) {
        char c = line[at];
        if (c == '\t') {
            if (record->fieldCount == KV_JOURNAL_MAX_FIELDS) return 0;
            ++record->fieldCount;
            used = 0;
            continue;
        }
        if (c == '\0' || c == '\r' || c == '\n') return 0; /* written escaped, so damage */
        if (c == '\\') {
            if (++at == length) return 0;
            c = line[at] == 't' ? '\t' : line[at] == 'r' ? '\r' : line[at] == 'n' ? '\n' : line[at] == '\\' ? '\\' : 0;
            if (c == 0) return 0;
        }
        if (used == KV_JOURNAL_FIELD - 1) return 0;
        record->fields[record->fieldCount - 1][used++] = c; /* the array was zeroed: always ended */
    }
    return FieldsValid(record);
}

/* One pass over the lines; each is NULL for the first pass, which only checks. */
static long Walk(const char *bytes, size_t size, KvJournalEach each, void *context, int *cut) {
    KvJournalRecord record;
    size_t start = 0;
    long count = 0;
    while (start < size) {
        const char *newline = (const char *)memchr(bytes + start, '\n', size - start);
        size_t end;
        if (newline == NULL) {
            *cut = 1; /* the crash came while this line was written */
            break;
        }
        end = (size_t)(newline - bytes);
        if (end == start || bytes[end - 1] != '\r') return -1;
        if (!KvParseJournalLine(bytes + start, end - 1 - start, &record)) return -1;
        if ((record.kind == KV_J_HEADER) != (count == 0)) return -1; /* the header first, and only there */
        ++count;
        if (each != NULL && !each(context, &record)) return count;
        start = end + 1;
    }
    return count == 0 ? -1 : count;
}

long KvWalkJournal(const char *bytes, size_t size, KvJournalEach each, void *context, int *cut) {
    int cutLine = 0;
    long count;
    if (cut != NULL) *cut = 0;
    if (bytes == NULL) return -1;
    /* Undo acts on what it is told: the whole file is checked before the first record
     * reaches it, so a damaged line late in the file cannot follow half an undo. */
    count = Walk(bytes, size, NULL, NULL, &cutLine);
    if (cut != NULL) *cut = cutLine;
    if (count < 0 || each == NULL) return count;
    return Walk(bytes, size, each, context, &cutLine);
}

size_t KvFormatOldValue(int exists, uint32_t type, const uint8_t *data, size_t dataSize, char *out, size_t outSize) {
    static const char hex[] = "0123456789abcdef";
    char digits[12];
    size_t count = 0, used = 0, i;
    if (out == NULL || outSize == 0) return 0;
    out[0] = '\0';
    if (!exists) {
        if (outSize < 2) return 0;
        memcpy(out, "-", 2);
        return 1;
    }
    if (data == NULL && dataSize != 0) return 0;
    do {
        digits[count++] = (char)('0' + type % 10);
        type /= 10;
    } while (type != 0);
    /* digits, ':' and two per byte, then the NUL; written as a sum that cannot wrap */
    if (outSize <= count + 1 || (outSize - count - 2) / 2 < dataSize) return 0;
    while (count > 0) out[used++] = digits[--count];
    out[used++] = ':';
    for (i = 0; i < dataSize; ++i) {
        out[used++] = hex[data[i] >> 4];
        out[used++] = hex[data[i] & 15];
    }
    out[used] = '\0';
    return used;
}

/* KvParseOldValue, or with data NULL only the form checked (the journal's reader). */
static int ParseOld(const char *text, int *exists, uint32_t *type, uint8_t *data, size_t dataCapacity,
                    size_t *dataSize) {
    uint64_t number = 0;
    size_t digits = 0, hexLength, i;
    int checkOnly = data == NULL;
    *exists = 0;
    *type = 0;
    *dataSize = 0;
    if (strcmp(text, "-") == 0) return 1;
    for (; KvpIsDigit(text[digits]); ++digits) {
        number = number * 10 + (uint64_t)(text[digits] - '0');
        if (number > 0xFFFFFFFFu) return 0;
    }
    if (digits == 0 || text[digits] != ':') return 0;
    text += digits + 1;
    hexLength = strlen(text);
    if (hexLength % 2 != 0) return 0;
    if (!checkOnly && hexLength / 2 > dataCapacity) return 0;
    for (i = 0; i < hexLength; i += 2) {
        int high = KvpHexDigit(text[i]), low = KvpHexDigit(text[i + 1]);
        if (high < 0 || low < 0) return 0;
        if (!checkOnly) data[i / 2] = (uint8_t)(high * 16 + low);
    }
    *exists = 1;
    *type = (uint32_t)number;
    *dataSize = hexLength / 2;
    return 1;
}

int KvParseOldValue(const char *text, int *exists, uint32_t *type, uint8_t *data, size_t dataCapacity,
                    size_t *dataSize) {
    uint8_t none;
    if (text == NULL || exists == NULL || type == NULL || dataSize == NULL) return 0;
    if (data == NULL && dataCapacity != 0) return 0;
    return ParseOld(text, exists, type, data != NULL ? data : &none, dataCapacity, dataSize);
}
