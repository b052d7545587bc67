/* The host's payload extension as an outside author uses it: looked up by name on the
 * host program, used when present, never required. */
#include "payload_source.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "kelvane_payload.h"

static const KelvanePayloadApi *Api(void) {
    static const KelvanePayloadApi *api;
    static int asked;
    if (!asked) {
        KelvaneGetPayloadApi get =
            (KelvaneGetPayloadApi)(void (*)(void))GetProcAddress(GetModuleHandleA(NULL), KELVANE_PAYLOAD_EXPORT);
        api = get != NULL ? get(KELVANE_PAYLOAD_API_VERSION) : NULL;
        asked = 1;
    }
    return api;
}

int SamplePayloadInArchive(void) {
    const KelvanePayloadApi *api = Api();
    return api != NULL && api->listEntries("payload", NULL, NULL) > 0;
}

typedef struct Lookup {
    const char *name;
    uint64_t size;
    int found;
} Lookup;

static void KELVANE_CDECL Match(void *context, const char *relativePath, uint64_t size) {
    Lookup *lookup = (Lookup *)context;
    if (lstrcmpiA(relativePath, lookup->name) == 0) {
        lookup->size = size;
        lookup->found = 1;
    }
}

int SamplePayloadSize(const char *name, uint64_t *size) {
    Lookup lookup = {name, 0, 0};
    const KelvanePayloadApi *api = Api();
    if (api == NULL) return 0;
    api->listEntries("payload", Match, &lookup);
    *size = lookup.size;
    return lookup.found;
}

int SamplePayloadExtract(const char *name, const char *destination, char *failure, size_t failureSize) {
    const KelvanePayloadApi *api = Api();
    char path[MAX_PATH + 16];
    wchar_t target[MAX_PATH];
    wchar_t fresh[MAX_PATH + 8];
    int replace;
    if (api == NULL) return 0;
    /* The sample's names are plain ASCII (install.cfg checks them): the same in UTF-8. */
    if (snprintf(path, sizeof path, "payload\\%s", name) >= (int)sizeof path ||
        MultiByteToWideChar(CP_ACP, 0, destination, -1, target, MAX_PATH) == 0) {
        snprintf(failure, failureSize, "the path of %s is too long", name);
        return 0;
    }
    /* The extension writes only new files: an existing one is replaced afterwards. */
    replace = GetFileAttributesW(target) != INVALID_FILE_ATTRIBUTES;
    if (_snwprintf(fresh, MAX_PATH + 8, L"%ls%ls", target, replace ? L".new" : L"") < 0) {
        snprintf(failure, failureSize, "the path of %s is too long", name);
        return 0;
    }
    fresh[MAX_PATH + 7] = L'\0';
    if (replace) DeleteFileW(fresh); /* left by an earlier run that broke off */
    if (!(api->extract(path, fresh, NULL, NULL, failure, (uint32_t)failureSize) & 0xFF)) return 0;
    if (replace && !MoveFileExW(fresh, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        snprintf(failure, failureSize, "cannot replace the file (error %lu)", (unsigned long)GetLastError());
        DeleteFileW(fresh);
        return 0;
    }
    return 1;
}

void SamplePayloadProgress(unsigned done, unsigned total, int failed) {
    const KelvanePayloadApi *api = Api();
    if (api != NULL) api->setProgress(failed ? KELVANE_PROGRESS_ERROR : KELVANE_PROGRESS_NORMAL, done, total);
}
