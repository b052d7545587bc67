// Helpers for the Wine tests that run programs of this tree as child processes: a
// scratch folder tree, file copies, and a run with stdout and stderr captured.
// Test-only; the children inherit this process's environment (TMP, TEMP ...).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace modtest_test {

// The folder of the running test program, with a trailing backslash; the programs
// and modules of the build lie there too.
std::string BinDirectory();

// A fresh folder under the temp directory the process started with, removed with
// everything below it on destruction.
class ScratchTree {
public:
    ScratchTree();
    ~ScratchTree();
    ScratchTree(const ScratchTree&) = delete;
    ScratchTree& operator=(const ScratchTree&) = delete;
    const std::string& path() const { return path_; }  // no trailing backslash
    std::string file(const std::string& name) const { return path_ + "\\" + name; }
    // Makes path()\name (one level) and returns its path.
    std::string folder(const std::string& name) const;

private:
    std::string path_;
};

void RemoveTree(const std::string& path);
bool Exists(const std::string& path);
bool IsFolder(const std::string& path);
// Copies BinDirectory()\name into folder; false when it fails.
bool CopyFromBin(const std::string& name, const std::string& folder);

struct ProgramRun {
    bool finished = false;  // false: could not start, or killed after the timeout
    DWORD exitCode = 0;
    std::string out;
    std::string err;
};

// Runs program with arguments (quoted as needed), stdout and stderr to files, waits
// at most timeoutMs. Main thread of the test.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      DWORD timeoutMs = 60000);

// Lines of text without their line ends (CR LF or LF).
std::vector<std::string> Lines(const std::string& text);

}  // namespace modtest_test
