// Helpers for the Wine tests that run programs of this tree as child processes: file
// copies and a run with stdout and stderr captured (scratch folders: engine_test).
// Test-only; the children inherit this process's environment (TMP, TEMP ...).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace modtest_test {

// The folder of the running test program, with a trailing backslash; the programs
// and modules of the build lie there too.
std::string BinDirectory();

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
