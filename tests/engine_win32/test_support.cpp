// Test helpers for the engine's Win32 tests. Only touches the engine through its
// replaceable message box; everything else is plain file and environment work.
#include "test_support.h"

#include <atomic>
#include <mutex>

#include "engine/win32/message_box.h"

namespace engine_test {

namespace {

std::mutex g_boxMutex;
std::vector<RecordedBox> g_boxes;

int WINAPI RecordBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    std::lock_guard<std::mutex> lock(g_boxMutex);
    g_boxes.push_back(RecordedBox{owner, text ? text : "", caption != nullptr, caption ? caption : "", style});
    return IDOK;
}

// Captured before any test redirects TMP, so scratch space stays in the real temp dir.
std::string StartupTempDirectory() {
    static const std::string directory = [] {
        char buffer[MAX_PATH + 1];
        DWORD length = GetTempPathA(sizeof buffer, buffer);
        return std::string(buffer, length);
    }();
    return directory;
}

bool ReadVariable(const char* name, std::string& value) {
    char buffer[32768];
    DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer) return false;
    value.assign(buffer, length);
    return true;
}

}  // namespace

BoxRecorder::BoxRecorder() {
    std::lock_guard<std::mutex> lock(g_boxMutex);
    g_boxes.clear();
    engine::win32::g_messageBox = RecordBox;
}

BoxRecorder::~BoxRecorder() { engine::win32::g_messageBox = MessageBoxA; }

std::vector<RecordedBox> BoxRecorder::boxes() const {
    std::lock_guard<std::mutex> lock(g_boxMutex);
    return g_boxes;
}

ScratchDirectory::ScratchDirectory() {
    static std::atomic<unsigned> counter{0};
    const std::string base = StartupTempDirectory();
    for (;;) {
        path_ = base + "kvengine-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
        if (CreateDirectoryA(path_.c_str(), nullptr)) return;
        if (GetLastError() != ERROR_ALREADY_EXISTS) return;
    }
}

ScratchDirectory::~ScratchDirectory() { RemoveTree(path_); }

std::string ScratchDirectory::folder(const std::string& name) const {
    const std::string full = file(name);
    CreateDirectoryA(full.c_str(), nullptr);
    return full;
}

void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            const std::string full = path + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                // A linked folder goes, not what it leads to.
                if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) RemoveDirectoryA(full.c_str());
                else RemoveTree(full);
            } else {
                SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(full.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

TempDirectoryOverride::TempDirectoryOverride(const std::string& directory) {
    StartupTempDirectory();
    hadTmp_ = ReadVariable("TMP", oldTmp_);
    hadTemp_ = ReadVariable("TEMP", oldTemp_);
    SetEnvironmentVariableA("TMP", directory.c_str());
    SetEnvironmentVariableA("TEMP", directory.c_str());
}

TempDirectoryOverride::~TempDirectoryOverride() {
    SetEnvironmentVariableA("TMP", hadTmp_ ? oldTmp_.c_str() : nullptr);
    SetEnvironmentVariableA("TEMP", hadTemp_ ? oldTemp_.c_str() : nullptr);
}

CurrentDirectoryOverride::CurrentDirectoryOverride(const std::string& directory) {
    char buffer[MAX_PATH + 1];
    DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
    old_.assign(buffer, length < sizeof buffer ? length : 0);
    SetCurrentDirectoryA(directory.c_str());
}

CurrentDirectoryOverride::~CurrentDirectoryOverride() {
    if (!old_.empty()) SetCurrentDirectoryA(old_.c_str());
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    CloseHandle(file);
    return ok;
}

std::string ReadBytes(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

bool IsRecordOf(const std::string& line, const std::string& text) {
    static const char shape[] = "(dd/dd/dddd dd:dd:dd) ";
    const size_t prefixLength = sizeof shape - 1;
    if (line.size() != prefixLength + text.size()) return false;
    for (size_t i = 0; i < prefixLength; ++i) {
        const bool ok = shape[i] == 'd' ? (line[i] >= '0' && line[i] <= '9') : line[i] == shape[i];
        if (!ok) return false;
    }
    return line.compare(prefixLength, std::string::npos, text) == 0;
}

}  // namespace engine_test
