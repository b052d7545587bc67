// Helpers for the engine's Win32 tests: a message box recorder, scratch directories
// and file helpers. Test-only; must not be linked into the program.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace engine_test {

struct RecordedBox {
    HWND owner;
    std::string text;
    bool hasCaption;
    std::string caption;
    UINT style;
};

// Replaces the engine's message box with a recorder for the life of the object.
// Boxes are recorded from any thread; read them on the test's thread afterwards.
class BoxRecorder {
public:
    BoxRecorder();
    ~BoxRecorder();
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;
    std::vector<RecordedBox> boxes() const;
};

// A fresh, empty directory under the temp directory the process started with;
// removed with everything below it on destruction.
class ScratchDirectory {
public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    const std::string& path() const { return path_; }  // no trailing backslash
    std::string file(const std::string& name) const { return path_ + "\\" + name; }
    // Makes path()\name (one level) and returns its path.
    std::string folder(const std::string& name) const;

private:
    std::string path_;
};

// Removes path and everything below it; a linked folder inside is removed as a link,
// without touching what it leads to.
void RemoveTree(const std::string& path);

// Sets TMP and TEMP (what GetTempPathA reads) and restores them on destruction.
class TempDirectoryOverride {
public:
    explicit TempDirectoryOverride(const std::string& directory);
    ~TempDirectoryOverride();
    TempDirectoryOverride(const TempDirectoryOverride&) = delete;
    TempDirectoryOverride& operator=(const TempDirectoryOverride&) = delete;

private:
    std::string oldTmp_, oldTemp_;
    bool hadTmp_, hadTemp_;
};

// Makes directory the current one and restores the old one on destruction.
class CurrentDirectoryOverride {
public:
    explicit CurrentDirectoryOverride(const std::string& directory);
    ~CurrentDirectoryOverride();
    CurrentDirectoryOverride(const CurrentDirectoryOverride&) = delete;
    CurrentDirectoryOverride& operator=(const CurrentDirectoryOverride&) = delete;

private:
    std::string old_;
};

// True under Wine, where the test machines' file systems make hard links, symbolic
// links and sparse files: tests that may skip on Windows must run for real there.
inline bool IsWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

bool WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);  // empty when it cannot be read

// True when line is "(dd/mm/yyyy hh:mm:ss) " followed by text, digits in place.
bool IsRecordOf(const std::string& line, const std::string& text);

}  // namespace engine_test
