/* The standard module's shortcuts: Start-menu and desktop links (all users', or the
 * user's for a per-user product) written through the shell's IShellLinkW, each journalled
 * before it exists, an older link of the same name moved aside first. Writes nowhere but those folders and the uninstall folder's backup\;
 * never deletes a link it did not record. */
#define COBJMACROS
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "standard_run.h"

#define END_TEXTS ((const char *)NULL)
/* Paths here come from UTF-8 texts of at most KV_PRODUCT_PATH bytes, so this many
 * UTF-16 units hold any of them with the "\\?\UNC\" prefix. */
#define WIDE_PATH (KV_PRODUCT_PATH + 16)
#define BACKUP_FOLDER_NAME "backup"
/* Backups of other kinds share the folder; this prefix keeps the names apart. */
#define BACKUP_PREFIX "lnk-"
#define MAX_BACKUP_NUMBER 100000u

/* a + separator + b + suffix into out; 0 when it does not fit. */
static int Join(char *out, size_t outSize, const char *a, const char *separator, const char *b, const char *suffix) {
    const int length = snprintf(out, outSize, "%s%s%s%s", a, separator, b, suffix);
    return length >= 0 && (size_t)length < outSize;
}

/* An absolute path ("C:\..." or "\\server\...") as an extended UTF-16 path, so that
 * no file call shortens or reinterprets it. 0 for anything else, or when it does not fit. */
static int ToExtendedPath(const char *path, wchar_t *out, size_t outCount) {
    const char *prefix = "\\\\?\\";
    const char *rest = path;
    size_t prefixLength;
    size_t i;
    wchar_t *p;
    if (strncmp(path, "\\\\?\\", 4) == 0) {
        prefix = "";
    } else if (path[0] == '\\' && path[1] == '\\') {
        prefix = "\\\\?\\UNC\\";
        rest = path + 2;
    } else if (!(((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':' && path[2] == '\\')) {
        return 0;
    }
    prefixLength = strlen(prefix);
    if (outCount <= prefixLength) return 0;
    for (i = 0; i < prefixLength; ++i) out[i] = (wchar_t)prefix[i];
    if (!KvToWide(rest, out + prefixLength, outCount - prefixLength)) return 0;
    for (p = out + prefixLength; *p != L'\0'; ++p) {
        if (*p == L'/') *p = L'\\';
    }
    return 1;
}

/* The shell's link calls take plain paths of fewer than MAX_PATH units. */
static int ToShellPath(const KvRun *run, const char *what, const char *path, wchar_t out[MAX_PATH]) {
    if (KvToWide(path, out, MAX_PATH)) return 1;
    KvPrintFailuref(run, 0, "The shortcut's %s is too long for a shortcut (at most %d characters): %s", what, MAX_PATH - 1,
            path);
    return 0;
}

/* A name's parts are file names: none empty, none "." or "..". */
static int NameValid(const char *name) {
    const char *part = name;
    for (;;) {
        const char *end = strchr(part, '\\');
        const size_t length = end != NULL ? (size_t)(end - part) : strlen(part);
        if (length == 0 || (length == 1 && part[0] == '.') || (length == 2 && part[0] == '.' && part[1] == '.') ||
            memchr(part, '/', length) != NULL) {
            return 0;
        }
        if (end == NULL) return 1;
        part = end + 1;
    }
}

/* The Start menu's sub-folders named in the link path after folderLength bytes, each
 * journalled before it is made. */
static int MakeSubFolders(KvRun *run, const char *link, size_t folderLength) {
    char folder[KV_PRODUCT_PATH];
    wchar_t wide[WIDE_PATH];
    const char *end = link + folderLength + 1;
    while ((end = strchr(end, '\\')) != NULL) {
        const size_t length = (size_t)(end - link);
        DWORD attributes;
        memcpy(folder, link, length);
        folder[length] = '\0';
        ++end;
        if (!ToExtendedPath(folder, wide, WIDE_PATH)) {
            KvPrintFailuref(run, 0, "The shortcut folder's path cannot be used: %s", folder);
            return 0;
        }
        attributes = GetFileAttributesW(wide);
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            if (attributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            KvPrintFailuref(run, 0, "A file stands where the shortcut folder goes: %s", folder);
            return 0;
        }
        if (!KvJournalAppendTexts(run, KV_J_FOLDER, folder, END_TEXTS)) return 0;
        if (!CreateDirectoryW(wide, NULL) && GetLastError() != ERROR_ALREADY_EXISTS) {
            KvPrintFailuref(run, GetLastError(), "Cannot create the shortcut folder %s", folder);
            return 0;
        }
    }
    return 1;
}

/* The uninstall folder's backup\, made (and journalled) when it is missing. */
static int MakeBackupFolder(KvRun *run, char *folder, size_t folderSize) {
    wchar_t wide[WIDE_PATH];
    DWORD attributes;
    if (!Join(folder, folderSize, run->uninstallFolder, "\\", BACKUP_FOLDER_NAME, "") ||
        !ToExtendedPath(folder, wide, WIDE_PATH)) {
        KvPrintFailuref(run, 0, "The backup folder's path cannot be used: %s\\%s", run->uninstallFolder, BACKUP_FOLDER_NAME);
        return 0;
    }
    attributes = GetFileAttributesW(wide);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return 1;
    if (!KvJournalAppendTexts(run, KV_J_FOLDER, folder, END_TEXTS)) return 0;
    if (!CreateDirectoryW(wide, NULL) && GetLastError() != ERROR_ALREADY_EXISTS) {
        KvPrintFailuref(run, GetLastError(), "Cannot create the backup folder %s", folder);
        return 0;
    }
    return 1;
}

/* An older link where the new one goes is moved into backup\ under a name no other
 * backup has; the backup record comes first, so undo puts it back. */
static int SetOlderLinkAside(KvRun *run, const char *link, unsigned *nextNumber) {
    char folder[KV_PRODUCT_PATH];
    char backup[KV_PRODUCT_PATH];
    char name[32];
    wchar_t wideLink[WIDE_PATH];
    wchar_t wideBackup[WIDE_PATH];
    DWORD attributes;
    if (!ToExtendedPath(link, wideLink, WIDE_PATH)) {
        KvPrintFailuref(run, 0, "The shortcut's path cannot be used: %s", link);
        return 0;
    }
    attributes = GetFileAttributesW(wideLink);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return 1;
        KvPrintFailuref(run, code, "Cannot look at %s", link);
        return 0;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        KvPrintFailuref(run, 0, "A folder stands where the shortcut goes: %s", link);
        return 0;
    }
    if (!MakeBackupFolder(run, folder, sizeof folder)) return 0;
    for (;; ++*nextNumber) {
        if (*nextNumber > MAX_BACKUP_NUMBER) {
            KvPrintFailuref(run, 0, "No free backup name is left in %s", folder);
            return 0;
        }
        snprintf(name, sizeof name, BACKUP_PREFIX "%u", *nextNumber);
        if (!Join(backup, sizeof backup, folder, "\\", name, "") ||
            !ToExtendedPath(backup, wideBackup, WIDE_PATH)) {
            KvPrintFailuref(run, 0, "The backup's path is too long: %s\\%s", folder, name);
            return 0;
        }
        if (GetFileAttributesW(wideBackup) == INVALID_FILE_ATTRIBUTES) {
            const DWORD code = GetLastError();
            if (code == ERROR_FILE_NOT_FOUND) break;
            KvPrintFailuref(run, code, "Cannot look at %s", backup);
            return 0;
        }
    }
    ++*nextNumber;
    if (!KvJournalAppendTexts(run, KV_J_BACKUP, link, backup, END_TEXTS)) return 0;
    /* The Start menu and {app} may be on different volumes. */
    if (!MoveFileExW(wideLink, wideBackup, MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
        KvPrintFailuref(run, GetLastError(), "Cannot move the older shortcut %s aside", link);
        return 0;
    }
    KvPrintf(run, KV_COLOR_NORMAL, "Older shortcut kept as %s", backup);
    return 1;
}

/* "path[,index]": the index is the part after the last comma when it is a number. */
static void SplitIcon(char *icon, int *index) {
    char *comma = strrchr(icon, ',');
    const char *digit;
    long value = 0;
    *index = 0;
    if (comma == NULL) return;
    digit = comma + 1;
    if (*digit == '-') ++digit;
    if (*digit == '\0') return;
    for (; *digit != '\0'; ++digit) {
        if (*digit < '0' || *digit > '9' || value > 100000000L) return;
        value = value * 10 + (*digit - '0');
    }
    *index = (int)(comma[1] == '-' ? -value : value);
    *comma = '\0';
}

/* The target's folder: up to its last '\', which stays when it follows a drive. */
static void TargetFolder(const char *target, char *out, size_t outSize) {
    const char *slash = strrchr(target, '\\');
    size_t length = slash != NULL ? (size_t)(slash - target) : 0;
    if (length > 0 && target[length - 1] == ':') ++length;
    if (length >= outSize) length = 0; /* cannot happen: out is as large as target's buffer */
    memcpy(out, target, length);
    out[length] = '\0';
}

/* What the link holds, converted before anything is journalled or written. */
typedef struct LinkParts {
    wchar_t target[MAX_PATH];
    wchar_t arguments[KV_PRODUCT_PATH];
    wchar_t folder[MAX_PATH];
    wchar_t icon[MAX_PATH];
    int iconIndex;
    wchar_t link[MAX_PATH];
} LinkParts;

static int PrepareLink(const KvRun *run, const KvShortcut *shortcut, const char *link, LinkParts *parts) {
    char target[KV_PRODUCT_PATH];
    char arguments[KV_PRODUCT_PATH];
    char icon[KV_PRODUCT_PATH];
    char folder[KV_PRODUCT_PATH];
    if (!KvExpandText(run, shortcut->target, target, sizeof target) ||
        !KvExpandText(run, shortcut->arguments, arguments, sizeof arguments) ||
        !KvExpandText(run, shortcut->icon, icon, sizeof icon)) {
        return 0;
    }
    SplitIcon(icon, &parts->iconIndex);
    TargetFolder(target, folder, sizeof folder);
    if (!ToShellPath(run, "target", target, parts->target) || !ToShellPath(run, "folder", folder, parts->folder) ||
        !ToShellPath(run, "icon", icon, parts->icon) || !ToShellPath(run, "path", link, parts->link)) {
        return 0;
    }
    if (!KvToWide(arguments, parts->arguments, KV_PRODUCT_PATH)) {
        KvPrintFailuref(run, 0, "The shortcut's arguments cannot be used: %s", arguments);
        return 0;
    }
    return 1;
}

static int WriteLink(const KvRun *run, const char *link, const LinkParts *parts) {
    IShellLinkW *shellLink = NULL;
    IPersistFile *file = NULL;
    HRESULT result =
        CoCreateInstance(&CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, &IID_IShellLinkW, (void **)&shellLink);
    if (FAILED(result)) {
        KvPrintFailuref(run, (DWORD)result, "Cannot make the shortcut %s: the shell's link object is missing", link);
        return 0;
    }
    result = IShellLinkW_SetPath(shellLink, parts->target);
    if (SUCCEEDED(result)) result = IShellLinkW_SetArguments(shellLink, parts->arguments);
    if (SUCCEEDED(result)) result = IShellLinkW_SetWorkingDirectory(shellLink, parts->folder);
    if (SUCCEEDED(result) && parts->icon[0] != L'\0') {
        result = IShellLinkW_SetIconLocation(shellLink, parts->icon, parts->iconIndex);
    }
    if (SUCCEEDED(result)) result = IShellLinkW_QueryInterface(shellLink, &IID_IPersistFile, (void **)&file);
    if (SUCCEEDED(result)) {
        result = IPersistFile_Save(file, parts->link, TRUE);
        IPersistFile_Release(file);
    }
    IShellLinkW_Release(shellLink);
    if (FAILED(result)) {
        KvPrintFailuref(run, (DWORD)result, "Cannot write the shortcut %s", link);
        return 0;
    }
    return 1;
}

static int MakeShortcut(KvRun *run, const KvShortcut *shortcut, unsigned *nextBackup) {
    LinkParts parts;
    char name[KV_PRODUCT_PATH];
    char folder[KV_PRODUCT_PATH];
    char link[KV_PRODUCT_PATH];
    /* A per-user product's links are the user's alone, as its files are. */
    const char *place = shortcut->place == KV_SHORTCUT_DESKTOP
                            ? (run->product.userScope ? "{UserDesktop}" : "{CommonDesktop}")
                            : (run->product.userScope ? "{UserStartMenu}" : "{CommonStartMenu}");
    if (!KvExpandText(run, shortcut->name, name, sizeof name)) return 0;
    if (!NameValid(name)) {
        KvPrintFailuref(run, 0, "The shortcut name \"%s\" is no file name", name);
        return 0;
    }
    if (shortcut->place == KV_SHORTCUT_DESKTOP && strchr(name, '\\') != NULL) {
        KvPrintFailuref(run, 0, "The desktop shortcut \"%s\" names a folder; only Start-menu shortcuts may", name);
        return 0;
    }
    if (!KvExpandText(run, place, folder, sizeof folder)) return 0;
    if (!Join(link, sizeof link, folder, "\\", name, ".lnk")) {
        KvPrintFailuref(run, 0, "The shortcut's path is too long: %s\\%s.lnk", folder, name);
        return 0;
    }
    if (!PrepareLink(run, shortcut, link, &parts) || !MakeSubFolders(run, link, strlen(folder)) ||
        !SetOlderLinkAside(run, link, nextBackup) || !KvJournalAppendTexts(run, KV_J_SHORTCUT, link, END_TEXTS) ||
        !WriteLink(run, link, &parts)) {
        return 0;
    }
    KvPrintf(run, KV_COLOR_PROGRESS, "Shortcut: %s", link);
    return 1;
}

int KvMakeShortcuts(KvRun *run) {
    unsigned nextBackup = 1;
    unsigned i;
    HRESULT initialised;
    int ok = 1;
    if (run->product.shortcutCount == 0) return 1;
    /* The module runs on the host's worker thread, which may or may not have COM yet;
     * the link object works in either apartment. */
    initialised = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    if (FAILED(initialised) && initialised != RPC_E_CHANGED_MODE) {
        KvPrintFailuref(run, (DWORD)initialised, "Cannot start COM for the shortcuts");
        return 0;
    }
    for (i = 0; i < run->product.shortcutCount && i < KV_PRODUCT_MAX_SHORTCUTS && ok; ++i) {
        ok = MakeShortcut(run, &run->product.shortcuts[i], &nextBackup);
    }
    if (initialised == S_OK || initialised == S_FALSE) CoUninitialize();
    return ok;
}

int KvUndoShortcut(KvRun *run, const KvJournalRecord *record) {
    wchar_t wide[WIDE_PATH];
    const char *link = record->fields[0];
    DWORD code;
    if (record->kind != KV_J_SHORTCUT || record->fieldCount < 1 || !ToExtendedPath(link, wide, WIDE_PATH)) {
        KvPrintFailuref(run, 0, "The journal's shortcut record cannot be used: %s", record->fieldCount > 0 ? link : "");
        return 0;
    }
    if (DeleteFileW(wide)) {
        KvPrintf(run, KV_COLOR_NORMAL, "Removed shortcut %s", link);
        return 1;
    }
    code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return 1;
    /* Someone may have made it read-only since. */
    if (code == ERROR_ACCESS_DENIED && SetFileAttributesW(wide, FILE_ATTRIBUTE_NORMAL) && DeleteFileW(wide)) {
        KvPrintf(run, KV_COLOR_NORMAL, "Removed shortcut %s", link);
        return 1;
    }
    KvPrintFailuref(run, code, "Cannot remove the shortcut %s", link);
    return 0;
}
