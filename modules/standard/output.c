/* Output and texts of the standard module: UTF-8 lines to the host's console and log,
 * UTF-8/UTF-16, placeholders with the system's known folders, and path helpers. Never
 * cuts a path silently: what does not fit is refused. */
#include <windows.h>
#include <shlobj.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "standard_private.h"

/* The host's welcome text leaves its last line open: the module's first text starts a
 * line of its own. One run per process, so one flag. */
static volatile LONG g_welcomeLineOpen = 1;

int KvTakeOpenLine(void) { return InterlockedExchange(&g_welcomeLineOpen, 0) != 0; }

static void PrintText(const InstallHostInterface *host, uint32_t color, const char *utf8) {
    static const char kUnconvertible[] = "(a text that cannot be shown)";
    wchar_t *wide;
    char *ansi;
    int wideCount;
    int ansiSize;
    wideCount = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, NULL, 0);
    wide = wideCount > 0 ? (wchar_t *)HeapAlloc(GetProcessHeap(), 0, (size_t)wideCount * sizeof(wchar_t)) : NULL;
    ansi = NULL;
    if (wide != NULL && MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, wideCount) == wideCount) {
        BOOL usedDefault = FALSE;
        ansiSize = WideCharToMultiByte(CP_ACP, 0, wide, -1, NULL, 0, "?", &usedDefault);
        ansi = ansiSize > 0 ? (char *)HeapAlloc(GetProcessHeap(), 0, (size_t)ansiSize) : NULL;
        if (ansi != NULL && WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, ansiSize, "?", &usedDefault) == 0) {
            HeapFree(GetProcessHeap(), 0, ansi);
            ansi = NULL;
        }
    }
    host->setPrintColor(color);
    host->printText(ansi != NULL ? ansi : kUnconvertible, NULL, KvTakeOpenLine() ? 1 : 0, 1);
    host->setPrintColor(KV_COLOR_NORMAL);
    if (ansi != NULL) HeapFree(GetProcessHeap(), 0, ansi);
    if (wide != NULL) HeapFree(GetProcessHeap(), 0, wide);
}

void KvPrint(const KvRun *run, uint32_t color, const char *utf8) {
    if (run != NULL && !run->quiet && utf8 != NULL) PrintText(run->host, color, utf8);
}

/* A longer line is cut: it is only shown, never acted upon. */
void KvPrintf(const KvRun *run, uint32_t color, const char *format, ...) {
    char line[3 * KV_PRODUCT_PATH];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    line[sizeof line - 1] = '\0'; /* an older runtime leaves a cut text open */
    if (run != NULL && color == KV_COLOR_FAILURE) PrintText(run->host, color, line); /* even while quiet */
    else KvPrint(run, color, line);
}

void KvPrintFailuref(const KvRun *run, DWORD code, const char *format, ...) {
    char text[8192];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    text[sizeof text - 1] = '\0';
    KvPrintFailure(run, text, code);
}

void KvPrintFailure(const KvRun *run, const char *what, DWORD code) {
    wchar_t system[512];
    char text[512];
    char line[600];
    DWORD length;
    if (run == NULL) return;
    /* A failure is shown even while the run is quiet. */
    PrintText(run->host, KV_COLOR_FAILURE, what);
    if (code == 0) return;
    length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, code, 0, system,
                            (DWORD)(sizeof system / sizeof system[0]), NULL);
    if (length == 0 || !KvToUtf8(system, text, sizeof text)) strcpy(text, "unknown error");
    text[strcspn(text, "\r\n")] = '\0';
    snprintf(line, sizeof line, "Error %lu: %s", (unsigned long)code, text);
    line[sizeof line - 1] = '\0';
    PrintText(run->host, KV_COLOR_FAILURE, line);
}

int KvToWide(const char *utf8, wchar_t *out, size_t outCount) {
    int count;
    if (utf8 == NULL || out == NULL || outCount == 0 || outCount > 0x7FFFFFFF) return 0;
    count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, out, (int)outCount);
    if (count == 0) out[0] = L'\0';
    return count != 0;
}

int KvToUtf8(const wchar_t *wide, char *out, size_t outSize) {
    int count;
    if (wide == NULL || out == NULL || outSize == 0 || outSize > 0x7FFFFFFF) return 0;
    count = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, out, (int)outSize, NULL, NULL);
    if (count == 0) out[0] = '\0';
    return count != 0;
}

#define KNOWN_FOLDERS 9

/* The known folders, asked only when a text names them. */
typedef struct FolderCache {
    char paths[KNOWN_FOLDERS][KV_PRODUCT_PATH];
    int asked[KNOWN_FOLDERS];
} FolderCache;

static const char *const kFolderNames[KNOWN_FOLDERS] = {
    "ProgramFiles", "CommonStartMenu", "CommonDesktop", "CommonAppData", "Windows",
    "System",       "LocalAppData",    "UserStartMenu", "UserDesktop"};
/* ProgramFiles is the process's own: "Program Files (x86)" for a 32-bit module on 64-bit
 * Windows, where its files belong. The last three are the running user's: a per-user
 * product's (the core keeps them from machine products). */
static const int kFolderIds[KNOWN_FOLDERS] = {
    CSIDL_PROGRAM_FILES, CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_DESKTOPDIRECTORY,
    CSIDL_COMMON_APPDATA, CSIDL_WINDOWS, CSIDL_SYSTEM,
    CSIDL_LOCAL_APPDATA, CSIDL_PROGRAMS, CSIDL_DESKTOPDIRECTORY};

static const char *KnownFolder(void *context, const char *canonicalName) {
    FolderCache *cache = (FolderCache *)context;
    unsigned i;
    for (i = 0; i < KNOWN_FOLDERS; ++i) {
        wchar_t wide[MAX_PATH];
        if (strcmp(canonicalName, kFolderNames[i]) != 0) continue;
        if (!cache->asked[i]) {
            size_t length;
            cache->asked[i] = 1;
            cache->paths[i][0] = '\0';
            if (SHGetFolderPathW(NULL, kFolderIds[i], NULL, SHGFP_TYPE_CURRENT, wide) == S_OK &&
                KvToUtf8(wide, cache->paths[i], sizeof cache->paths[i])) {
                length = strlen(cache->paths[i]);
                while (length > 3 && cache->paths[i][length - 1] == '\\') cache->paths[i][--length] = '\0';
            }
        }
        return cache->paths[i][0] != '\0' ? cache->paths[i] : NULL;
    }
    return NULL;
}

int KvExpandText(const KvRun *run, const char *text, char *out, size_t outSize) {
    FolderCache *cache = (FolderCache *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(FolderCache));
    char problem[512];
    int ok;
    if (cache == NULL) {
        KvPrintFailure(run, "Out of memory", ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    ok = KvExpand(text, &run->product, run->app[0] != '\0' ? run->app : NULL, KnownFolder, cache, out, outSize,
                  problem, sizeof problem);
    HeapFree(GetProcessHeap(), 0, cache);
    if (!ok) {
        problem[sizeof problem - 1] = '\0';
        KvPrintf(run, KV_COLOR_FAILURE, "Cannot expand \"%s\": %s", text, problem);
    }
    return ok;
}

wchar_t *KvWideOf(const char *path) {
    wchar_t *wide = (wchar_t *)HeapAlloc(GetProcessHeap(), 0, KV_WPATH * sizeof(wchar_t));
    if (wide != NULL && !KvWidePath(path, wide, KV_WPATH)) {
        HeapFree(GetProcessHeap(), 0, wide);
        return NULL;
    }
    return wide;
}

int KvWidePath(const char *utf8, wchar_t *out, size_t outCount) {
    static const wchar_t kPlain[] = L"\\\\?\\";
    static const wchar_t kUnc[] = L"\\\\?\\UNC\\";
    const int unc = utf8[0] == '\\' && utf8[1] == '\\';
    const size_t prefix = unc ? 8 : 4;
    size_t i;
    if (!unc && !(((utf8[0] | 0x20) >= 'a' && (utf8[0] | 0x20) <= 'z') && utf8[1] == ':')) return 0;
    if (outCount <= prefix || !KvToWide(utf8 + (unc ? 2 : 0), out + prefix, outCount - prefix)) return 0;
    memcpy(out, unc ? kUnc : kPlain, prefix * sizeof(wchar_t));
    for (i = prefix; out[i] != L'\0'; ++i) {
        if (out[i] == L'/') out[i] = L'\\';
    }
    return 1;
}

int KvJoin(char *out, size_t outSize, const char *folder, const char *name) {
    const size_t folderLength = strlen(folder);
    const size_t nameLength = strlen(name);
    const int separator = folderLength > 0 && folder[folderLength - 1] != '\\';
    if (folderLength + (size_t)separator + nameLength >= outSize) return 0;
    memmove(out, folder, folderLength);
    if (separator) out[folderLength] = '\\';
    memcpy(out + folderLength + (size_t)separator, name, nameLength + 1);
    return 1;
}

/* Decimal digits of value; C runtimes disagree on printf's 64-bit conversions. */
void KvFormatUnsigned(char *out, size_t outSize, uint64_t value) {
    char digits[24];
    size_t count = 0;
    size_t i = 0;
    do {
        digits[count++] = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0 && i + 1 < outSize) out[i++] = digits[--count];
    if (outSize > 0) out[i] = '\0';
}

void KvFormatMegabytes(char *out, size_t outSize, uint64_t bytes) {
    char whole[24];
    const unsigned tenths = (unsigned)(((bytes & 0xFFFFFu) * 10u) >> 20);
    KvFormatUnsigned(whole, sizeof whole, bytes >> 20);
    snprintf(out, outSize, "%s.%u MB", whole, tenths);
    if (outSize > 0) out[outSize - 1] = '\0';
}

/* Where the part below a root begins: after "X:\" or after "\\server\share\". */
static size_t RootLength(const char *path) {
    const char *server;
    const char *share;
    if (path[0] != '\\') return path[0] != '\0' && path[1] == ':' ? 3 : 0;
    server = strchr(path + 2, '\\');
    share = server != NULL ? strchr(server + 1, '\\') : NULL;
    return share != NULL ? (size_t)(share - path) + 1 : strlen(path);
}

int KvParentFolder(char *path) {
    char *cut = strrchr(path, '\\');
    const size_t root = RootLength(path);
    if (cut == NULL || strlen(path) <= root) return 0;
    if ((size_t)(cut - path) + 1 <= root) {
        if (path[0] == '\\') return 0;
        path[root] = '\0'; /* "C:\a" -> "C:\" */
        return 1;
    }
    *cut = '\0';
    return 1;
}

int KvPathWithin(const char *path, const char *prefix) {
    const size_t length = strlen(prefix);
    size_t i;
    if (strlen(path) < length) return 0;
    for (i = 0; i < length; ++i) {
        char a = path[i];
        char b = prefix[i];
        if (a >= 'A' && a <= 'Z') a = (char)(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = (char)(b - 'A' + 'a');
        if (a != b) return 0;
    }
    return path[length] == '\0' || path[length] == '\\' || (length > 0 && prefix[length - 1] == '\\');
}

/* One part of a path: not empty, not "." or "..", no byte Win32 forbids in a name, not
 * ending in a dot or blank (Win32 would drop them, and the journal would name another). */
static int IsPlainPart(const char *part, size_t length) {
    size_t i;
    if (length == 0 || part[length - 1] == '.' || part[length - 1] == ' ') return 0;
    for (i = 0; i < length; ++i) {
        const unsigned char c = (unsigned char)part[i];
        if (c < 32 || strchr("<>\"|?*:/\\", c) != NULL) return 0;
    }
    return 1;
}

int KvNormaliseFolder(const char *text, char *out, size_t outSize) {
    char path[KV_PRODUCT_PATH];
    size_t length;
    size_t start;
    size_t parts = 0;
    size_t i;
    while (*text == ' ') ++text;
    length = strlen(text);
    while (length > 0 && text[length - 1] == ' ') --length;
    if (length >= sizeof path) return 0;
    memcpy(path, text, length);
    path[length] = '\0';
    for (i = 0; i < length; ++i) {
        if (path[i] == '/') path[i] = '\\';
    }
    if (length >= 3 && ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':' && path[2] == '\\') {
        start = 3;
    } else if (length >= 5 && path[0] == '\\' && path[1] == '\\' && path[2] != '?' && path[2] != '.') {
        start = 2;
    } else {
        return 0;
    }
    while (length > start && path[length - 1] == '\\') path[--length] = '\0';
    for (i = start; i < length;) {
        const char *end = strchr(path + i, '\\');
        const size_t stop = end != NULL ? (size_t)(end - path) : length;
        if (!IsPlainPart(path + i, stop - i)) return 0;
        ++parts;
        i = stop + 1;
    }
    /* A drive's root or a share itself would get an "uninstall" folder of its own. */
    if (parts < (start == 2 ? 3u : 1u)) return 0;
    if (length + 1 > outSize) return 0;
    memcpy(out, path, length + 1);
    return 1;
}
