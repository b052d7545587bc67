/* The payload extension of the host, for install modules run by a one-file installer:
 * the files under the archive's top-level folder "payload" are not unpacked with the
 * module; the module extracts them straight to where they belong, each file checked
 * as it is written. Plain C, no Windows header required.
 *
 * Finding it: the host program exports KELVANE_PAYLOAD_EXPORT.
 *
 *   KelvaneGetPayloadApi get = (KelvaneGetPayloadApi)
 *       GetProcAddress(GetModuleHandleA(NULL), KELVANE_PAYLOAD_EXPORT);
 *   const KelvanePayloadApi *api = get ? get(KELVANE_PAYLOAD_API_VERSION) : NULL;
 *
 * A null api means an older host or a version it does not offer. In an installer that
 * carries no payload (not a one-file installer, or one without a "payload" folder),
 * listEntries("payload", ...) gives -1: copy from programDirectory as before.
 *
 * Names: archive paths are UTF-8 with '\' (or '/') between parts, relative to the
 * archive's root ("payload\\bin\\app.exe"); destinations are full paths in UTF-16.
 * Every function may be called from any thread, several at once. */
#ifndef KELVANE_PAYLOAD_H
#define KELVANE_PAYLOAD_H

#include <stddef.h>
#include <stdint.h>

#include "kelvane_install.h"

#ifdef __cplusplus
extern "C" {
#endif

#define KELVANE_PAYLOAD_EXPORT "kelvane_payload_api"
#define KELVANE_PAYLOAD_API_VERSION 1

/* Each entry listed: its path relative to the folder asked for, and its size. */
typedef void(KELVANE_CDECL *KelvanePayloadEach)(void *context, const char *relativePath, uint64_t size);
/* Progress of an extraction, called on the calling thread: bytes written of total.
 * Return 0 to stop it (the extraction then fails as stopped). */
typedef KelvaneBool(KELVANE_CDECL *KelvanePayloadProgress)(void *context, uint64_t done, uint64_t total);

/* The taskbar button's progress states for setProgress. */
#define KELVANE_PROGRESS_NONE 0
#define KELVANE_PROGRESS_NORMAL 1
#define KELVANE_PROGRESS_ERROR 2

typedef struct KelvanePayloadApi {
    uint32_t size;    /* of this record */
    uint32_t version; /* KELVANE_PAYLOAD_API_VERSION */

    /* Calls each for every file under folder (a folder of the archive; "" for all), in
     * archive order, and returns how many; -1 when the archive has nothing under it.
     * each may be null, to count. The strings given to each last until it returns. */
    int32_t(KELVANE_CDECL *listEntries)(const char *folder, KelvanePayloadEach each, void *context);

    /* Extracts path, a file or a folder of the archive, to destination: a file to the
     * file named destination, a folder's whole tree into the folder named destination,
     * sub-folders included. destination must not exist (it is made) and its parent
     * must; files are written on several threads, each one's size and SHA-256 checked
     * as it is written. On any failure everything this call made is deleted again and
     * it returns 0 with the reason in failure (failureSize bytes, UTF-8, cut with
     * "..." when longer); 1 on success. progress may be null. */
    KelvaneBool(KELVANE_CDECL *extract)(const char *path, const wchar_t *destination,
                                        KelvanePayloadProgress progress, void *context, char *failure,
                                        uint32_t failureSize);

    /* The installation's progress on the main window's taskbar button: state
     * KELVANE_PROGRESS_*, done of total (any unit). */
    void(KELVANE_CDECL *setProgress)(uint32_t state, uint64_t done, uint64_t total);
} KelvanePayloadApi;

typedef const KelvanePayloadApi *(KELVANE_CDECL *KelvaneGetPayloadApi)(uint32_t version);

#ifdef __cplusplus
}
#endif

#endif
