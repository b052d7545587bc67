/* The sample install module: its entry point and the installation it performs,
 * from install.cfg beside the program to the uninstall list in the target folder.
 * Built as an outside author would, against the SDK headers alone. Never leaves
 * a half-done installation behind while reporting success, and never asks anything
 * in an unattended run. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "install_config.h"
#include "kelvane_install.h"
#include "module_output.h"
#include "payload_source.h"
#include "quorvend_console.h"

/* Folders that a path of at most 259 characters can hold. */
#define MAX_FOLDER_DEPTH 130

/* The console's control id in the host's main dialog. */
#define HOST_CONSOLE_ID 1000

/* KELVANE_UI: how the run meets its user. */
typedef enum UiMode { UI_FULL, UI_PASSIVE, UI_QUIET } UiMode;

typedef struct InstallRun {
    const InstallHostInterface *host;
    UiMode ui;
    SampleConfig config;
    char configPath[SAMPLE_PATH_SIZE];
    uint64_t payloadBytes;
    int fromArchive; /* the files come from the one-file installer's archive */
    /* What this run created, undone in reverse order when a later step fails. */
    size_t createdFolderEnds[MAX_FOLDER_DEPTH]; /* lengths of config.target's prefixes */
    unsigned createdFolderCount;
    int createdFile[SAMPLE_MAX_FILES];
    int createdUninstallList;
} InstallRun;

static int ReadConfiguration(InstallRun *run) {
    char reason[512];
    KeyValueList list;
    DWORD code;
    if (run->host->programDirectory == NULL || run->host->loadKeyValues == NULL ||
        !SampleJoinPath(run->configPath, sizeof run->configPath, run->host->programDirectory,
                        SAMPLE_CONFIG_FILE_NAME)) {
        PrintFailure(run->host, "The program folder is unknown or too long for " SAMPLE_CONFIG_FILE_NAME, 0);
        return 0;
    }
    if (GetFileAttributesA(run->configPath) == INVALID_FILE_ATTRIBUTES) {
        code = GetLastError();
        PrintFailure2(run->host, "Cannot find", run->configPath, code);
        return 0;
    }
    list = run->host->loadKeyValues(run->configPath);
    if (list == NULL) {
        PrintFailure2(run->host, "No key=value line could be read from", run->configPath, 0);
        return 0;
    }
    if (!SampleParseConfig(run->host, list, &run->config, reason, sizeof reason)) {
        PrintFailure(run->host, reason, 0);
        return 0;
    }
    return 1;
}

/* The host sets KELVANE_UI before loading us. Read from the process environment: a C
 * runtime shared with the host may hold an older copy. Unset (an older host) or a
 * value we do not know: interactive. */
static UiMode ReadUiMode(void) {
    char value[16];
    const DWORD length = GetEnvironmentVariableA(KELVANE_UI_VARIABLE, value, sizeof value);
    if (length == 0 || length >= sizeof value) return UI_FULL;
    if (lstrcmpiA(value, "quiet") == 0) return UI_QUIET;
    if (lstrcmpiA(value, "passive") == 0) return UI_PASSIVE;
    return UI_FULL;
}

/* The host's console, or NULL: the test host has no window, and a module may have
 * put a window of its own in mainWindow, whose control 1000 could be anything. */
static HWND FindHostConsole(const InstallHostInterface *host) {
    char className[64];
    HWND console;
    if (host->mainWindow == NULL) return NULL;
    console = GetDlgItem((HWND)host->mainWindow, HOST_CONSOLE_ID);
    if (console == NULL || GetClassNameA(console, className, sizeof className) == 0) return NULL;
    return lstrcmpiA(className, QUORVEND_CONSOLE_CLASS) == 0 ? console : NULL;
}

/* ASK_TARGET: the user may change the target folder in a console input field. Only
 * when someone is there to answer; unattended runs keep TARGET and say so. */
static int ChooseTarget(InstallRun *run) {
    char answer[SAMPLE_PATH_SIZE];
    char reason[768];
    char line[512];
    const char *why = run->ui != UI_FULL ? "unattended run" : "no console window";
    HWND console;
    size_t i = 0;
    if (!run->config.askTarget) return 1;
    console = run->ui == UI_FULL ? FindHostConsole(run->host) : NULL;
    if (console == NULL) {
        snprintf(line, sizeof line, "Target folder: %s (not asked: %s)", run->config.target, why);
        PrintLine(run->host, COLOR_NORMAL, line);
        return 1;
    }
    /* The field shows TARGET to be edited; the buffer holds the field and its NUL. */
    memcpy(answer, run->config.target, sizeof answer);
    PrintPiece(run->host, COLOR_NORMAL, "Install into: ");
    if (SendMessageA(console, CONM_INPUTLINE, (WPARAM)((SAMPLE_PATH_SIZE - 1) | ((uint32_t)CONI_TEXT << 12)),
                     (LPARAM)answer) != 1) {
        PrintFailure(run->host, "The target folder question was cancelled", 0);
        return 0;
    }
    answer[sizeof answer - 1] = '\0';
    while (answer[i] == ' ') ++i;
    if (answer[i] == '\0') return 1; /* a cleared field keeps TARGET */
    if (!SampleSetTarget(&run->config, answer, reason, sizeof reason)) {
        PrintFailure(run->host, reason, 0);
        return 0;
    }
    return 1;
}

/* Every payload file must be present before anything is created. */
static int CheckPayload(InstallRun *run) {
    char source[SAMPLE_PATH_SIZE];
    unsigned i;
    run->fromArchive = SamplePayloadInArchive();
    for (i = 0; i < run->config.fileCount; ++i) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (run->fromArchive) {
            uint64_t size = 0;
            if (!SamplePayloadSize(run->config.files[i], &size)) {
                PrintFailure2(run->host, "Payload file missing from the installer:", run->config.files[i],
                              ERROR_FILE_NOT_FOUND);
                return 0;
            }
            run->payloadBytes += size;
            continue;
        }
        if (!SampleJoinPath(source, sizeof source, run->host->programDirectory, run->config.files[i])) {
            PrintFailure2(run->host, "Payload path too long:", run->config.files[i], ERROR_FILENAME_EXCED_RANGE);
            return 0;
        }
        if (!GetFileAttributesExA(source, GetFileExInfoStandard, &data)) {
            const DWORD code = GetLastError();
            PrintFailure2(run->host, "Payload file missing:", source, code);
            return 0;
        }
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            PrintFailure2(run->host, "Payload is a folder, not a file:", source, ERROR_FILE_NOT_FOUND);
            return 0;
        }
        run->payloadBytes += ((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    }
    return 1;
}

/* Free space on the volume of the target, asked of the nearest folder that exists. */
static int CheckFreeSpace(InstallRun *run) {
    char probe[SAMPLE_PATH_SIZE];
    char line[512];
    char freeText[32];
    char neededText[32];
    ULARGE_INTEGER available;
    uint64_t needed = (uint64_t)run->config.requiredMegabytes << 20;
    memcpy(probe, run->config.target, sizeof probe);
    while (!GetDiskFreeSpaceExA(probe, &available, NULL, NULL)) {
        const DWORD code = GetLastError();
        char *cut = strrchr(probe, '\\');
        const int atTop = probe[0] == '\\' ? cut == strchr(probe + 2, '\\') : strlen(probe) <= 3;
        if (cut == NULL || atTop) {
            PrintFailure2(run->host, "Cannot ask the free space for", run->config.target, code);
            return 0;
        }
        /* One folder up; "X:\" keeps its backslash. */
        if (probe[0] != '\\' && cut - probe == 2) probe[3] = '\0';
        else *cut = '\0';
    }
    if (run->payloadBytes > needed) needed = run->payloadBytes;
    FormatMegabytes(freeText, sizeof freeText, available.QuadPart);
    FormatMegabytes(neededText, sizeof neededText, needed);
    if (available.QuadPart < needed) {
        snprintf(line, sizeof line, "Not enough free space for %s: %s free, %s needed", run->config.target, freeText,
                 neededText);
        PrintFailure(run->host, line, ERROR_DISK_FULL);
        return 0;
    }
    snprintf(line, sizeof line, "Free space: %s (%s needed)", freeText, neededText);
    PrintLine(run->host, COLOR_NORMAL, line);
    return 1;
}

/* Creates config.target and every missing folder above it, noting each one. */
static int CreateTargetFolders(InstallRun *run) {
    char *target = run->config.target;
    const size_t length = strlen(target);
    size_t position = target[0] == '\\' ? 2 : 3;
    if (target[0] == '\\') { /* \\server\share itself cannot be created */
        const char *share = strchr(target + 2, '\\');
        const char *after = share == NULL ? NULL : strchr(share + 1, '\\');
        position = after == NULL ? length : (size_t)(after - target) + 1;
    }
    while (position < length) {
        const char *end = strchr(target + position, '\\');
        const size_t stop = end == NULL ? length : (size_t)(end - target);
        const char kept = target[stop];
        int created;
        DWORD code = 0;
        target[stop] = '\0';
        created = CreateDirectoryA(target, NULL);
        if (!created) {
            const DWORD attributes = GetFileAttributesA(target);
            code = GetLastError();
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) code = 0;
            else if (attributes != INVALID_FILE_ATTRIBUTES) code = ERROR_DIRECTORY; /* a file stands there */
        }
        if (code != 0) {
            PrintFailure2(run->host, "Cannot create the folder", target, code);
            target[stop] = kept;
            return 0;
        }
        target[stop] = kept;
        if (created) run->createdFolderEnds[run->createdFolderCount++] = stop;
        position = stop + 1;
    }
    return 1;
}

static int CopyPayload(InstallRun *run) {
    char source[SAMPLE_PATH_SIZE];
    char destination[SAMPLE_PATH_SIZE];
    char line[768];
    unsigned i;
    for (i = 0; i < run->config.fileCount; ++i) {
        const char *name = run->config.files[i];
        int existed;
        /* Both joins were checked by CheckPayload and SampleParseConfig. */
        SampleJoinPath(source, sizeof source, run->host->programDirectory, name);
        SampleJoinPath(destination, sizeof destination, run->config.target, name);
        existed = GetFileAttributesA(destination) != INVALID_FILE_ATTRIBUTES;
        snprintf(line, sizeof line, "[%3u%%] %s ... ", (i + 1) * 100 / run->config.fileCount, name);
        PrintPiece(run->host, COLOR_PROGRESS, line);
        if (run->fromArchive) {
            char why[512];
            if (!SamplePayloadExtract(name, destination, why, sizeof why)) {
                PrintLine(run->host, COLOR_FAILURE, "failed");
                run->createdFile[i] = 0; /* the extension leaves nothing of a failed file */
                snprintf(line, sizeof line, "Cannot extract %s: %s", destination, why);
                PrintFailure(run->host, line, 0);
                return 0;
            }
        } else if (!CopyFileA(source, destination, FALSE)) {
            const DWORD code = GetLastError();
            PrintLine(run->host, COLOR_FAILURE, "failed");
            /* A copy that broke off may have left a partial file that was not there before. */
            run->createdFile[i] = !existed && GetFileAttributesA(destination) != INVALID_FILE_ATTRIBUTES;
            PrintFailure2(run->host, "Cannot copy to", destination, code);
            return 0;
        }
        run->createdFile[i] = !existed;
        PrintLine(run->host, COLOR_DONE, "done");
        SamplePayloadProgress(i + 1, run->config.fileCount, 0);
        /* The pause is there to be watched, and nobody watches a quiet run. */
        if (run->config.pauseMilliseconds > 0 && run->ui != UI_QUIET) Sleep(run->config.pauseMilliseconds);
    }
    return 1;
}

static int WriteAll(HANDLE file, const char *text) {
    DWORD written = 0;
    const DWORD length = (DWORD)strlen(text);
    return WriteFile(file, text, length, &written, NULL) && written == length;
}

/* One full path per line, CR LF: the files, then the folders this run created,
 * deepest first, so that an uninstaller can work through it from the top. */
static int WriteUninstallList(InstallRun *run) {
    char path[SAMPLE_PATH_SIZE];
    char listPath[SAMPLE_PATH_SIZE];
    HANDLE file;
    int ok = 1;
    unsigned i;
    if (!SampleJoinPath(listPath, sizeof listPath, run->config.target, SAMPLE_UNINSTALL_LIST_NAME)) {
        PrintFailure2(run->host, "Uninstall list path too long in", run->config.target, ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    file = CreateFileA(listPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        PrintFailure2(run->host, "Cannot write", listPath, GetLastError());
        return 0;
    }
    run->createdUninstallList = 1;
    for (i = 0; ok && i < run->config.fileCount; ++i) {
        SampleJoinPath(path, sizeof path, run->config.target, run->config.files[i]);
        ok = WriteAll(file, path) && WriteAll(file, "\r\n");
    }
    ok = ok && WriteAll(file, listPath) && WriteAll(file, "\r\n");
    for (i = run->createdFolderCount; ok && i > 0; --i) {
        memcpy(path, run->config.target, run->createdFolderEnds[i - 1]);
        path[run->createdFolderEnds[i - 1]] = '\0';
        ok = WriteAll(file, path) && WriteAll(file, "\r\n");
    }
    if (!ok || !FlushFileBuffers(file)) {
        const DWORD code = GetLastError();
        CloseHandle(file);
        PrintFailure2(run->host, "Cannot write", listPath, code);
        return 0;
    }
    CloseHandle(file);
    return 1;
}

/* Removes what this run created, newest first; files that were there before stay. */
static void RollBack(InstallRun *run) {
    char path[SAMPLE_PATH_SIZE];
    char line[128];
    unsigned files = 0;
    unsigned folders = 0;
    unsigned i;
    if (run->createdUninstallList &&
        SampleJoinPath(path, sizeof path, run->config.target, SAMPLE_UNINSTALL_LIST_NAME) && DeleteFileA(path)) {
        ++files;
    }
    for (i = run->config.fileCount; i > 0; --i) {
        if (!run->createdFile[i - 1]) continue;
        SampleJoinPath(path, sizeof path, run->config.target, run->config.files[i - 1]);
        /* CopyFile keeps a read-only payload file read-only, and DeleteFile refuses those. */
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
        if (DeleteFileA(path)) ++files;
    }
    for (i = run->createdFolderCount; i > 0; --i) {
        memcpy(path, run->config.target, run->createdFolderEnds[i - 1]);
        path[run->createdFolderEnds[i - 1]] = '\0';
        if (RemoveDirectoryA(path)) ++folders;
    }
    if (files + folders == 0) return;
    snprintf(line, sizeof line, "Rolled back: removed %u file(s) and %u folder(s) made by this run.", files, folders);
    PrintLine(run->host, COLOR_WARNING, line);
}

/* A DLL of the module's own, loaded at run time. The host searches only the system
 * folder for bare names, so the path is built from programDirectory; DLL_LOAD_DIR lets
 * the helper's own imports come from beside it too, and SYSTEM32 (not DEFAULT_DIRS,
 * which adds the installer's folder) the system's. Optional: the sample has none. */
static void ReportHelper(const InstallHostInterface *host) {
    char path[SAMPLE_PATH_SIZE];
    const char *result = "sample_helper.dll: not found";
    if (host->programDirectory != NULL &&
        SampleJoinPath(path, sizeof path, host->programDirectory, "sample_helper.dll") &&
        GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) {
        result = LoadLibraryExA(path, NULL, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32) != NULL
                     ? "sample_helper.dll: found and loaded"
                     : "sample_helper.dll: found, but it cannot be loaded";
    }
    PrintLine(host, COLOR_NORMAL, result);
}

static int Install(InstallRun *run) {
    char line[768];
    char sizeText[32];
    ReportHelper(run->host);
    if (!ReadConfiguration(run) || !CheckPayload(run) || !ChooseTarget(run)) return 0;
    snprintf(line, sizeof line, "Installing %u file(s) into %s", run->config.fileCount, run->config.target);
    PrintLine(run->host, COLOR_NORMAL, line);
    if (!CheckFreeSpace(run)) return 0;
    if (!CreateTargetFolders(run) || !CopyPayload(run) || !WriteUninstallList(run)) {
        RollBack(run);
        return 0;
    }
    FormatBytes(sizeText, sizeof sizeText, run->payloadBytes);
    snprintf(line, sizeof line, "Installed %u file(s), %s, into %s", run->config.fileCount, sizeText,
             run->config.target);
    PrintLine(run->host, COLOR_DONE, line);
    snprintf(line, sizeof line, "Uninstall list: %s\\%s", run->config.target, SAMPLE_UNINSTALL_LIST_NAME);
    PrintLine(run->host, COLOR_NORMAL, line);
    return 1;
}

/* The one export. The default build uses __cdecl; SAMPLE_STDCALL builds the
 * __stdcall form, exported under its plain name by install_module.def. */
#ifdef SAMPLE_STDCALL
KelvaneBool __stdcall quorvend_install2(InstallHostInterface *host);
KelvaneBool __stdcall quorvend_install2(InstallHostInterface *host)
#else
__declspec(dllexport) KelvaneBool __cdecl quorvend_install2(InstallHostInterface *host);
__declspec(dllexport) KelvaneBool __cdecl quorvend_install2(InstallHostInterface *host)
#endif
{
    InstallRun *run;
    int ok;
    /* A host older or smaller than this header cannot be trusted with any call. */
    if (host == NULL || host->size < sizeof(InstallHostInterface) || host->printText == NULL ||
        host->setPrintColor == NULL) {
        return 0;
    }
    /* About 17 KB; the heap keeps it off the host's worker stack. */
    run = (InstallRun *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof *run);
    if (run == NULL) {
        host->setPrintColor(COLOR_FAILURE);
        host->printText("Sample install module: out of memory", NULL, 0, 1);
        host->setPrintColor(COLOR_NORMAL);
        return 0;
    }
    run->host = host;
    run->ui = ReadUiMode();
    PrintBanner(host);
    ok = Install(run);
    host->setPrintColor(COLOR_NORMAL);
    HeapFree(GetProcessHeap(), 0, run);
    return ok ? 1 : 0;
}
