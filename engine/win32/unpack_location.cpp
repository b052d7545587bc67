// The unpacking folder's parent, from the token and the system's own folders. Reads no
// environment variable for an elevated run; creates nothing.
#include "engine/win32/unpack_location.h"

#include <cstdio>

#include "engine/win32/nt_files.h"
#include "engine/win32/run_mode.h"

// An elevated process must not take the user's %TEMP%: the user's environment, and so the
// folder, is anyone's the user runs. Under Wine 8 the test process is elevated (a full
// token), C:\windows\Temp exists and C: reports FILE_PERSISTENT_ACLS on a fixed drive, so
// the same rules hold there.
namespace engine::win32 {

namespace {

std::string ErrorText(const char* what, DWORD code) {
    char text[128];
    snprintf(text, sizeof text, "%s (error %lu)", what, static_cast<unsigned long>(code));
    return text;
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring WithBackslash(std::wstring path) {
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    return path;
}

// From a bounded call that returns the length it needs when the buffer is short.
template <typename Call>
std::wstring AskForPath(Call call) {
    wchar_t path[MAX_PATH + 1];
    const UINT length = call(path, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return std::wstring();  // a cut path names another place
    return std::wstring(path, length);
}

}  // namespace

RunAccount CurrentRunAccount() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return RunAccount::elevated;
    RunAccount account = RunAccount::elevated;
    alignas(TOKEN_USER) BYTE user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
    DWORD size = 0;
    TOKEN_ELEVATION elevation = {};
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    if (GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
        IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, WinLocalSystemSid)) {
        account = RunAccount::system;
    } else if (GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
               GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size)) {
        // With UAC off an administrator's token is unfiltered yet reports no elevation.
        const bool unfilteredAdministrator = type == TokenElevationTypeDefault && RunsAsAdministrator();
        if (elevation.TokenIsElevated == 0 && !unfilteredAdministrator) account = RunAccount::unelevated;
    }
    CloseHandle(token);
    return account;
}

bool UnpackParentFor(RunAccount account, std::wstring* parent, std::string* why) {
    if (account == RunAccount::unelevated) {
        *parent = WithBackslash(AskForPath([](wchar_t* out, UINT size) { return GetTempPathW(size, out); }));
    } else {
        const std::wstring windows =
            AskForPath([](wchar_t* out, UINT size) { return GetSystemWindowsDirectoryW(out, size); });
        parent->clear();
        if (account == RunAccount::system) {
            // For SYSTEM it answers %windir%\SystemTemp, not the environment.
            using GetTempPath2Fn = DWORD(WINAPI*)(DWORD, LPWSTR);
            const auto getTempPath2 = reinterpret_cast<GetTempPath2Fn>(
                reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTempPath2W")));
            if (getTempPath2 != nullptr) {
                *parent = WithBackslash(
                    AskForPath([getTempPath2](wchar_t* out, UINT size) { return getTempPath2(size, out); }));
            } else if (!windows.empty() && IsFolder(WithBackslash(windows) + L"SystemTemp")) {
                *parent = WithBackslash(windows) + L"SystemTemp\\";
            }
        }
        if (parent->empty() && !windows.empty()) *parent = WithBackslash(windows) + L"Temp\\";
    }
    if (parent->empty()) {
        *why = "no temporary folder is known";
        return false;
    }
    return true;
}

HANDLE OpenUnpackParent(const std::wstring& parent, std::string* why) {
    HANDLE folder = CreateFileW(parent.c_str(), FILE_TRAVERSE | FILE_ADD_SUBDIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        *why = ErrorText("the temporary folder cannot be opened", GetLastError());
        return nullptr;
    }
    DWORD attributes = 0, tag = 0, flags = 0;
    wchar_t volume[MAX_PATH + 1];
    // The path's own word too, without the backslash that would lead through a link:
    // Wine opens a Unix symbolic link's target but lists the link as a reparse point.
    const std::wstring bare = parent.size() > 3 ? parent.substr(0, parent.size() - 1) : parent;
    if (!AttributesOf(folder, &attributes, &tag) || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        ((attributes | GetFileAttributesW(bare.c_str())) & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        *why = "the temporary folder is a link or not a folder";
    } else if (!GetVolumeInformationByHandleW(folder, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) ||
               (flags & FILE_PERSISTENT_ACLS) == 0) {
        *why = "the temporary folder's volume keeps no access lists";
    } else if (!GetVolumePathNameW(parent.c_str(), volume, MAX_PATH + 1) || GetDriveTypeW(volume) != DRIVE_FIXED) {
        *why = "the temporary folder is not on a fixed local drive";
    } else {
        return folder;
    }
    CloseHandle(folder);
    return nullptr;
}

}  // namespace engine::win32
