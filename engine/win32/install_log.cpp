// Installation log on Win32. Runs elevated in the user's temp directory, so the open
// must refuse anything but a plain single-link file. No record may be cut or mixed.
#include "engine/win32/install_log.h"

#include <cstring>
#include <string>

#include "engine/core/log_record.h"
#include "engine/win32/exclusive_lock.h"
#include "engine/win32/message_box.h"

namespace engine::win32 {

HANDLE g_logFile = INVALID_HANDLE_VALUE;
char g_logPath[260] = "";

namespace {

// The /log= copy: every record the log gets, in the same bytes. Under the log lock.
HANDLE g_logCopy = INVALID_HANDLE_VALUE;

static_assert(sizeof g_logPath == kLogPathSize, "log path buffer");

// Guards g_logFile and every write: one record is one critical section, and close or
// switch-off waits for the record in progress.
SRWLOCK g_logLock = SRWLOCK_INIT;

constexpr UINT kFailureStyle = MB_SYSTEMMODAL;  // 0x1000: OK, no icon


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

// The path the system resolves a handle to, links and junctions followed; empty when
// it cannot tell.
std::wstring FinalPath(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = GetFinalPathNameByHandleW(handle, &path[0], static_cast<DWORD>(path.size()),
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.assign(length, L'\0');  // too small: length is the size needed, NUL included
    }
    return std::wstring();
}

// True when the opened log really is the file of that name in the temp directory
// itself. A temp directory that is redirected as a whole (a junction, a link of the
// folder) resolves the same way for both and passes; a link planted at the file, which
// the attribute check may not see (a Unix link under Wine looks like its target), and a
// directory that cannot be opened or resolved do not.
bool IsTheLogInItsDirectory(HANDLE file, const std::string& directory) {
    HANDLE folder = CreateFileA(directory.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return false;
    std::wstring expected = FinalPath(folder);
    CloseHandle(folder);
    if (expected.empty()) return false;
    if (expected.back() != L'\\') expected += L'\\';
    for (const char* c = kLogFileName + 1; *c != 0; ++c) expected += static_cast<wchar_t>(*c);  // plain ASCII
    const std::wstring actual = FinalPath(file);
    return !actual.empty() && CompareStringOrdinal(actual.c_str(), static_cast<int>(actual.size()), expected.c_str(),
                                                   static_cast<int>(expected.size()), TRUE) == CSTR_EQUAL;
}

// Opens the existing log or creates a new one. Never creates through a link: a link
// whose target does not exist yet would otherwise make that file wherever it points
// (CREATE_NEW fails on any name already taken, a dangling link included).
HANDLE OpenOrCreate(const char* path) {
    constexpr DWORD kAccess = GENERIC_WRITE;
    constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    for (int attempt = 0; attempt < 2; ++attempt) {
        HANDLE file = CreateFileA(path, kAccess, FILE_SHARE_READ, nullptr, OPEN_EXISTING, kFlags, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_NOT_FOUND) return file;
        file = CreateFileA(path, kAccess, FILE_SHARE_READ, nullptr, CREATE_NEW, kFlags, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
        // Made by someone else in between, or a dangling link: look once more.
    }
    return INVALID_HANDLE_VALUE;
}

HANDLE OpenPlainLogFile(const char* path, const std::string& directory) {
    HANDLE file = OpenOrCreate(path);
    if (file == INVALID_HANDLE_VALUE) return file;
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    // Appending only: a failed seek would overwrite earlier runs, so it is a failure too.
    if (!IsPlainSingleLinkFile(file) || !IsTheLogInItsDirectory(file, directory) ||
        !SetFilePointerEx(file, zero, nullptr, FILE_END)) {
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

// One record's bytes, built before the lock is taken: reading the caller's text is the
// step that can fault (a module handing a bad pointer), and it must not fault with the
// lock held, or every later record, the crash report's among them, would wait forever.
class Record {
public:
    explicit Record(const char* text) : text_(text), textLength_(text == nullptr ? 0 : strlen(text)) {
        SYSTEMTIME now;
        GetLocalTime(&now);
        time_ = LogTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
        const size_t needed = LogRecordSize(textLength_);
        bytes_ = small_;
        if (needed == 0 || needed > sizeof small_) {
            bytes_ = needed == 0 ? nullptr : static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, needed));
        }
        if (bytes_ != nullptr) size_ = BuildLogRecord(time_, text_, textLength_, bytes_, needed);
    }
    ~Record() {
        if (bytes_ != nullptr && bytes_ != small_) HeapFree(GetProcessHeap(), 0, bytes_);
    }
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;

    // Caller holds the lock and has checked the handle.
    void WriteTo(HANDLE file) const {
        if (bytes_ != nullptr) {
            WriteAll(file, bytes_, size_);
        } else {
            // No memory for one piece: the same bytes in three writes, still under the lock.
            char prefix[kLogPrefixMax];
            WriteAll(file, prefix, FormatLogPrefix(time_, prefix));
            WriteAll(file, text_, textLength_);
            WriteAll(file, "\r\n", 2);
        }
        FlushFileBuffers(file);
    }

private:
    const char* text_;
    size_t textLength_;
    LogTime time_{};
    char small_[512];
    char* bytes_ = nullptr;
    size_t size_ = 0;
};

}  // namespace

void OpenInstallLog(HWND ownerWindow, const char* firstRecord) {
    {
        ExclusiveLock lock(g_logLock);
        if (g_logFile != INVALID_HANDLE_VALUE) return;
    }
    const std::string directory = TempDirectory();
    char path[kLogPathSize];
    HANDLE file = INVALID_HANDLE_VALUE;
    if (ComposeLogPath(directory.data(), directory.size(), path)) file = OpenPlainLogFile(path, directory);
    if (file == INVALID_HANDLE_VALUE) {
        // The message names the full path even when it is too long to have been used.
        const std::string message = "troubleshooting creating log file (" + directory + kLogFileName + ")";
        AskUser(ownerWindow, message.c_str(), "log", kFailureStyle);
        return;
    }
    {
        ExclusiveLock lock(g_logLock);
        if (g_logFile != INVALID_HANDLE_VALUE) {
            // Another thread opened it meanwhile; keep theirs.
            CloseHandle(file);
            return;
        }
        g_logFile = file;
        memcpy(g_logPath, path, sizeof g_logPath);
    }
    if (firstRecord != nullptr) WriteLogLine(firstRecord);
    WriteLogLine("Running setup installation");
}

bool OpenLogCopy(const char* path, DWORD* error) {
    // Appended like the log itself: a path given by mistake loses nothing it held.
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    if (file != INVALID_HANDLE_VALUE && (GetFileType(file) != FILE_TYPE_DISK ||
                                         !SetFilePointerEx(file, zero, nullptr, FILE_END))) {
        CloseHandle(file);
        SetLastError(ERROR_INVALID_NAME);
        file = INVALID_HANDLE_VALUE;
    }
    if (file == INVALID_HANDLE_VALUE) {
        if (error != nullptr) *error = GetLastError();
        return false;
    }
    ExclusiveLock lock(g_logLock);
    if (g_logCopy != INVALID_HANDLE_VALUE) CloseHandle(g_logCopy);
    g_logCopy = file;
    return true;
}

void WriteLogLine(const char* text) {
    const Record record(text);
    ExclusiveLock lock(g_logLock);
    if (g_logFile != INVALID_HANDLE_VALUE) record.WriteTo(g_logFile);
    if (g_logCopy != INVALID_HANDLE_VALUE) record.WriteTo(g_logCopy);
}

void CloseInstallLog() {
    ExclusiveLock lock(g_logLock);
    if (g_logFile != INVALID_HANDLE_VALUE) CloseHandle(g_logFile);
    if (g_logCopy != INVALID_HANDLE_VALUE) CloseHandle(g_logCopy);
    g_logFile = INVALID_HANDLE_VALUE;
    g_logCopy = INVALID_HANDLE_VALUE;
}

void SwitchOffInstallLog() {
    ExclusiveLock lock(g_logLock);
    g_logFile = INVALID_HANDLE_VALUE;
    g_logCopy = INVALID_HANDLE_VALUE;
}

}  // namespace engine::win32
