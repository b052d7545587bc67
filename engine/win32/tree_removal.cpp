// Tree removal by handle, children opened relative to their folder's handle. Never opens
// anything by path and never descends into a link.
#include "engine/win32/tree_removal.h"

#include <cstdint>

#include "engine/win32/nt_files.h"

namespace engine::win32 {

namespace {

constexpr int kDeepest = 256;  // the module may nest deeper than any archive path; the rest is left

struct Entry {
    std::wstring name;
    DWORD attributes;
};

// The folder's entries but "." and "..". False when it cannot be listed.
bool ListFolder(HANDLE folder, std::vector<Entry>* entries) {
    std::vector<uint64_t> buffer(8192);  // 64 KB, aligned for the records
    FILE_INFO_BY_HANDLE_CLASS what = FileIdBothDirectoryRestartInfo;
    for (;;) {
        if (!GetFileInformationByHandleEx(folder, what, buffer.data(), static_cast<DWORD>(buffer.size() * 8))) {
            return GetLastError() == ERROR_NO_MORE_FILES;
        }
        what = FileIdBothDirectoryInfo;
        const auto* bytes = reinterpret_cast<const uint8_t*>(buffer.data());
        for (;;) {
            const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes);
            std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") entries->push_back(Entry{std::move(name), info->FileAttributes});
            if (info->NextEntryOffset == 0) break;
            bytes += info->NextEntryOffset;
        }
    }
}

bool Dispose(HANDLE handle) {
    // FILE_DISPOSITION_INFO_EX (Windows 10 1709 and later): the name goes at once, even
    // while others hold the file open, and a read-only file goes too.
    struct DispositionEx {
        DWORD flags;
    };
    const FILE_INFO_BY_HANDLE_CLASS kDispositionEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
    constexpr DWORD kDelete = 0x1, kPosixSemantics = 0x2, kIgnoreReadOnly = 0x10;
    DispositionEx posix = {kDelete | kPosixSemantics | kIgnoreReadOnly};
    if (SetFileInformationByHandle(handle, kDispositionEx, &posix, sizeof posix)) return true;
    FILE_DISPOSITION_INFO onClose = {TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &onClose, sizeof onClose) != FALSE;
}

// A folder swapped for a junction between listing and opening is opened as the junction
// (FILE_OPEN_REPARSE_POINT) and deleted as one. The listing's word counts too: Wine opens
// a Unix symbolic link's target even then, but lists the link as a reparse point.
// Delete-on-close leaves a name until its last handle goes, so what is left is found by
// listing the folder again, not by what each call answered.
void RemoveBelow(HANDLE folder, const std::wstring& folderPath, int depth, std::vector<std::wstring>* left) {
    std::vector<Entry> entries;
    if (!ListFolder(folder, &entries)) return;  // the folder's own disposal then fails and names it
    for (const Entry& entry : entries) {
        const ULONG share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        DWORD error = 0;
        HANDLE child = NtOpenRelative(folder, entry.name, DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, share,
                                      kNtFileOpen, 0, nullptr, &error);
        bool listable = child != nullptr;
        if (child == nullptr) {  // held by someone who lets nobody read it: it may still go
            child = NtOpenRelative(folder, entry.name, DELETE | FILE_READ_ATTRIBUTES, share, kNtFileOpen, 0, nullptr,
                                   &error);
        }
        if (child == nullptr) continue;
        DWORD attributes = 0, tag = 0;
        const bool known = AttributesOf(child, &attributes, &tag);
        const DWORD both = entry.attributes | attributes;
        const bool plainFolder = known && (entry.attributes & attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                                 (both & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
        if (plainFolder && listable && depth < kDeepest) {
            RemoveBelow(child, folderPath + L"\\" + entry.name, depth + 1, left);
        }
        Dispose(child);
        CloseHandle(child);
    }
    // What is still listed could not go; its own leftovers were noted while descending.
    entries.clear();
    if (!ListFolder(folder, &entries)) return;
    for (const Entry& entry : entries) left->push_back(folderPath + L"\\" + entry.name);
}

}  // namespace

bool RemoveTreeByHandle(HANDLE folder, const std::wstring& folderPath, std::vector<std::wstring>* left) {
    const size_t before = left->size();
    RemoveBelow(folder, folderPath, 0, left);
    if (left->size() == before && Dispose(folder)) return true;
    left->push_back(folderPath);
    return false;
}

void ScheduleRemovalAtRestart(const std::vector<std::wstring>& paths) {
    for (const std::wstring& path : paths) MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

}  // namespace engine::win32
