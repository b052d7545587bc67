/* The sample install module's configuration: install.cfg read through the host's
 * key=value services and checked completely before anything touches the disk.
 * Portable C: no Windows header, no file access of its own, no global state. */
#ifndef SAMPLE_INSTALL_CONFIG_H
#define SAMPLE_INSTALL_CONFIG_H

#include <stddef.h>
#include <stdint.h>

#include "kelvane_install.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SAMPLE_CONFIG_FILE_NAME "install.cfg"
#define SAMPLE_UNINSTALL_LIST_NAME "uninstall.lst"
#define SAMPLE_MAX_FILES 64
#define SAMPLE_PATH_SIZE 260 /* 259 characters and the NUL, as Win32 paths */
#define SAMPLE_NAME_SIZE 256
#define SAMPLE_MAX_PAUSE_MS 10000u

typedef struct SampleConfig {
    /* Absolute folder ("X:\..." or "\\server\share..."), without a trailing
     * backslash unless it is a drive root such as "C:\". */
    char target[SAMPLE_PATH_SIZE];
    /* Plain file names, distinct (ASCII case ignored), each one fitting in
     * target + "\" + name within 259 characters. */
    char files[SAMPLE_MAX_FILES][SAMPLE_NAME_SIZE];
    unsigned fileCount; /* 1 to SAMPLE_MAX_FILES */
    uint32_t requiredMegabytes; /* 0 to 2147483647 */
    uint32_t pauseMilliseconds; /* 0 to SAMPLE_MAX_PAUSE_MS */
    uint32_t askTarget; /* 0 or 1: ask for the target folder in interactive runs */
} SampleConfig;

/* Reads TARGET, REQUIRED_MB, PAUSE_MS, ASK_TARGET and FILE1, FILE2, ... (up to
 * the first missing number, at most SAMPLE_MAX_FILES) from list with host's
 * getValue and getIntValue. Returns 1 with config filled, or 0 with a one-line reason that
 * names the key in error (cut to errorSize - 1 characters, always NUL-terminated
 * when errorSize > 0). A null list reads as a file without any key.
 * Any thread; calls only the two lookup services. */
int SampleParseConfig(const InstallHostInterface *host, const KeyValueNode *list, SampleConfig *config, char *error,
                      size_t errorSize);

/* Replaces config->target with target (the user's answer) after the checks that
 * TARGET gets, including that every payload file of config fits below it. Returns 1,
 * or 0 with config unchanged and a one-line reason in error (cut as above). */
int SampleSetTarget(SampleConfig *config, const char *target, char *error, size_t errorSize);

/* out = directory, one backslash (unless directory already ends with one), name.
 * Returns 1, or 0 with out emptied when the result would not fit in outSize. */
int SampleJoinPath(char *out, size_t outSize, const char *directory, const char *name);

#ifdef __cplusplus
}
#endif

#endif
