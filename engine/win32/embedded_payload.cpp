// One-file installers on Win32. The program runs elevated, so the unpacking is where
// another process could slip its own DLL in: the folder admits nobody else, every file
// is new, and each is checked again from disk through a handle that keeps it as checked
// until the module is loaded.
#include "engine/win32/embedded_payload.h"

#include <wincrypt.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/core/archive.h"
#include "engine/core/sha256.h"
#include "engine/win32/locked_folder.h"

namespace engine::win32 {

namespace {

constexpr uint64_t kProgressAbove = 4u << 20;

const uint8_t* g_archive = nullptr;
size_t g_archiveSize = 0;
ArchiveIndex g_index;
std::string g_folder;  // with its trailing backslash, once unpacked

struct HeldFile {
    std::string path;
    HANDLE handle;
};
std::vector<HeldFile> g_held;
std::vector<std::string> g_made;  // files and sub-folders made, in order

bool WriteChunk(void* context, const uint8_t* bytes, size_t size) {
    HANDLE file = static_cast<HANDLE>(context);
    while (size > 0) {
        const DWORD chunk = size > (1u << 20) ? (1u << 20) : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, bytes, chunk, &written, nullptr) || written == 0) return false;
        bytes += written;
        size -= written;
    }
    return true;
}

std::string SystemText(const char* what, DWORD code) {
    char text[96];
    snprintf(text, sizeof text, "%s (error %lu)", what, static_cast<unsigned long>(code));
    return text;
}

// The bytes on disk, read through handle, against the archive's size and SHA-256.
bool MatchesOnDisk(HANDLE handle, const ArchiveEntry& entry) {
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    if (!SetFilePointerEx(handle, zero, nullptr, FILE_BEGIN)) return false;
    Sha256 hash;
    std::vector<uint8_t> buffer(1u << 16);
    uint64_t total = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(handle, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return false;
        if (got == 0) break;
        hash.update(buffer.data(), got);
        total += got;
    }
    uint8_t digest[32];
    hash.finish(digest);
    return total == entry.size && memcmp(digest, entry.sha256, sizeof digest) == 0;
}

// Sub-folders of an entry's path, made inside the locked folder (they take its access
// list); each made one is noted for removal.
bool MakeParents(const std::string& relative) {
    for (size_t at = relative.find('\\'); at != std::string::npos; at = relative.find('\\', at + 1)) {
        const std::string folder = g_folder + relative.substr(0, at);
        if (CreateDirectoryA(folder.c_str(), nullptr)) {
            g_made.push_back(folder);
        } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
            return false;
        }
    }
    return true;
}

bool UnpackEntry(const ArchiveEntry& entry, std::string* failure) {
    const std::string path = g_folder + entry.path;
    if (!MakeParents(entry.path)) {
        *failure = SystemText(("cannot make the folder of " + entry.path).c_str(), GetLastError());
        return false;
    }
    HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (writer == INVALID_HANDLE_VALUE) {
        *failure = SystemText(("cannot create " + entry.path).c_str(), GetLastError());
        return false;
    }
    g_made.push_back(path);
    std::string why;
    const bool written = ExtractEntry(g_archive, g_archiveSize, entry, WriteChunk, writer, &why);
    const DWORD writeError = GetLastError();
    const bool closed = CloseHandle(writer) != FALSE;
    if (!written || !closed) {
        *failure = why.empty() ? SystemText(("cannot write " + entry.path).c_str(), writeError) : why;
        return false;
    }
    // Read back through a handle that shares reading only: from here until it is closed
    // nobody can change, rename or delete the file, and what was checked is what loads.
    HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (reader == INVALID_HANDLE_VALUE) {
        *failure = SystemText(("cannot open " + entry.path + " again").c_str(), GetLastError());
        return false;
    }
    g_held.push_back(HeldFile{path, reader});
    if (!MatchesOnDisk(reader, entry)) {
        *failure = entry.path + " changed on disk after it was written";
        return false;
    }
    return true;
}

std::string UniqueFolderName() {
    uint8_t random[16];
    HCRYPTPROV provider = 0;
    const bool ok = CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL,
                                         CRYPT_VERIFYCONTEXT | CRYPT_SILENT) &&
                    CryptGenRandom(provider, sizeof random, random);
    if (provider != 0) CryptReleaseContext(provider, 0);
    if (!ok) return std::string();
    char name[48] = "kelvane-";
    for (size_t i = 0; i < sizeof random; ++i) snprintf(name + 8 + 2 * i, 3, "%02x", random[i]);
    return name;
}

std::string TempFolder() {
    char path[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof path, path);
    if (length == 0 || length >= sizeof path) return std::string();
    std::string folder(path, length);
    if (folder.back() != '\\') folder += '\\';
    return folder;
}

}  // namespace

bool CheckEmbeddedPayload(std::string* failure) {
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(kArchiveResourceId), MAKEINTRESOURCEA(10));  // RT_RCDATA
    if (found == nullptr) return true;
    HGLOBAL loaded = LoadResource(nullptr, found);
    const auto* bytes = static_cast<const uint8_t*>(loaded != nullptr ? LockResource(loaded) : nullptr);
    const DWORD size = SizeofResource(nullptr, found);
    if (bytes == nullptr) {
        *failure = "its payload cannot be read";
        return false;
    }
    ArchiveIndex index = ReadArchive(bytes, size, true);
    if (!index.ok) {
        *failure = index.failure;
        return false;
    }
    g_archive = bytes;
    g_archiveSize = size;
    g_index = std::move(index);
    return true;
}

bool HasEmbeddedPayload() { return g_archive != nullptr; }

bool UnpackEmbeddedPayload(std::string* folder, std::string* failure, void (*progress)(const char* text)) {
    if (!g_folder.empty()) {
        *folder = g_folder;
        return true;
    }
    const std::string temp = TempFolder();
    DWORD error = ERROR_ALREADY_EXISTS;
    std::string path;
    // A name that is taken is never used; a few fresh draws, then give up.
    for (int attempt = 0; attempt < 4 && error == ERROR_ALREADY_EXISTS; ++attempt) {
        const std::string name = UniqueFolderName();
        if (temp.empty() || name.empty()) {
            error = temp.empty() ? ERROR_PATH_NOT_FOUND : ERROR_NOT_ENOUGH_MEMORY;
            break;
        }
        path = temp + name;
        if (CreateLockedFolder(path, &error)) error = ERROR_SUCCESS;
    }
    if (error != ERROR_SUCCESS) {
        *failure = SystemText("cannot create a private folder for the installation files", error);
        return false;
    }
    g_folder = path + "\\";
    const bool tell = progress != nullptr && g_index.totalSize > kProgressAbove;
    uint64_t done = 0;
    char line[160];
    for (size_t i = 0; i < g_index.entries.size(); ++i) {
        if (!UnpackEntry(g_index.entries[i], failure)) {
            RemovePayloadFolder();
            return false;
        }
        done += g_index.entries[i].size;
        if (tell) {
            snprintf(line, sizeof line, "Unpacked %u of %u files, %.1f of %.1f MB\n", static_cast<unsigned>(i + 1),
                     static_cast<unsigned>(g_index.entries.size()), done / 1048576.0, g_index.totalSize / 1048576.0);
            progress(line);
        }
    }
    *folder = g_folder;
    return true;
}

void ReleasePayloadFiles(const char* keep) {
    for (HeldFile& held : g_held) {
        if (held.handle == nullptr || (keep != nullptr && _stricmp(held.path.c_str(), keep) == 0)) continue;
        CloseHandle(held.handle);
        held.handle = nullptr;
    }
}

namespace {

// What RemovePayloadFolder may not leave to a helper: the folder is ours only if it is
// the temp folder's "kelvane-" and 32 hexadecimal digits.
bool IsOurFolderName(const std::string& folder) {
    const std::string temp = TempFolder();
    if (temp.empty() || folder.size() != temp.size() + 40 || _strnicmp(folder.c_str(), temp.c_str(), temp.size()) != 0 ||
        folder.compare(temp.size(), 8, "kelvane-") != 0) {
        return false;
    }
    for (size_t i = temp.size() + 8; i < folder.size(); ++i) {
        if (!isxdigit(static_cast<unsigned char>(folder[i]))) return false;
    }
    return true;
}

// Calls visit(path, attributes) for each entry of folder (no trailing backslash).
template <typename Visit>
void ForEachEntry(const std::string& folder, Visit visit) {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = entry.cFileName;
        if (name != "." && name != "..") visit(folder + "\\" + name, entry.dwFileAttributes);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}

// A folder to descend into: links are handled as links, never followed.
bool IsRealFolder(DWORD attributes) {
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == FILE_ATTRIBUTE_DIRECTORY;
}

// Files and folders below folder, deepest first. True when folder is gone.
bool RemoveTree(const std::string& folder) {
    ForEachEntry(folder, [](const std::string& path, DWORD attributes) {
        if (IsRealFolder(attributes)) {
            RemoveTree(path);
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            RemoveDirectoryA(path.c_str());
        } else {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
    });
    return RemoveDirectoryA(folder.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

void ScheduleTreeRemoval(const std::string& folder) {
    ForEachEntry(folder, [](const std::string& path, DWORD attributes) {
        if (IsRealFolder(attributes)) {
            ScheduleTreeRemoval(path);
        } else {
            MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        }
    });
    MoveFileExA(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// The loaded module cannot go while this process lives: a copy of the program waits for
// its end and removes the rest. True when one was started.
bool StartFolderRemover(const std::string& folder) {
    char program[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
    if (length == 0 || length >= sizeof program) return false;
    std::string commandLine = std::string("\"") + program + "\" /kelvane-remove-folder=" +
                              std::to_string(GetCurrentProcessId()) + ":\"" + folder + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessA(program, &commandLine[0], nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr,
                        &startup, &started)) {
        return false;
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return true;
}

}  // namespace

void RemovePayloadFolder() {
    if (g_folder.empty()) return;
    ReleasePayloadFiles(nullptr);
    const std::string root = g_folder.substr(0, g_folder.size() - 1);
    g_made.clear();
    g_held.clear();
    g_folder.clear();
    if (!RemoveTree(root) && !StartFolderRemover(root)) ScheduleTreeRemoval(root);
}

int RunFolderRemover(const std::string& request) {
    const size_t colon = request.find(':');
    const std::string folder = colon == std::string::npos ? std::string() : request.substr(colon + 1);
    if (!IsOurFolderName(folder)) return 1;  // never anything else, whoever asks
    const DWORD parent = static_cast<DWORD>(strtoul(request.c_str(), nullptr, 10));
    if (HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, parent)) {
        WaitForSingleObject(process, 60000);
        CloseHandle(process);
    }
    for (int attempt = 0; attempt < 40; ++attempt) {
        if (RemoveTree(folder)) return 0;
        Sleep(250);
    }
    ScheduleTreeRemoval(folder);
    return 0;
}

}  // namespace engine::win32
