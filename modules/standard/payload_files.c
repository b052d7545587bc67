/* The files of an installation: the payload listed and extracted through the host's
 * payload extension, folders made, files that stood in the way kept aside (or, held by a
 * program, replaced at the restart), each file's SHA-256 taken from the disk, the empty
 * folders and the uninstaller's own files. Every step is journalled before it is taken;
 * nothing is written outside {app}. */
#include <windows.h>
#include <wincrypt.h>

#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "kelvane_payload.h"
#include "standard_private.h"

/* Files above this size report their progress on lines of their own. */
#define KV_LARGE_FILE (4u * 1024u * 1024u)
#define KV_HASH_CHUNK (1u << 20)

/* A version-1 record ends where setOutcome would begin. */
#define KV_PAYLOAD_V1_SIZE offsetof(KelvanePayloadApi, setOutcome)

/* Version 2 where the host offers it, else version 1: an older host still installs. */
static const KelvanePayloadApi *Api(void) {
    static const KelvanePayloadApi *api;
    static LONG asked;
    if (InterlockedCompareExchange(&asked, 1, 0) == 0) {
        KelvaneGetPayloadApi get =
            (KelvaneGetPayloadApi)(void (*)(void))GetProcAddress(GetModuleHandleW(NULL), KELVANE_PAYLOAD_EXPORT);
        const KelvanePayloadApi *found = get != NULL ? get(KELVANE_PAYLOAD_API_VERSION) : NULL;
        if (found == NULL && get != NULL) found = get(1);
        api = found != NULL && found->size >= KV_PAYLOAD_V1_SIZE ? found : NULL;
    }
    return api;
}

void KvSetOutcome(uint32_t outcome) {
    const KelvanePayloadApi *api = Api();
    if (api != NULL && api->size >= sizeof(KelvanePayloadApi) && api->setOutcome != NULL) api->setOutcome(outcome);
}

void KvTaskbarProgress(uint32_t state, uint64_t done, uint64_t total) {
    const KelvanePayloadApi *api = Api();
    if (api != NULL && api->setProgress != NULL) api->setProgress(state, done, total);
}

/* INVALID_FILE_ATTRIBUTES when nothing is there. */
static DWORD AttributesOf(const char *path) {
    wchar_t *wide = KvWideOf(path);
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    if (wide != NULL) {
        attributes = GetFileAttributesW(wide);
        HeapFree(GetProcessHeap(), 0, wide);
    }
    return attributes;
}

/* A relative path of plain parts: nothing of it may climb out of {app}. */
static int IsPlainRelative(const char *path) {
    const char *part = path;
    if (*path == '\0' || *path == '\\') return 0;
    while (*part != '\0') {
        const char *end = strchr(part, '\\');
        const size_t length = end != NULL ? (size_t)(end - part) : strlen(part);
        size_t i;
        if (length == 0 || part[length - 1] == '.' || part[length - 1] == ' ') return 0;
        for (i = 0; i < length; ++i) {
            if ((unsigned char)part[i] < 32 || strchr("<>\"|?*:/", part[i]) != NULL) return 0;
        }
        part += length + (end != NULL ? 1 : 0);
        if (end != NULL && *part == '\0') return 0;
    }
    return 1;
}

/* {app}\uninstall belongs to the uninstaller: uninstalling leaves what is there to it. */
static int IsUninstallerPlace(const char *relative) {
    const size_t length = strlen(KV_UNINSTALL_FOLDER_NAME);
    return _strnicmp(relative, KV_UNINSTALL_FOLDER_NAME, length) == 0 &&
           (relative[length] == '\0' || relative[length] == '\\');
}

static void KELVANE_CDECL CollectEntry(void *context, const char *relativePath, uint64_t size) {
    KvPayload *payload = (KvPayload *)context;
    const size_t length = strlen(relativePath);
    char *copy;
    size_t i;
    if (payload->failed) return;
    if (payload->count == payload->capacity) {
        const unsigned capacity = payload->capacity == 0 ? 64 : payload->capacity * 2;
        void *grown = payload->entries == NULL
                          ? HeapAlloc(GetProcessHeap(), 0, capacity * sizeof(KvPayloadEntry))
                          : HeapReAlloc(GetProcessHeap(), 0, payload->entries, capacity * sizeof(KvPayloadEntry));
        if (grown == NULL) {
            payload->failed = 1;
            return;
        }
        payload->entries = (KvPayloadEntry *)grown;
        payload->capacity = capacity;
    }
    copy = (char *)HeapAlloc(GetProcessHeap(), 0, length + 1);
    if (copy == NULL) {
        payload->failed = 1;
        return;
    }
    for (i = 0; i <= length; ++i) copy[i] = relativePath[i] == '/' ? '\\' : relativePath[i];
    payload->entries[payload->count].relative = copy;
    payload->entries[payload->count].size = size;
    ++payload->count;
    payload->bytes += size;
}

static int PayloadFolder(const KvRun *run, char *out, size_t outSize) {
    return KvJoin(out, outSize, KV_PRODUCT_PAYLOAD_ROOT, run->product.payload);
}

int KvListPayload(KvRun *run, KvPayload *payload) {
    const KelvanePayloadApi *api = Api();
    char folder[KV_PRODUCT_TEXT + 16];
    char path[KV_PRODUCT_PATH];
    unsigned i;
    memset(payload, 0, sizeof *payload);
    if (api == NULL) {
        KvPrintFailure(run, "This installer offers no payload extension: the standard module installs only from a "
                            "one-file installer made for its product",
                       0);
        return 0;
    }
    if (!PayloadFolder(run, folder, sizeof folder) || api->listEntries(folder, CollectEntry, payload) < 0) {
        KvPrintf(run, KV_COLOR_FAILURE, "The installer carries no folder %s: nothing to install", folder);
        return 0;
    }
    if (payload->failed) {
        KvPrintFailure(run, "Out of memory while listing the payload", ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    for (i = 0; i < payload->count; ++i) {
        if (IsUninstallerPlace(payload->entries[i].relative)) {
            KvPrintf(run, KV_COLOR_FAILURE, "The payload file %s cannot be installed: %s\\ is the uninstaller's folder",
                     payload->entries[i].relative, KV_UNINSTALL_FOLDER_NAME);
            return 0;
        }
        if (!IsPlainRelative(payload->entries[i].relative) ||
            !KvJoin(path, sizeof path, run->app, payload->entries[i].relative)) {
            KvPrintf(run, KV_COLOR_FAILURE, "The payload file %s cannot be installed into %s: bad or too long a path",
                     payload->entries[i].relative, run->app);
            return 0;
        }
    }
    return 1;
}

void KvFreePayload(KvPayload *payload) {
    unsigned i;
    for (i = 0; i < payload->count; ++i) HeapFree(GetProcessHeap(), 0, payload->entries[i].relative);
    if (payload->entries != NULL) HeapFree(GetProcessHeap(), 0, payload->entries);
    memset(payload, 0, sizeof *payload);
}

int KvCheckFreeSpace(KvRun *run, uint64_t bytes) {
    char probe[KV_PRODUCT_PATH + 2];
    char freeText[32];
    char neededText[32];
    ULARGE_INTEGER available;
    DWORD code = 0;
    memcpy(probe, run->app, sizeof run->app);
    for (;;) {
        wchar_t *wide;
        size_t length = strlen(probe);
        int asked = 0;
        if (probe[length - 1] != '\\') strcpy(probe + length, "\\"); /* the call wants a folder */
        wide = KvWideOf(probe);
        if (wide != NULL) {
            asked = GetDiskFreeSpaceExW(wide, &available, NULL, NULL);
            code = asked ? 0 : GetLastError();
            HeapFree(GetProcessHeap(), 0, wide);
        }
        probe[length] = '\0';
        if (asked) break;
        if (!KvParentFolder(probe)) {
            KvPrintFailure(run, "Cannot ask the free space for the target folder", code);
            KvPrintf(run, KV_COLOR_FAILURE, "(%s)", run->app);
            return 0;
        }
    }
    KvFormatMegabytes(freeText, sizeof freeText, available.QuadPart);
    KvFormatMegabytes(neededText, sizeof neededText, bytes);
    if (available.QuadPart < bytes) {
        KvPrintf(run, KV_COLOR_FAILURE, "Not enough free space for %s on the drive of %s: %s free, %s needed",
                 run->product.name, probe, freeText, neededText);
        return 0;
    }
    KvPrintf(run, KV_COLOR_NORMAL, "Free space: %s (%s needed)", freeText, neededText);
    return 1;
}

int KvMakeFolders(KvRun *run, const char *folder, KvFolderList *made) {
    char path[KV_PRODUCT_PATH];
    size_t ends[KV_MAX_FOLDER_CHAIN];
    unsigned missing = 0;
    DWORD attributes;
    if (strlen(folder) >= sizeof path) {
        KvPrintf(run, KV_COLOR_FAILURE, "Cannot make the folder %s: its path is too long", folder);
        return 0;
    }
    strcpy(path, folder);
    /* Up to the nearest folder that exists; each missing one is made from the top down. */
    while ((attributes = AttributesOf(path)) == INVALID_FILE_ATTRIBUTES) {
        if (missing == KV_MAX_FOLDER_CHAIN) {
            KvPrintf(run, KV_COLOR_FAILURE, "Cannot make the folder %s: too many folders above it are missing", folder);
            return 0;
        }
        ends[missing++] = strlen(path);
        if (!KvParentFolder(path)) break;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        KvPrintf(run, KV_COLOR_FAILURE, "Cannot make the folder %s: the file %s stands in its way", folder, path);
        return 0;
    }
    strcpy(path, folder);
    while (missing > 0) {
        wchar_t *wide;
        DWORD code = 0;
        path[ends[--missing]] = '\0';
        if (made == NULL && !KvJournalAppendTexts(run, KV_J_FOLDER, path, (const char *)NULL)) return 0;
        wide = KvWideOf(path);
        if (wide == NULL) code = ERROR_FILENAME_EXCED_RANGE;
        else if (!CreateDirectoryW(wide, NULL)) code = GetLastError();
        if (wide != NULL) HeapFree(GetProcessHeap(), 0, wide);
        if (code != 0) {
            KvPrintFailure(run, "Cannot make a folder", code);
            KvPrintf(run, KV_COLOR_FAILURE, "(%s)", path);
            return 0;
        }
        if (made != NULL && !KvFolderListAdd(made, path)) {
            KvPrintFailure(run, "Out of memory", ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        path[ends[missing]] = folder[ends[missing]];
    }
    return 1;
}

/* Writes one file to a destination that does not exist; 1, or 0 after a printed failure. */
typedef int (*FileWriter)(KvRun *run, void *context, const wchar_t *destination, const char *path);

typedef struct Installing {
    KvRun *run;
    HCRYPTPROV provider;
    unsigned backups;
    uint64_t bytesDone;  /* of the files before the current one */
    uint64_t bytesTotal;
    const char *name;    /* the current file, for its progress lines */
    uint64_t size;
    unsigned quarter;
} Installing;

static void HexOf(const BYTE *bytes, size_t count, char *out) {
    static const char kDigits[] = "0123456789abcdef";
    size_t i;
    for (i = 0; i < count; ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 15];
    }
    out[2 * count] = '\0';
}

/* The file as it now is on the disk, read back: the journal's hash is what uninstall and
 * anyone after it can check against. */
static int HashFile(Installing *installing, const wchar_t *wide, char *hex, DWORD *code) {
    HCRYPTHASH hash = 0;
    HANDLE file;
    BYTE *buffer;
    BYTE digest[32];
    DWORD digestSize = sizeof digest;
    DWORD got = 0;
    int ok = 0;
    *code = 0;
    if (installing->provider == 0 &&
        !CryptAcquireContextW(&installing->provider, NULL, NULL, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
        *code = GetLastError();
        installing->provider = 0;
        return 0;
    }
    file = CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    buffer = (BYTE *)HeapAlloc(GetProcessHeap(), 0, KV_HASH_CHUNK);
    if (file != INVALID_HANDLE_VALUE && buffer != NULL &&
        CryptCreateHash(installing->provider, CALG_SHA_256, 0, 0, &hash)) {
        while ((ok = ReadFile(file, buffer, KV_HASH_CHUNK, &got, NULL)) != 0 && got > 0) {
            if (!CryptHashData(hash, buffer, got, 0)) {
                ok = 0;
                break;
            }
        }
        ok = ok && CryptGetHashParam(hash, HP_HASHVAL, digest, &digestSize, 0) && digestSize == sizeof digest;
    }
    if (!ok) *code = GetLastError() != 0 ? GetLastError() : ERROR_READ_FAULT;
    if (hash != 0) CryptDestroyHash(hash);
    if (buffer != NULL) HeapFree(GetProcessHeap(), 0, buffer);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (ok) HexOf(digest, sizeof digest, hex);
    return ok;
}

/* Whether a program holds path so that it cannot be moved: opened as the move would open it. */
static int HeldOpen(const char *path) {
    wchar_t *wide = KvWideOf(path);
    HANDLE file;
    DWORD code = 0;
    if (wide == NULL) return 0;
    file = CreateFileW(wide, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) code = GetLastError();
    else CloseHandle(file);
    HeapFree(GetProcessHeap(), 0, wide);
    return code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED;
}

/* What stands at path is moved into {app}\uninstall\backup\<n>, journalled first. 1 when
 * moved; -1, printing nothing, when a program holds it; 0 after a printed failure. */
static int KeepAside(Installing *installing, const char *path) {
    KvRun *run = installing->run;
    char folder[KV_PRODUCT_PATH];
    char backup[KV_PRODUCT_PATH];
    char number[16];
    wchar_t *from = NULL;
    wchar_t *to = NULL;
    DWORD code = 0;
    /* Asked before any backup record: one naming a file that never came would free its name
     * for the next file kept aside, and undo could put that one back here. */
    if (HeldOpen(path)) return -1;
    if (!KvJoin(folder, sizeof folder, run->uninstallFolder, KV_BACKUP_FOLDER_NAME) ||
        !KvMakeFolders(run, folder, NULL)) {
        return 0;
    }
    do {
        snprintf(number, sizeof number, "%u", ++installing->backups);
        if (!KvJoin(backup, sizeof backup, folder, number)) return 0;
    } while (AttributesOf(backup) != INVALID_FILE_ATTRIBUTES);
    if (!KvJournalAppendTexts(run, KV_J_BACKUP, path, backup, (const char *)NULL)) return 0;
    from = KvWideOf(path);
    to = KvWideOf(backup);
    if (from == NULL || to == NULL) code = ERROR_FILENAME_EXCED_RANGE;
    else if (!MoveFileExW(from, to, MOVEFILE_WRITE_THROUGH)) code = GetLastError();
    if (from != NULL) HeapFree(GetProcessHeap(), 0, from);
    if (to != NULL) HeapFree(GetProcessHeap(), 0, to);
    if (code != 0) {
        KvPrintFailure(run, "Cannot move aside the file that stands where a new one goes", code);
        KvPrintf(run, KV_COLOR_FAILURE, "(%s)", path);
        return 0;
    }
    KvPrintf(run, KV_COLOR_NORMAL, "Kept aside until the end: %s", path);
    return 1;
}

/* The new file of a path a program holds: written beside it as "<name>.kvnew" (journalled
 * first, so undo deletes it), then moved over it by the system at the restart. The journal
 * keeps no file record for path: undoing one would delete the old file still in use. */
static int Stage(Installing *installing, const char *path, FileWriter write, void *context) {
    KvRun *run = installing->run;
    char staged[KV_PRODUCT_PATH];
    char hex[65];
    wchar_t *from;
    wchar_t *to;
    DWORD code = 0;
    unsigned n = 1;
    int ok;
    int fits = snprintf(staged, sizeof staged, "%s.kvnew", path) < (int)sizeof staged;
    while (fits && AttributesOf(staged) != INVALID_FILE_ATTRIBUTES) {
        fits = ++n < 1000 && snprintf(staged, sizeof staged, "%s.%u.kvnew", path, n) < (int)sizeof staged;
    }
    if (!fits) {
        KvPrintf(run, KV_COLOR_FAILURE, "Cannot install %s: it is in use, and no name beside it is free", path);
        return 0;
    }
    if (!KvJournalAppendTexts(run, KV_J_STAGED, path, staged, (const char *)NULL)) return 0;
    KvPrintf(run, KV_COLOR_WARNING, "In use: %s (the new file waits beside it for a restart)", path);
    from = KvWideOf(staged);
    to = KvWideOf(path);
    ok = from != NULL && to != NULL && write(run, context, from, staged);
    if (ok && !HashFile(installing, from, hex, &code)) {
        KvPrintFailure(run, "Cannot read back the installed file", code);
        KvPrintf(run, KV_COLOR_FAILURE, "(%s)", staged);
        ok = 0;
    }
    ok = ok && KvJournalAppendTexts(run, KV_J_HASH, path, hex, (const char *)NULL);
    if (ok && !MoveFileExW(from, to, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING)) {
        KvPrintFailure(run, "Cannot schedule the replacement of a file in use for the restart", GetLastError());
        KvPrintf(run, KV_COLOR_FAILURE, "(%s)", path);
        ok = 0;
    }
    if (from != NULL) HeapFree(GetProcessHeap(), 0, from);
    if (to != NULL) HeapFree(GetProcessHeap(), 0, to);
    if (ok) KvNeedRestart(run, path);
    return ok;
}

static int PlaceFile(Installing *installing, const char *path, uint64_t size, FileWriter write, void *context) {
    KvRun *run = installing->run;
    char parent[KV_PRODUCT_PATH];
    char sizeText[24];
    char hex[65];
    wchar_t *wide;
    DWORD attributes;
    DWORD code;
    int ok;
    strcpy(parent, path);
    if (!KvParentFolder(parent) || !KvMakeFolders(run, parent, NULL)) return 0;
    attributes = AttributesOf(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        KvPrintf(run, KV_COLOR_FAILURE, "Cannot install %s: a folder stands where the file goes", path);
        return 0;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        const int aside = KeepAside(installing, path);
        if (aside < 0) return Stage(installing, path, write, context);
        if (aside == 0) return 0;
    }
    KvFormatUnsigned(sizeText, sizeof sizeText, size);
    if (!KvJournalAppendTexts(run, KV_J_FILE, path, sizeText, (const char *)NULL)) return 0;
    wide = KvWideOf(path);
    if (wide == NULL) {
        KvPrintf(run, KV_COLOR_FAILURE, "Cannot install %s: the path is too long", path);
        return 0;
    }
    ok = write(run, context, wide, path);
    if (ok && !HashFile(installing, wide, hex, &code)) {
        KvPrintFailure(run, "Cannot read back the installed file", code);
        KvPrintf(run, KV_COLOR_FAILURE, "(%s)", path);
        ok = 0;
    }
    HeapFree(GetProcessHeap(), 0, wide);
    return ok && KvJournalAppendTexts(run, KV_J_HASH, path, hex, (const char *)NULL);
}

static KelvaneBool KELVANE_CDECL ExtractProgress(void *context, uint64_t done, uint64_t total) {
    Installing *installing = (Installing *)context;
    if (installing->size > KV_LARGE_FILE && total > 0) {
        const unsigned quarter = (unsigned)(done * 4 / total);
        if (quarter > installing->quarter && quarter < 4) {
            installing->quarter = quarter;
            KvPrintf(installing->run, KV_COLOR_PROGRESS, "       %s: %u %%", installing->name, quarter * 25);
        }
    }
    KvTaskbarProgress(KELVANE_PROGRESS_NORMAL, installing->bytesDone + done, installing->bytesTotal);
    return 1;
}

typedef struct Extracting {
    Installing *installing;
    const char *archivePath;
} Extracting;

static int ExtractWriter(KvRun *run, void *context, const wchar_t *destination, const char *path) {
    Extracting *extracting = (Extracting *)context;
    char failure[512];
    const KelvanePayloadApi *api = Api();
    failure[0] = '\0';
    if ((api->extract(extracting->archivePath, destination, ExtractProgress, extracting->installing, failure,
                      (uint32_t)sizeof failure) & 0xFFu) != 0) {
        return 1;
    }
    failure[sizeof failure - 1] = '\0';
    KvPrintf(run, KV_COLOR_FAILURE, "Cannot extract %s: %s", path, failure);
    return 0;
}

/* The files the payload replaces, asked about once before the first is touched: the
 * Restart Manager also names programs that run them, which a move alone would not notice. */
static int CheckReplacedFiles(KvRun *run, const KvPayload *payload) {
    KvFolderList existing;
    const char **paths = NULL;
    char path[KV_PRODUCT_PATH];
    unsigned i;
    int result = KV_INUSE_FREE;
    if (KvFilesInUseChecked(run)) return 1; /* asked once a run */
    memset(&existing, 0, sizeof existing);
    for (i = 0; i < payload->count; ++i) {
        DWORD attributes;
        if (!KvJoin(path, sizeof path, run->app, payload->entries[i].relative)) continue;
        attributes = AttributesOf(path);
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        if (!KvFolderListAdd(&existing, path)) break; /* out of memory: the moves still find what is held */
    }
    if (existing.count > 0) {
        paths = (const char **)HeapAlloc(GetProcessHeap(), 0, existing.count * sizeof(const char *));
    }
    if (paths != NULL) {
        for (i = 0; i < existing.count; ++i) paths[i] = existing.paths[i];
        result = KvCheckFilesInUse(run, paths, existing.count);
        HeapFree(GetProcessHeap(), 0, (void *)paths);
    }
    KvFolderListFree(&existing);
    if (result == KV_INUSE_CANCEL) {
        KvPrintFailure(run, "Stopped: programs hold files that the installation replaces", 0);
        return 0;
    }
    return 1;
}

int KvInstallPayload(KvRun *run, const KvPayload *payload) {
    Installing installing;
    char folder[KV_PRODUCT_TEXT + 16];
    char archivePath[KV_PRODUCT_PATH];
    char path[KV_PRODUCT_PATH];
    unsigned i;
    int ok = 1;
    memset(&installing, 0, sizeof installing);
    installing.run = run;
    installing.bytesTotal = payload->bytes;
    PayloadFolder(run, folder, sizeof folder);
    if (!CheckReplacedFiles(run, payload)) return 0;
    for (i = 0; ok && i < payload->count; ++i) {
        const KvPayloadEntry *entry = &payload->entries[i];
        Extracting extracting;
        if (!KvJoin(archivePath, sizeof archivePath, folder, entry->relative) ||
            !KvJoin(path, sizeof path, run->app, entry->relative)) {
            ok = 0;
            break;
        }
        KvPrintf(run, KV_COLOR_PROGRESS, "[%u/%u] %s", i + 1, payload->count, entry->relative);
        installing.name = entry->relative;
        installing.size = entry->size;
        installing.quarter = 0;
        extracting.installing = &installing;
        extracting.archivePath = archivePath;
        ok = PlaceFile(&installing, path, entry->size, ExtractWriter, &extracting);
        installing.bytesDone += entry->size;
        KvTaskbarProgress(KELVANE_PROGRESS_NORMAL, installing.bytesDone, installing.bytesTotal);
    }
    if (installing.provider != 0) CryptReleaseContext(installing.provider, 0);
    return ok;
}

int KvInstallEmptyFolders(KvRun *run) {
    char listPath[KV_PRODUCT_PATH];
    char key[24];
    char path[KV_PRODUCT_PATH];
    KeyValueList list;
    unsigned n;
    if (!KvJoin(listPath, sizeof listPath, run->host->programDirectory, KV_PRODUCT_FOLDERS_FILE_NAME)) return 1;
    list = run->host->loadKeyValues(listPath);
    if (list == NULL) return 1; /* none: the packer writes the file even then, with no line */
    for (n = 1;; ++n) {
        const KeyValueNode *node;
        const char *relative = NULL;
        snprintf(key, sizeof key, "FOLDER%u", n);
        for (node = list; node != NULL && relative == NULL; node = node->next) {
            if (strcmp(node->entry->key, key) == 0) relative = node->entry->value;
        }
        if (relative == NULL) break;
        if (!IsPlainRelative(relative) || IsUninstallerPlace(relative) ||
            !KvJoin(path, sizeof path, run->app, relative)) {
            KvPrintf(run, KV_COLOR_FAILURE, "%s: bad folder %s=%s", KV_PRODUCT_FOLDERS_FILE_NAME, key, relative);
            return 0;
        }
        if (!KvMakeFolders(run, path, NULL)) return 0;
    }
    return 1;
}

static int CopyWriter(KvRun *run, void *context, const wchar_t *destination, const char *path) {
    if (CopyFileW((const wchar_t *)context, destination, TRUE)) return 1;
    KvPrintFailure(run, "Cannot copy the uninstaller's file", GetLastError());
    KvPrintf(run, KV_COLOR_FAILURE, "(%s)", path);
    return 0;
}

/* The full path of this module itself: the copy in programDirectory is the one loaded. */
static int OwnPath(wchar_t *out, DWORD count) {
    HMODULE self = NULL;
    DWORD length;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            (LPCWSTR)(void *)KvInstallUninstaller, &self)) {
        return 0;
    }
    length = GetModuleFileNameW(self, out, count);
    return length > 0 && length < count;
}

int KvInstallUninstaller(KvRun *run) {
    static const char *const kNames[3] = {KV_PRODUCT_UNINSTALLER_NAME, KV_PRODUCT_MODULE_NAME, KV_PRODUCT_FILE_NAME};
    Installing installing;
    wchar_t *source = (wchar_t *)HeapAlloc(GetProcessHeap(), 0, KV_WPATH * sizeof(wchar_t));
    char path[KV_PRODUCT_PATH];
    unsigned i;
    int ok = source != NULL;
    memset(&installing, 0, sizeof installing);
    installing.run = run;
    for (i = 0; ok && i < 3; ++i) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        int found;
        if (i == 1) {
            found = OwnPath(source, KV_WPATH);
        } else {
            /* programDirectory is the host's own admin-only folder, in the ANSI code page. */
            const int length = MultiByteToWideChar(CP_ACP, 0, run->host->programDirectory, -1, source, KV_WPATH - 64);
            found = length > 0;
            if (found) found = MultiByteToWideChar(CP_UTF8, 0, kNames[i], -1, source + length - 1, 64) > 0;
        }
        if (!found || !GetFileAttributesExW(source, GetFileExInfoStandard, &data)) {
            KvPrintf(run, KV_COLOR_FAILURE, "The installer lacks %s: the uninstaller cannot be installed", kNames[i]);
            ok = 0;
            break;
        }
        if (!KvJoin(path, sizeof path, run->uninstallFolder, kNames[i])) {
            ok = 0;
            break;
        }
        KvPrintf(run, KV_COLOR_PROGRESS, "Copying %s", path);
        ok = PlaceFile(&installing, path, ((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow, CopyWriter,
                       source);
    }
    if (installing.provider != 0) CryptReleaseContext(installing.provider, 0);
    if (source != NULL) HeapFree(GetProcessHeap(), 0, source);
    return ok;
}

void KvDeleteBackups(KvRun *run) {
    char folder[KV_PRODUCT_PATH];
    char pattern[KV_PRODUCT_PATH];
    char name[MAX_PATH * 3];
    char path[KV_PRODUCT_PATH];
    WIN32_FIND_DATAW found;
    wchar_t *wide;
    HANDLE search;
    DWORD code;
    int missing;
    if (!KvJoin(folder, sizeof folder, run->uninstallFolder, KV_BACKUP_FOLDER_NAME) ||
        !KvJoin(pattern, sizeof pattern, folder, "*") || (wide = KvWideOf(pattern)) == NULL) {
        return;
    }
    search = FindFirstFileW(wide, &found);
    HeapFree(GetProcessHeap(), 0, wide);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (KvToUtf8(found.cFileName, name, sizeof name) && KvJoin(path, sizeof path, folder, name) &&
            !KvDeleteFileUtf8(path, &code)) {
            KvPrintf(run, KV_COLOR_WARNING, "The replaced file %s could not be deleted (error %lu)", path,
                     (unsigned long)code);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    KvRemoveFolderUtf8(folder, &code, &missing);
}
