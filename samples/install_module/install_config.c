/* Checks of install.cfg for the sample install module. Every value is validated
 * here, so the installing code never sees a path it would have to distrust.
 * Portable C: lookups go through the host's services only; nothing is allocated. */
#include "install_config.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

static void SetError(char *error, size_t errorSize, const char *text) {
    if (error == NULL || errorSize == 0) return;
    /* snprintf cuts an over-long reason and still terminates it. */
    snprintf(error, errorSize, "%s", text);
}

/* Returns 0 so that a check can fail in one statement. */
static int Fail(char *error, size_t errorSize, const char *format, ...) {
    va_list arguments;
    if (error == NULL || errorSize == 0) return 0;
    va_start(arguments, format);
    vsnprintf(error, errorSize, format, arguments);
    va_end(arguments);
    error[errorSize - 1] = '\0'; /* an older runtime's vsnprintf leaves a cut text open */
    return 0;
}

static int IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

static char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c; }

static int EqualIgnoringCase(const char *a, const char *b) {
    while (*a != '\0' && UpperAscii(*a) == UpperAscii(*b)) {
        ++a;
        ++b;
    }
    return UpperAscii(*a) == UpperAscii(*b);
}

/* Characters that no Win32 file or folder name may hold. */
static int IsForbiddenInName(unsigned char c) {
    return c < 32 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*' || c == '/' ||
           c == ':' || c == '\\';
}

/* CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices, with or without an
 * extension: a "copy" to one of them would report success and store nothing. */
static int IsDeviceName(const char *name) {
    static const char *const devices[] = {"CON", "PRN", "AUX", "NUL"};
    char base[5];
    size_t length = 0;
    size_t i;
    while (name[length] != '\0' && name[length] != '.' && length < 4) {
        base[length] = UpperAscii(name[length]);
        ++length;
    }
    if (name[length] != '\0' && name[length] != '.') return 0;
    base[length] = '\0';
    for (i = 0; i < sizeof devices / sizeof devices[0]; ++i) {
        if (strcmp(base, devices[i]) == 0) return 1;
    }
    return length == 4 && (strncmp(base, "COM", 3) == 0 || strncmp(base, "LPT", 3) == 0) && base[3] >= '1' &&
           base[3] <= '9';
}

/* One path component: not empty, no forbidden byte, not "." or "..", not ending
 * in a dot or a blank (Win32 would silently drop those). */
static int IsPlainName(const char *name, size_t length) {
    size_t i;
    if (length == 0) return 0;
    if ((length == 1 && name[0] == '.') || (length == 2 && name[0] == '.' && name[1] == '.')) return 0;
    if (name[length - 1] == '.' || name[length - 1] == ' ') return 0;
    for (i = 0; i < length; ++i) {
        if (IsForbiddenInName((unsigned char)name[i])) return 0;
    }
    return 1;
}

/* "X:\a\b" or "\\server\share\a": absolute, components plain. Returns the
 * length without trailing backslashes (a drive root keeps its backslash), or 0. */
static size_t CheckTarget(const char *target) {
    size_t length = strlen(target);
    size_t start;
    size_t components = 0;
    int unc = 0;
    if (length >= 3 && IsAsciiLetter(target[0]) && target[1] == ':' && target[2] == '\\') {
        start = 3;
    } else if (length >= 3 && target[0] == '\\' && target[1] == '\\') {
        start = 2;
        unc = 1;
    } else {
        return 0;
    }
    while (length > start && target[length - 1] == '\\') --length;
    while (start < length) {
        const char *end = (const char *)memchr(target + start, '\\', length - start);
        const size_t stop = end == NULL ? length : (size_t)(end - target);
        if (!IsPlainName(target + start, stop - start)) return 0;
        ++components;
        start = stop + 1;
    }
    if (unc && components < 2) return 0; /* a server alone is no folder */
    return length;
}

/* target as config->target holds it (out: SAMPLE_PATH_SIZE bytes), or 0 when it is
 * no absolute plain folder or leaves no room for "\x" below it. */
static int NormaliseTarget(const char *target, char *out) {
    const size_t length = CheckTarget(target);
    if (length == 0 || length + 2 > SAMPLE_PATH_SIZE - 1) return 0;
    memcpy(out, target, length);
    out[length] = '\0';
    return 1;
}

/* Whether target\name stays within SAMPLE_PATH_SIZE - 1 characters. */
static int FitsBelow(const char *target, const char *name) {
    char joined[SAMPLE_PATH_SIZE];
    return SampleJoinPath(joined, sizeof joined, target, name);
}

/* Decimal digits only, at most limit. Returns 1 with the value converted by the
 * host's getIntValue, so the module and the host agree on every accepted text. */
static int ReadNumber(const InstallHostInterface *host, const KeyValueNode *list, const char *key, uint32_t limit,
                      uint32_t *value) {
    const char *text = host->getValue(list, key, 0);
    size_t length = strlen(text);
    size_t i;
    char limitText[16];
    *value = 0;
    if (length == 0) return 1; /* absent or empty: the default, 0 */
    for (i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return 0;
    }
    while (length > 1 && *text == '0') { /* leading zeros change nothing */
        ++text;
        --length;
    }
    snprintf(limitText, sizeof limitText, "%lu", (unsigned long)limit);
    if (length > strlen(limitText) || (length == strlen(limitText) && strcmp(text, limitText) > 0)) return 0;
    *value = (uint32_t)host->getIntValue(list, key);
    return 1;
}

static int ReadFiles(const InstallHostInterface *host, const KeyValueNode *list, SampleConfig *config, char *error,
                     size_t errorSize) {
    char key[16];
    char message[512];
    unsigned n;
    unsigned i;
    for (n = 1; n <= SAMPLE_MAX_FILES + 1; ++n) {
        const char *name;
        snprintf(key, sizeof key, "FILE%u", n);
        name = host->getValue(list, key, 0);
        if (name[0] == '\0') break;
        if (n > SAMPLE_MAX_FILES) {
            snprintf(message, sizeof message, "install.cfg: too many payload files (at most FILE%u)",
                     (unsigned)SAMPLE_MAX_FILES);
            SetError(error, errorSize, message);
            return 0;
        }
        if (!IsPlainName(name, strlen(name)) || IsDeviceName(name) ||
            EqualIgnoringCase(name, SAMPLE_UNINSTALL_LIST_NAME)) {
            snprintf(message, sizeof message, "install.cfg: bad value for %s (\"%s\"): not a plain file name", key,
                     name);
            SetError(error, errorSize, message);
            return 0;
        }
        if (!FitsBelow(config->target, name)) {
            snprintf(message, sizeof message, "install.cfg: bad value for %s: TARGET\\%s is longer than %u characters",
                     key, name, (unsigned)(SAMPLE_PATH_SIZE - 1));
            SetError(error, errorSize, message);
            return 0;
        }
        for (i = 0; i < config->fileCount; ++i) {
            if (EqualIgnoringCase(config->files[i], name)) {
                snprintf(message, sizeof message, "install.cfg: bad value for %s (\"%s\"): same file as FILE%u", key,
                         name, i + 1);
                SetError(error, errorSize, message);
                return 0;
            }
        }
        /* getValue gives at most 255 characters, so the copy always fits. */
        snprintf(config->files[config->fileCount], SAMPLE_NAME_SIZE, "%s", name);
        ++config->fileCount;
    }
    if (config->fileCount == 0) {
        SetError(error, errorSize, "install.cfg: no payload file (FILE1 is missing or empty)");
        return 0;
    }
    /* A gap would silently drop every later file. */
    snprintf(key, sizeof key, "FILE%u", n + 1);
    if (n <= SAMPLE_MAX_FILES && host->getValue(list, key, 0)[0] != '\0') {
        snprintf(message, sizeof message, "install.cfg: FILE%u is missing but %s is given", n, key);
        SetError(error, errorSize, message);
        return 0;
    }
    return 1;
}

int SampleParseConfig(const InstallHostInterface *host, const KeyValueNode *list, SampleConfig *config, char *error,
                      size_t errorSize) {
    char message[512];
    const char *target;
    SetError(error, errorSize, "");
    memset(config, 0, sizeof *config);
    if (host == NULL || host->getValue == NULL || host->getIntValue == NULL) {
        SetError(error, errorSize, "the host offers no key=value lookups");
        return 0;
    }
    target = host->getValue(list, "TARGET", 0);
    if (target[0] == '\0') {
        SetError(error, errorSize, "install.cfg: TARGET is missing or empty");
        return 0;
    }
    if (!NormaliseTarget(target, config->target)) {
        snprintf(message, sizeof message,
                 "install.cfg: bad value for TARGET (\"%s\"): not an absolute folder such as C:\\Program", target);
        SetError(error, errorSize, message);
        return 0;
    }

    if (!ReadNumber(host, list, "REQUIRED_MB", 2147483647u, &config->requiredMegabytes)) {
        snprintf(message, sizeof message,
                 "install.cfg: bad value for REQUIRED_MB (\"%s\"): megabytes as digits, at most 2147483647",
                 host->getValue(list, "REQUIRED_MB", 0));
        SetError(error, errorSize, message);
        return 0;
    }
    if (!ReadNumber(host, list, "PAUSE_MS", SAMPLE_MAX_PAUSE_MS, &config->pauseMilliseconds)) {
        snprintf(message, sizeof message, "install.cfg: bad value for PAUSE_MS (\"%s\"): digits, at most %u",
                 host->getValue(list, "PAUSE_MS", 0), (unsigned)SAMPLE_MAX_PAUSE_MS);
        SetError(error, errorSize, message);
        return 0;
    }
    if (!ReadNumber(host, list, "ASK_TARGET", 1, &config->askTarget)) {
        snprintf(message, sizeof message, "install.cfg: bad value for ASK_TARGET (\"%s\"): 0 or 1",
                 host->getValue(list, "ASK_TARGET", 0));
        SetError(error, errorSize, message);
        return 0;
    }
    return ReadFiles(host, list, config, error, errorSize);
}

int SampleSetTarget(SampleConfig *config, const char *target, char *error, size_t errorSize) {
    char checked[SAMPLE_PATH_SIZE];
    unsigned i;
    SetError(error, errorSize, "");
    if (target == NULL || !NormaliseTarget(target, checked)) {
        return Fail(error, errorSize, "bad target folder (\"%s\"): not an absolute folder such as C:\\Program",
                    target == NULL ? "" : target);
    }
    /* The files were checked against the old target only. */
    for (i = 0; i < config->fileCount; ++i) {
        if (!FitsBelow(checked, config->files[i])) {
            return Fail(error, errorSize, "target folder too long: %s\\%s is longer than %u characters", checked,
                        config->files[i], (unsigned)(SAMPLE_PATH_SIZE - 1));
        }
    }
    memcpy(config->target, checked, sizeof checked);
    return 1;
}

int SampleJoinPath(char *out, size_t outSize, const char *directory, const char *name) {
    const size_t directoryLength = strlen(directory);
    const int needSeparator = directoryLength > 0 && directory[directoryLength - 1] != '\\';
    const size_t total = directoryLength + (needSeparator ? 1 : 0) + strlen(name);
    if (outSize == 0) return 0;
    if (total >= outSize) {
        out[0] = '\0';
        return 0;
    }
    memcpy(out, directory, directoryLength);
    if (needSeparator) out[directoryLength] = '\\';
    memcpy(out + directoryLength + (needSeparator ? 1 : 0), name, strlen(name) + 1);
    return 1;
}
