// kelvane-pack's Windows helpers, shared by its two routes (kelvane_pack.cpp and
// product_pack.cpp): files read and written whole, the stub's checks, the output's checks
// and the resource writing. Windows only; prints nothing but through Fail.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "tools/pack/image_tail.h"
#include "tools/pack/pack_options.h"

namespace pack {

constexpr int kSucceeded = 0;
constexpr int kFailed = 1;
// A resource's size is a DWORD, and the 32-bit installer maps its whole image: anything
// larger could not be loaded.
constexpr uint64_t kMaxResourceBytes = 0x7FFFFFFF;

// One line on standard error: what (the input, as given) and the problem. Returns kFailed.
int Fail(const std::string& what, const std::string& problem);
std::string SystemMessage(DWORD code);
std::string FullPath(const std::string& path);
bool IsFolder(const std::string& path);
bool IsInputFile(const std::string& path, std::string& problem);
bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& problem);
// The rest of an open file, at most kMaxResourceBytes.
bool ReadOpenFile(HANDLE file, std::string& bytes, std::string& problem);
bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string& problem);
// A plain kelvane program carrying none of RCDATA 455-458.
bool CheckStub(const std::string& path, const std::string& bytes, std::string& problem);
// The output may replace a file that nothing holds open, never one of the inputs.
bool CheckOutput(const PackOptions& options, const std::string& full, std::string& problem);
// The stub's bytes into path, then texts[i] as RCDATA 455 + i, then the stub's symbol
// tables put back.
bool WriteStubWithResources(const std::string& path, const std::string& stub, const ImageTail& tail,
                            const std::string* texts[], int count, std::string& problem);
// The closing lines of a written installer on standard output.
void ReportWritten(const PackOptions& options, const std::string& out, const ImageTail& tail);

// A temporary file beside the output, removed unless it was renamed over the output.
class TemporaryFile {
public:
    // folder ends with '\'.
    explicit TemporaryFile(const std::string& folder) {
        char path[MAX_PATH];
        if (folder.size() < MAX_PATH - 14 && GetTempFileNameA(folder.c_str(), "kvp", 0, path) != 0) path_ = path;
    }
    ~TemporaryFile() {
        if (!path_.empty()) DeleteFileA(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::string& path() const { return path_; }
    bool renameTo(const std::string& target) {
        if (!MoveFileExA(path_.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return false;
        }
        path_.clear();
        return true;
    }

private:
    std::string path_;
};

// The --product route (product_pack.cpp).
int PackProduct(const PackOptions& options);

}  // namespace pack
