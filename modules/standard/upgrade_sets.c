/* Sorted sets of names for comparing two versions of an installation: paths and registry
 * values, compared as the file system and the registry do (case ignored without the user's
 * locale). Memory only: reads and changes nothing on the disk or in the registry. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "standard_private.h"

/* Upper case without the user's locale, as names are compared; 0 when it does not fit. */
int KvFoldName(const char *text, char *out, size_t outSize) {
    /* Each half holds a value's id: root, key and name, each a journal field. */
    const int half = 3 * KV_JOURNAL_FIELD;
    wchar_t *wide = (wchar_t *)HeapAlloc(GetProcessHeap(), 0, 2 * (size_t)half * sizeof(wchar_t));
    int ok = wide != NULL && KvToWide(text, wide, (size_t)half);
    if (ok) {
        const int length = lstrlenW(wide);
        ok = length == 0 || LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, wide, length + 1, wide + half, half) > 0;
        if (length == 0) wide[half] = L'\0';
        ok = ok && KvToUtf8(wide + half, out, outSize);
    }
    if (wide != NULL) HeapFree(GetProcessHeap(), 0, wide);
    return ok;
}

int KvPathSetAdd(KvPathSet *set, const char *text) {
    char folded[KV_FOLDED_NAME];
    char *copy;
    if (!KvFoldName(text, folded, sizeof folded)) return 0;
    if (set->count == set->capacity) {
        const unsigned capacity = set->capacity == 0 ? 64 : set->capacity * 2;
        void *grown = set->keys == NULL ? HeapAlloc(GetProcessHeap(), 0, capacity * sizeof(char *))
                                        : HeapReAlloc(GetProcessHeap(), 0, set->keys, capacity * sizeof(char *));
        if (grown == NULL) return 0;
        set->keys = (char **)grown;
        set->capacity = capacity;
    }
    copy = (char *)HeapAlloc(GetProcessHeap(), 0, strlen(folded) + 1);
    if (copy == NULL) return 0;
    strcpy(copy, folded);
    set->keys[set->count++] = copy;
    return 1;
}

static int CompareKeys(const void *a, const void *b) { return strcmp(*(char *const *)a, *(char *const *)b); }

void KvPathSetSort(KvPathSet *set) {
    if (set->count > 1) qsort(set->keys, set->count, sizeof(char *), CompareKeys);
}

/* The first key not below folded (a sorted set). */
static unsigned LowerBound(const KvPathSet *set, const char *folded) {
    unsigned low = 0;
    unsigned high = set->count;
    while (low < high) {
        const unsigned middle = low + (high - low) / 2;
        if (strcmp(set->keys[middle], folded) < 0) low = middle + 1;
        else high = middle;
    }
    return low;
}

int KvPathSetHas(const KvPathSet *set, const char *text) {
    char folded[KV_FOLDED_NAME];
    unsigned at;
    if (!KvFoldName(text, folded, sizeof folded)) return 0;
    at = LowerBound(set, folded);
    return at < set->count && strcmp(set->keys[at], folded) == 0;
}

/* Whether the set holds folder itself or anything below it. */
int KvPathSetHasWithin(const KvPathSet *set, const char *folder) {
    char folded[KV_FOLDED_NAME];
    size_t length;
    unsigned at;
    if (!KvFoldName(folder, folded, sizeof folded - 1)) return 1; /* unsure: keep it */
    length = strlen(folded);
    at = LowerBound(set, folded);
    if (at < set->count && strcmp(set->keys[at], folded) == 0) return 1;
    folded[length] = '\\';
    folded[length + 1] = '\0';
    at = LowerBound(set, folded);
    return at < set->count && strncmp(set->keys[at], folded, length + 1) == 0;
}

void KvPathSetFree(KvPathSet *set) {
    unsigned i;
    for (i = 0; i < set->count; ++i) HeapFree(GetProcessHeap(), 0, set->keys[i]);
    if (set->keys != NULL) HeapFree(GetProcessHeap(), 0, set->keys);
    memset(set, 0, sizeof *set);
}

/* A registry value as one text: root, key and name apart by a byte no name holds. */
int KvValueId(char *out, size_t outSize, const char *root, const char *key, const char *name) {
    const int length = snprintf(out, outSize, "%s\x01%s\x01%s", root, key, name);
    return length > 0 && (size_t)length < outSize;
}
