// Installation log on Win32. Runs elevated in the user's temp directory, so the open
// must refuse anything but a plain single-link file. No record may be cut or mixed.
#include "engine/win32/install_log.h"

#include <cstring>
#include <string>

#include "engine/core/log_record.h"
#include "engine/win32/message_box.h"

namespace engine::win32 {

HANDLE g_logFile = INVALID_HANDLE_VALUE;
char g_logPath[260] = "";

namespace {

static_assert(sizeof g_logPath == kLogPathSize, "log path buffer");

// Guards g_logFile and every write: one record is one critical section, and close or
// switch-off waits for the record in progress.
SRWLOCK g_logLock = SRWLOCK_INIT;

constexpr UINT kFailureStyle = MB_SYSTEMMODAL;  // 0x1000: OK, no icon

class LogLock {
public:
    LogLock() { AcquireSRWLockExclusive(&g_logLock); }
    ~LogLock() { ReleaseSRWLockExclusive(&g_logLock); }
    LogLock(const LogLock&) = delete;
    LogLock& operator=(const LogLock&) = delete;
};

// The temp directory as reported, however long, for composing and for the message.
std::string TempDirectory() {
    char small[MAX_PATH + 1];
    DWORD length = GetTempPathA(sizeof small, small);
    if (length == 0) return std::string();
    if (length < sizeof small) return std::string(small, length);
    std::string large(length, '\0');
    DWORD again = GetTempPathA(length, &large[0]);
    if (again == 0 || again >= length) return std::string();
    large.resize(again);
    return large;
}

// True for a plain file with one name and no reparse data. Anything else in the
// temp directory (a hard link to another file, a symbolic link, a junction, a
// directory, a device) may be a trap set for an elevated writer.
bool IsPlainSingleLinkFile(HANDLE file) {
    if (GetFileType(file) != FILE_TYPE_DISK) return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return false;
    if (info.nNumberOfLinks != 1) return false;
    return (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY |
                                     FILE_ATTRIBUTE_DEVICE)) == 0;
}

HANDLE OpenPlainLogFile(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    // Appending only: a failed seek would overwrite earlier runs, so it is a failure too.
    if (!IsPlainSingleLinkFile(file) || !SetFilePointerEx(file, zero, nullptr, FILE_END)) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

void WriteAll(HANDLE file, const char* bytes, size_t size) {
    while (size > 0) {
        const DWORD chunk = size > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, bytes, chunk, &written, nullptr) || written == 0) return;
        bytes += written;
        size -= written;
    }
}

// Caller holds the lock and has checked the handle.
void WriteRecordLocked(const char* text) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    const LogTime time{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
    const size_t textLength = text == nullptr ? 0 : strlen(text);

    char small[512];
    const size_t needed = LogRecordSize(textLength);
    char* buffer = small;
    if (needed == 0 || needed > sizeof small) {
        buffer = needed == 0 ? nullptr : static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, needed));
    }
    if (buffer != nullptr) {
        WriteAll(g_logFile, buffer, BuildLogRecord(time, text, textLength, buffer, needed));
        if (buffer != small) HeapFree(GetProcessHeap(), 0, buffer);
    } else {
        // No memory for one piece: the same bytes in three writes, still under the lock.
        char prefix[kLogPrefixMax];
        WriteAll(g_logFile, prefix, FormatLogPrefix(time, prefix));
        WriteAll(g_logFile, text, textLength);
        WriteAll(g_logFile, "\r\n", 2);
    }
    FlushFileBuffers(g_logFile);
}

}  // namespace

void OpenInstallLog(HWND ownerWindow) {
    {
        LogLock lock;
        if (g_logFile != INVALID_HANDLE_VALUE) return;
    }
    const std::string directory = TempDirectory();
    char path[kLogPathSize];
    HANDLE file = INVALID_HANDLE_VALUE;
    if (ComposeLogPath(directory.data(), directory.size(), path)) file = OpenPlainLogFile(path);
    if (file == INVALID_HANDLE_VALUE) {
        // The message names the full path even when it is too long to have been used.
        const std::string message = "troubleshooting creating log file (" + directory + kLogFileName + ")";
        g_messageBox(ownerWindow, message.c_str(), "log", kFailureStyle);
        return;
    }
    {
        LogLock lock;
        if (g_logFile != INVALID_HANDLE_VALUE) {
            // Another thread opened it meanwhile; keep theirs.
            CloseHandle(file);
            return;
        }
        g_logFile = file;
        memcpy(g_logPath, path, sizeof g_logPath);
    }
    WriteLogLine("Running setup installation");
}

void WriteLogLine(const char* text) {
    LogLock lock;
    if (g_logFile == INVALID_HANDLE_VALUE) return;
    WriteRecordLocked(text);
}

void CloseInstallLog() {
    LogLock lock;
    if (g_logFile == INVALID_HANDLE_VALUE) return;
    CloseHandle(g_logFile);
    g_logFile = INVALID_HANDLE_VALUE;
}

void SwitchOffInstallLog() {
    LogLock lock;
    g_logFile = INVALID_HANDLE_VALUE;
}

}  // namespace engine::win32
