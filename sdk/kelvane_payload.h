/* The payload extension of the host, for install modules run by a one-file installer:
 * the files under the archive's top-level folder "payload" are not unpacked with the
 * module; the module extracts them straight to where they belong, each file checked
 * as it is written. Version 2 adds setOutcome, for every module, one-file or not.
 * Plain C, no Windows header required.
 *
 * Finding it: the host program exports KELVANE_PAYLOAD_EXPORT.
 *
 *   KelvaneGetPayloadApi get = (KelvaneGetPayloadApi)
 *       GetProcAddress(GetModuleHandleA(NULL), KELVANE_PAYLOAD_EXPORT);
 *   const KelvanePayloadApi *api = get ? get(KELVANE_PAYLOAD_API_VERSION) : NULL;
 *
 * A null api means an older host or a version it does not offer: a module that wants
 * setOutcome asks for 2 and may fall back to 1 for the rest. A host answers get(1) with
 * a version-1 record (its size ends before setOutcome). In an installer that
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
#define KELVANE_PAYLOAD_API_VERSION 2

/* Each entry listed: its path relative to the folder asked for, and its size. */
typedef void(KELVANE_CDECL *KelvanePayloadEach)(void *context, const char *relativePath, uint64_t size);
/* Progress of an extraction, called on the calling thread: bytes written of total.
 * Return 0 to stop it (the extraction then fails as stopped). */
typedef KelvaneBool(KELVANE_CDECL *KelvanePayloadProgress)(void *context, uint64_t done, uint64_t total);

/* The taskbar button's progress states for setProgress. */
#define KELVANE_PROGRESS_NONE 0
#define KELVANE_PROGRESS_NORMAL 1
#define KELVANE_PROGRESS_ERROR 2

/* Outcomes for setOutcome: the unattended exit codes deployment tools know. */
#define KELVANE_OUTCOME_RESTART_NEEDED 3010 /* set before returning success */
#define KELVANE_OUTCOME_OTHER_VERSION 1638  /* set before returning failure */

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

    /* Version 2. What the run's result means beyond success or failure, set before the
     * entry returns (the last call counts; 0 clears it):
     * KELVANE_OUTCOME_RESTART_NEEDED with success: something waits for the restart.
     *   Unattended runs and removals end with 3010 (with /forcerestart the host restarts
     *   the computer and ends with 1641); an interactive installation keeps its exit code
     *   and its result says "Installation finished. Restart the computer to complete it."
     * KELVANE_OUTCOME_OTHER_VERSION with failure: refused because another version of the
     *   product is installed; unattended runs end with 1638 instead of 1603.
     * An outcome that does not go with the entry's result is ignored. */
    void(KELVANE_CDECL *setOutcome)(uint32_t outcome);
} KelvanePayloadApi;

typedef const KelvanePayloadApi *(KELVANE_CDECL *KelvaneGetPayloadApi)(uint32_t version);

/* A version-1 record ends where setOutcome begins; both layouts are fixed. */
#if defined(_WIN32)
#if defined(__cplusplus)
#define KELVANE_PAYLOAD_CHECK(cond, name) static_assert(cond, #name)
#else
#define KELVANE_PAYLOAD_CHECK(cond, name) typedef char kelvane_payload_##name[(cond) ? 1 : -1]
#endif
#if defined(_WIN64)
KELVANE_PAYLOAD_CHECK(offsetof(KelvanePayloadApi, setOutcome) == 32 && sizeof(KelvanePayloadApi) == 40, layout);
#else
KELVANE_PAYLOAD_CHECK(offsetof(KelvanePayloadApi, setOutcome) == 20 && sizeof(KelvanePayloadApi) == 24, layout);
#endif
#undef KELVANE_PAYLOAD_CHECK
#endif

#ifdef __cplusplus
}
#endif

#endif
