// Installation log on Win32. Runs elevated in the user's temp directory, so the open
// must refuse anything but a plain single-link file; so must the /log= copy, wherever it
// is. No record may be cut or mixed, not even with another run's.
#include "engine/win32/install_log.h"

#include <aclapi.h>

#include <cstring>
#include <string>

#include "engine/core/log_record.h"
#include "engine/win32/exclusive_lock.h"
#include "engine/win32/message_box.h"
#include "engine/win32/run_mode.h"

namespace engine::win32 {

HANDLE g_logFile = INVALID_HANDLE_VALUE;
char g_logPath[260] = "";

namespace {

// The /log= copy: every record the log gets, in the same bytes. Under the log lock.
HANDLE g_logCopy = INVALID_HANDLE_VALUE;
// What SwitchOffInstallLog took away, for WriteLateLogLine. Under the log lock.
HANDLE g_lateLog = INVALID_HANDLE_VALUE;
HANDLE g_lateCopy = INVALID_HANDLE_VALUE;

static_assert(sizeof g_logPath == kLogPathSize, "log path buffer");

// Guards g_logFile and every write: one record is one critical section, and close or
// switch-off waits for the record in progress.
SRWLOCK g_logLock = SRWLOCK_INIT;

constexpr UINT kFailureStyle = MB_SYSTEMMODAL;  // 0x1000: OK, no icon

// Writers of one file, in this process or another run's, take this byte's lock for each
// record, so that going to the end and writing there is one step. Far past any end: no
// record ever reaches it.
constexpr DWORD kRecordLockOffsetHigh = 0x40000000u;

// Another run (a second installation refused, the same /log= path) may append to the
// same file meanwhile; the record lock keeps their records whole.
constexpr DWORD kShareMode = FILE_SHARE_READ | FILE_SHARE_WRITE;

// An interactive run keeps the log to itself, as it always has (others may read it); an
// unattended run lets another unattended run, refused or not, append its records.
DWORD MainLogShareMode() { return Unattended() ? kShareMode : FILE_SHARE_READ; }


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

HANDLE OpenFolder(const char* path) {
    return CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

HANDLE OpenFolder(const wchar_t* path) {
    return CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// True when the opened file really is the file name in the folder (which this closes).
// A folder that is redirected as a whole (a junction, a link of the folder) resolves
// the same way for both and passes; a link planted at the file, which the attribute
// check may not see (a Unix link under Wine looks like its target), and a folder that
// cannot be opened or resolved do not.
bool IsNamedInFolder(HANDLE file, HANDLE folder, const std::wstring& name) {
    if (folder == INVALID_HANDLE_VALUE) return false;
    std::wstring expected = FinalPath(folder);
    CloseHandle(folder);
    if (expected.empty()) return false;
    if (expected.back() != L'\\') expected += L'\\';
    expected += name;
    const std::wstring actual = FinalPath(file);
    return !actual.empty() && CompareStringOrdinal(actual.c_str(), static_cast<int>(actual.size()), expected.c_str(),
                                                   static_cast<int>(expected.size()), TRUE) == CSTR_EQUAL;
}

// The log in the temp directory itself.
bool IsTheLogInItsDirectory(HANDLE file, const std::string& directory) {
    std::wstring name;
    for (const char* c = kLogFileName + 1; *c != 0; ++c) name += static_cast<wchar_t>(*c);  // plain ASCII
    return IsNamedInFolder(file, OpenFolder(directory.c_str()), name);
}

HANDLE CreateAt(const char* path, DWORD access, DWORD disposition, DWORD flags) {  // the main log
    return CreateFileA(path, access, MainLogShareMode(), nullptr, disposition, flags, nullptr);
}

HANDLE CreateAt(const wchar_t* path, DWORD access, DWORD disposition, DWORD flags) {
    return CreateFileW(path, access, kShareMode, nullptr, disposition, flags, nullptr);
}

// \\.\, \\?\ and \??\ (either slash): devices, raw volumes and paths the system takes
// as given, none of them a log file.
bool IsDeviceNamespacePath(const wchar_t* path) {
    auto slash = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    if (!slash(path[0])) return false;
    if (slash(path[1])) return (path[2] == L'.' || path[2] == L'?') && (path[3] == 0 || slash(path[3]));
    return path[1] == L'?' && path[2] == L'?' && slash(path[3]);
}

// The file's name in its long form, so that an 8.3 alias given on the command line
// still matches the name the system resolves the handle to.
std::wstring LongName(const std::wstring& fullPath, const std::wstring& name) {
    WCHAR longPath[1024];
    const DWORD length = GetLongPathNameW(fullPath.c_str(), longPath, 1024);
    if (length == 0 || length >= 1024) return name;
    const std::wstring path(longPath, length);
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? name : path.substr(slash + 1);
}

// An existing file written with administrator rights must belong to an account that
// non-administrators cannot use: one made beforehand in a shared folder by another user
// would let that user read what the run writes.
bool HasTrustedOwner(HANDLE file, LogCopyFailure* failure) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error =
        GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr, &descriptor);
    bool trusted = false;
    if (error != ERROR_SUCCESS) {
        failure->error = error;
    } else if (IsSystemOrAdministrators(owner) || IsThisAccount(owner)) {
        trusted = true;
    } else {
        failure->reason = "it exists and belongs to " + SidText(owner) + ", not to SYSTEM, Administrators or this account";
    }
    if (descriptor != nullptr) LocalFree(descriptor);
    return trusted;
}

// Opens the existing log or creates a new one. Never creates through a link: a link
// whose target does not exist yet would otherwise make that file wherever it points
// (CREATE_NEW fails on any name already taken, a dangling link included).
// *created tells which.
template <typename Char>
HANDLE OpenOrCreate(const Char* path, DWORD access, bool* created = nullptr) {
    constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    for (int attempt = 0; attempt < 2; ++attempt) {
        HANDLE file = CreateAt(path, access, OPEN_EXISTING, kFlags);
        if (created != nullptr) *created = false;
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_NOT_FOUND) return file;
        file = CreateAt(path, access, CREATE_NEW, kFlags);
        if (created != nullptr) *created = true;
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
        // Made by someone else in between, or a dangling link: look once more.
    }
    return INVALID_HANDLE_VALUE;
}

HANDLE OpenPlainLogFile(const char* path, const std::string& directory) {
    HANDLE file = OpenOrCreate(path, GENERIC_WRITE);
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
        OVERLAPPED recordLock = {};
        recordLock.OffsetHigh = kRecordLockOffsetHigh;
        // Without the lock (a file system that has none) the record is still written.
        const bool locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &recordLock) != FALSE;
        LARGE_INTEGER zero;
        zero.QuadPart = 0;
        // Never where it could overwrite a record: no end, no record.
        if (SetFilePointerEx(file, zero, nullptr, FILE_END)) Write(file);
        if (locked) UnlockFileEx(file, 0, 1, 0, &recordLock);
    }

private:
    void Write(HANDLE file) const {
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
        // A copy starts with the run's own first record all the same, not with the box's.
        if (firstRecord != nullptr) WriteLogLine(firstRecord);
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

bool OpenLogCopy(const wchar_t* path, LogCopyFailure* failure) {
    LogCopyFailure ignored;
    if (failure == nullptr) failure = &ignored;
    if (IsDeviceNamespacePath(path)) {
        failure->reason = "it is a device path (\\\\.\\, \\\\?\\ or \\??\\)";
        return false;
    }
    // The full path, as the open uses it, names both the folder and the file.
    std::wstring full(MAX_PATH, L'\0');
    for (int attempt = 0;; ++attempt) {
        const DWORD length = GetFullPathNameW(path, static_cast<DWORD>(full.size()), &full[0], nullptr);
        if (length == 0 || attempt == 2) {
            failure->error = length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
            return false;
        }
        const bool fits = length < full.size();
        full.resize(length);  // when it did not fit: the size needed, NUL included
        if (fits) break;
    }
    const size_t slash = full.find_last_of(L'\\');
    // A reserved name (NUL, COM1...) comes back from the system as \\.\NUL.
    if (IsDeviceNamespacePath(full.c_str()) || slash == std::wstring::npos || slash + 1 == full.size()) {
        failure->reason = IsDeviceNamespacePath(full.c_str()) ? "it names a device" : "it names no file";
        return false;
    }
    bool created = false;
    HANDLE file = OpenOrCreate(full.c_str(), GENERIC_WRITE | READ_CONTROL, &created);
    if (file == INVALID_HANDLE_VALUE) {
        failure->error = GetLastError();
        return false;
    }
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    const std::wstring folder = full.substr(0, slash + (slash == 2 ? 1 : 0));  // "C:\" keeps its backslash
    if (!IsPlainSingleLinkFile(file) ||
        !IsNamedInFolder(file, OpenFolder(folder.c_str()), LongName(full, full.substr(slash + 1)))) {
        failure->reason = "it is not a plain file with a single name (a link, a hard link, a folder or a device)";
    } else if (!created && RunsAsAdministrator() && !HasTrustedOwner(file, failure)) {
        // failure says why
    } else if (!SetFilePointerEx(file, zero, nullptr, FILE_END)) {
        failure->error = GetLastError();
    } else {
        ExclusiveLock lock(g_logLock);
        if (g_logCopy != INVALID_HANDLE_VALUE) CloseHandle(g_logCopy);
        g_logCopy = file;
        return true;
    }
    CloseHandle(file);
    return false;
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
    if (g_logFile != INVALID_HANDLE_VALUE) g_lateLog = g_logFile;
    if (g_logCopy != INVALID_HANDLE_VALUE) g_lateCopy = g_logCopy;
    g_logFile = INVALID_HANDLE_VALUE;
    g_logCopy = INVALID_HANDLE_VALUE;
}

void WriteLateLogLine(const char* text) {
    const Record record(text);
    ExclusiveLock lock(g_logLock);
    if (g_lateLog != INVALID_HANDLE_VALUE) record.WriteTo(g_lateLog);
    if (g_lateCopy != INVALID_HANDLE_VALUE) record.WriteTo(g_lateCopy);
}

}  // namespace engine::win32
