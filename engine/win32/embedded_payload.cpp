// One-file installers on Win32: unpacking, holding and removing. Never reuses a folder or
// file that exists and never finds anything again by a path someone else could change.
#include "engine/win32/embedded_payload.h"

#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/core/archive.h"
#include "engine/core/archive_names.h"
#include "engine/core/sha256.h"
#include "engine/win32/locked_folder.h"
#include "engine/win32/nt_files.h"
#include "engine/win32/parallel_jobs.h"
#include "engine/win32/tree_removal.h"
#include "engine/win32/unpack_location.h"

// The program runs elevated, so the unpacking is where another process could slip its own
// DLL in: the folder admits nobody else and is held from its making to its removal, every
// file is new and checked again from disk through a handle that keeps it as checked until
// the module is loaded.
namespace engine::win32 {

namespace {

constexpr uint64_t kProgressAbove = 4u << 20;
constexpr size_t kFolderNameLength = 8 + 32;  // "kelvane-" and 32 hexadecimal digits

const uint8_t* g_archive = nullptr;
size_t g_archiveSize = 0;
ArchiveIndex g_index;
RunAccount g_account = RunAccount::elevated;
std::wstring g_parent;  // decided at start, with its trailing backslash

HANDLE volatile g_root = nullptr;  // the unpacking folder, held from its making to its removal
std::wstring g_folder;             // its path, with the trailing backslash
std::string g_folderAnsi;

struct Held {
    std::wstring path;  // full for files, relative to the folder for sub-folders
    HANDLE handle;
};
std::vector<Held> g_files;
std::vector<Held> g_subFolders;  // parents before their children
std::wstring g_modulePath;       // the file kept open for the loader
volatile LONG g_moduleRunning = 0;

// Inflated bytes gathered into large writes: the archive hands them out in small chunks.
struct FileWriter {
    HANDLE file;
    std::vector<uint8_t> pending;
    bool flush() {
        const uint8_t* bytes = pending.data();
        size_t size = pending.size();
        while (size > 0) {
            const DWORD chunk = size > (1u << 20) ? (1u << 20) : static_cast<DWORD>(size);
            DWORD written = 0;
            if (!WriteFile(file, bytes, chunk, &written, nullptr) || written == 0) return false;
            bytes += written;
            size -= written;
        }
        pending.clear();
        return true;
    }
};

constexpr size_t kWriteSize = 1u << 20;

bool WriteChunk(void* context, const uint8_t* bytes, size_t size) {
    FileWriter& writer = *static_cast<FileWriter*>(context);
    writer.pending.insert(writer.pending.end(), bytes, bytes + size);
    return writer.pending.size() < kWriteSize || writer.flush();
}

std::string SystemText(const std::string& what, DWORD code) {
    char text[32];
    snprintf(text, sizeof text, " (error %lu)", static_cast<unsigned long>(code));
    return what + text;
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

bool Utf8ToWide(const std::string& text, std::wstring* out) {
    if (text.empty() || text.size() > 32767) return false;
    const int length = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (needed <= 0) return false;
    out->assign(static_cast<size_t>(needed), L'\0');
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, &(*out)[0], needed) == needed;
}

// The folder's path in the ANSI code page, which the module's programDirectory is in;
// false when a character has no exact counterpart there.
bool ToAnsiExactly(const std::wstring& text, std::string* out) {
    const int length = static_cast<int>(text.size());
    BOOL lossy = FALSE;
    const int needed = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), length, nullptr, 0, nullptr,
                                           &lossy);
    if (needed <= 0 || lossy) return false;
    out->assign(static_cast<size_t>(needed), '\0');
    return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), length, &(*out)[0], needed, nullptr,
                               &lossy) == needed &&
           !lossy;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// The held folder of relative (empty: the unpacking folder), each missing part made and
// held; null with *error.
HANDLE HeldFolderOf(const std::wstring& relative, LockedFolderSecurity& security, DWORD* error) {
    HANDLE parent = g_root;
    size_t start = 0;
    while (start < relative.size()) {
        size_t end = relative.find(L'\\', start);
        if (end == std::wstring::npos) end = relative.size();
        const std::wstring sofar = relative.substr(0, end);
        HANDLE found = nullptr;
        for (const Held& held : g_subFolders) {
            if (held.path == sofar) found = held.handle;
        }
        if (found == nullptr) {
            found = CreateHeldFolder(parent, relative.substr(start, end - start), security, error);
            if (found == nullptr) return nullptr;
            g_subFolders.push_back(Held{sofar, found});
        }
        parent = found;
        start = end + 1;
    }
    return parent;
}

// The folder an entry's file goes into, made and held before any file is written.
bool MakeFolderOf(const ArchiveEntry& entry, LockedFolderSecurity& security, std::wstring* relative,
                  std::string* failure) {
    if (!Utf8ToWide(entry.path, relative)) {
        *failure = entry.path + " is not a valid name";
        return false;
    }
    const size_t slash = relative->rfind(L'\\');
    DWORD error = 0;
    if (HeldFolderOf(slash == std::wstring::npos ? std::wstring() : relative->substr(0, slash), security, &error) ==
        nullptr) {
        *failure = SystemText("cannot make the folder of " + entry.path, error);
        return false;
    }
    return true;
}

// One file, on any thread: written, then held and checked through the handle it stays
// held by. The bytes are hashed once, there: inflation checks only their count.
bool UnpackFile(const ArchiveEntry& entry, const std::wstring& path, LockedFolderSecurity& security,
                HANDLE* held, std::string* failure) {
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, security.descriptor(), FALSE};
    // Shares reading only so that the reader below can be opened from it.
    HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &attributes, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN,
                                nullptr);
    if (writer == INVALID_HANDLE_VALUE) {
        *failure = SystemText("cannot create " + entry.path, GetLastError());
        return false;
    }
    std::string why;
    FileWriter sink{writer, {}};
    sink.pending.reserve(kWriteSize + (64u << 10));
    const bool written = ExtractEntry(g_archive, g_archiveSize, entry, WriteChunk, &sink, &why,
                                      ExtractCheck::kSizeOnly) &&
                         sink.flush();
    const DWORD writeError = GetLastError();
    // The file is never without a handle of ours: a bridge that admits the writer, then the
    // reader that shares reading only. From then until it is closed nobody can change,
    // rename or delete the file; one who wrote in the moment between is caught by the hash
    // below, one who still holds it makes the reader fail.
    HANDLE bridge = written ? ReOpenFile(writer, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0)
                            : INVALID_HANDLE_VALUE;
    const DWORD bridgeError = GetLastError();
    CloseHandle(writer);
    if (bridge == INVALID_HANDLE_VALUE) {
        *failure = !why.empty() ? why : SystemText("cannot write " + entry.path, written ? bridgeError : writeError);
        return false;
    }
    HANDLE reader = ReOpenFile(bridge, GENERIC_READ, FILE_SHARE_READ, FILE_FLAG_SEQUENTIAL_SCAN);
    const DWORD readerError = GetLastError();
    CloseHandle(bridge);
    if (reader == INVALID_HANDLE_VALUE) {
        *failure = SystemText("cannot hold " + entry.path, readerError);
        return false;
    }
    *held = reader;
    BY_HANDLE_FILE_INFORMATION information = {};
    DWORD fileAttributes = 0, tag = 0;
    if (!GetFileInformationByHandle(reader, &information) || information.nNumberOfLinks != 1 ||
        !AttributesOf(reader, &fileAttributes, &tag) || (fileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        *failure = entry.path + " changed on disk after it was written";
        return false;
    }
    if (!MatchesOnDisk(reader, entry)) {
        *failure = entry.path + ": what was written does not match its size and SHA-256";
        return false;
    }
    return true;
}

// Entries under the top-level payload folder stay in the archive: the module extracts
// them to their places itself.
bool IsPayloadEntry(const ArchiveEntry& entry) {
    static const char kPrefix[] = "payload\\";
    if (entry.path.size() < sizeof kPrefix - 1) return false;
    for (size_t i = 0; i + 1 < sizeof kPrefix; ++i) {
        const char c = entry.path[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c) != kPrefix[i]) return false;
    }
    return true;
}

// The unpacking of one Install, shared with the threads that write the files.
struct Unpacking {
    LockedFolderSecurity* security;
    std::vector<const ArchiveEntry*> entries;
    std::vector<std::wstring> paths;
    std::vector<HANDLE> held;
    std::vector<std::string> failures;
    volatile LONG64 bytesDone = 0;
    volatile LONG filesDone = 0;
    uint64_t totalBytes = 0;
    void (*progress)(const char* text) = nullptr;
    ULONGLONG lastTold = 0;
};

bool UnpackJob(void* context, size_t number) {
    Unpacking& u = *static_cast<Unpacking*>(context);
    const bool ok = UnpackFile(*u.entries[number], u.paths[number], *u.security, &u.held[number], &u.failures[number]);
    InterlockedExchangeAdd64(&u.bytesDone, static_cast<LONG64>(u.entries[number]->size));
    InterlockedIncrement(&u.filesDone);
    return ok;
}

// A line now and then, not one a file: each line is a flushed log record.
void UnpackTick(void* context) {
    Unpacking& u = *static_cast<Unpacking*>(context);
    const ULONGLONG now = GetTickCount64();
    if (u.progress == nullptr || now - u.lastTold < 1000) return;
    u.lastTold = now;
    char line[160];
    snprintf(line, sizeof line, "Unpacked %ld of %u files, %.1f of %.1f MB\n", static_cast<long>(u.filesDone),
             static_cast<unsigned>(u.entries.size()), static_cast<double>(u.bytesDone) / 1048576.0,
             static_cast<double>(u.totalBytes) / 1048576.0);
    u.progress(line);
}

std::wstring UniqueFolderName() {
    uint8_t random[16];
    HCRYPTPROV provider = 0;
    const bool ok = CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL,
                                         CRYPT_VERIFYCONTEXT | CRYPT_SILENT) &&
                    CryptGenRandom(provider, sizeof random, random);
    if (provider != 0) CryptReleaseContext(provider, 0);
    if (!ok) return std::wstring();
    std::wstring name = L"kelvane-";
    const wchar_t digits[] = L"0123456789abcdef";
    for (uint8_t byte : random) {
        name += digits[byte >> 4];
        name += digits[byte & 15];
    }
    return name;
}

// A fresh folder under the parent decided at start, held in g_root.
bool MakeUnpackingFolder(LockedFolderSecurity& security, std::string* failure) {
    std::string why;
    HANDLE parent = OpenUnpackParent(g_parent, &why);
    if (parent == nullptr) {
        *failure = why;
        return false;
    }
    DWORD error = ERROR_ALREADY_EXISTS;
    std::wstring name;
    // A name that is taken is never used; a few fresh draws, then give up.
    for (int attempt = 0; attempt < 4 && error == ERROR_ALREADY_EXISTS; ++attempt) {
        name = UniqueFolderName();
        if (name.empty()) {
            error = ERROR_NOT_ENOUGH_MEMORY;
            break;
        }
        g_root = CreateHeldFolder(parent, name, security, &error);
    }
    CloseHandle(parent);
    if (g_root == nullptr) {
        *failure = SystemText("cannot create a private folder for the installation files", error);
        return false;
    }
    g_folder = g_parent + name + L"\\";
    return true;
}

void UnloadPayloadModule() {
    if (g_modulePath.empty() || InterlockedCompareExchange(&g_moduleRunning, 0, 0) != 0) return;
    // Each press of Install that loaded it and then failed left a reference of its own.
    for (int reference = 0; reference < 16; ++reference) {
        HMODULE module = nullptr;
        if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, g_modulePath.c_str(), &module) ||
            !FreeLibrary(module)) {
            return;
        }
    }
}

}  // namespace

bool CheckEmbeddedPayload(std::string* failure, ArchiveProgress progress, void* progressContext) {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(kArchiveResourceId), MAKEINTRESOURCEW(10));  // RT_RCDATA
    if (found == nullptr) return true;
    HGLOBAL loaded = LoadResource(nullptr, found);
    const auto* bytes = static_cast<const uint8_t*>(loaded != nullptr ? LockResource(loaded) : nullptr);
    const DWORD size = SizeofResource(nullptr, found);
    if (bytes == nullptr) {
        *failure = "its payload cannot be read";
        return false;
    }
    ArchiveIndex index = ReadArchive(bytes, size, true, progress, progressContext);
    if (!index.ok) {
        *failure = index.failure;
        return false;
    }
    g_account = CurrentRunAccount();
    if (!UnpackParentFor(g_account, &g_parent, failure)) return false;
    std::vector<std::string> paths;
    for (const ArchiveEntry& entry : index.entries) paths.push_back(entry.path);
    if (!CheckArchiveNames(paths, g_parent.size() + kFolderNameLength + 1, failure)) return false;
    g_archive = bytes;
    g_archiveSize = size;
    g_index = std::move(index);
    return true;
}

bool HasEmbeddedPayload() { return g_archive != nullptr; }

const ArchiveIndex* EmbeddedArchive(const uint8_t** data, size_t* size) {
    if (g_archive == nullptr) return nullptr;
    *data = g_archive;
    *size = g_archiveSize;
    return &g_index;
}

bool UnpackEmbeddedPayload(std::string* folder, std::string* failure, void (*progress)(const char* text)) {
    if (g_root != nullptr) {
        *folder = g_folderAnsi;
        return true;
    }
    const ULONGLONG started = GetTickCount64();
    LockedFolderSecurity security(g_account);
    if (!MakeUnpackingFolder(security, failure)) return false;
    if (!ToAnsiExactly(g_folder, &g_folderAnsi)) {
        *failure = "the temporary folder's name has characters the module cannot be given";
        RemovePayloadFolder();
        return false;
    }
    Unpacking u;
    u.security = &security;
    for (const ArchiveEntry& entry : g_index.entries) {
        if (IsPayloadEntry(entry)) continue;
        std::wstring relative;
        if (!MakeFolderOf(entry, security, &relative, failure)) {
            RemovePayloadFolder();
            return false;
        }
        u.entries.push_back(&entry);
        u.paths.push_back(g_folder + relative);
        u.totalBytes += entry.size;
    }
    u.held.assign(u.entries.size(), nullptr);
    u.failures.assign(u.entries.size(), std::string());
    u.progress = u.totalBytes > kProgressAbove ? progress : nullptr;
    u.lastTold = started;
    const size_t failed = RunJobs(u.entries.size(), UnpackJob, UnpackTick, &u);
    for (size_t i = 0; i < u.held.size(); ++i) {
        if (u.held[i] != nullptr) g_files.push_back(Held{u.paths[i], u.held[i]});
    }
    if (failed != u.entries.size()) {
        *failure = u.failures[failed];
        RemovePayloadFolder();
        return false;
    }
    if (progress != nullptr) {
        char line[160];
        snprintf(line, sizeof line, "Unpacked %u files, %.1f MB, in %.2f s\n", static_cast<unsigned>(u.entries.size()),
                 static_cast<double>(u.totalBytes) / 1048576.0, static_cast<double>(GetTickCount64() - started) / 1000.0);
        progress(line);
    }
    *folder = g_folderAnsi;
    return true;
}

void ReleasePayloadFiles(const char* keep) {
    std::wstring kept;
    if (keep != nullptr) {
        // As the loader reads the ANSI path it is given.
        const int needed = MultiByteToWideChar(CP_ACP, 0, keep, -1, nullptr, 0);
        if (needed > 1) {
            kept.assign(static_cast<size_t>(needed), L'\0');
            MultiByteToWideChar(CP_ACP, 0, keep, -1, &kept[0], needed);
            kept.resize(static_cast<size_t>(needed) - 1);
        }
    }
    for (Held& held : g_files) {
        if (held.handle == nullptr) continue;
        if (!kept.empty() && SamePath(held.path, kept)) {
            g_modulePath = held.path;
            continue;
        }
        CloseHandle(held.handle);
        held.handle = nullptr;
    }
    // The sub-folders too: their holds keep DELETE without sharing it, which makes some
    // systems (Wine) refuse the module a listing of them. Inside the held, admin-only
    // folder nobody else can change them.
    for (Held& held : g_subFolders) {
        if (held.handle != nullptr) CloseHandle(held.handle);
        held.handle = nullptr;
    }
}

void SetPayloadModuleRunning(bool running) { InterlockedExchange(&g_moduleRunning, running ? 1 : 0); }

void RemovePayloadFolder() {
    HANDLE root = InterlockedExchangePointer(const_cast<HANDLE*>(&g_root), nullptr);
    if (root == nullptr) return;
    UnloadPayloadModule();
    for (const Held& held : g_files) {
        if (held.handle != nullptr) CloseHandle(held.handle);
    }
    // Children are opened afresh relative to their parents, which our own holds (no
    // delete sharing) would refuse; the unpacking folder itself stays held throughout.
    for (size_t i = g_subFolders.size(); i > 0; --i) {
        if (g_subFolders[i - 1].handle != nullptr) CloseHandle(g_subFolders[i - 1].handle);
    }
    std::vector<std::wstring> left;
    const bool gone = RemoveTreeByHandle(root, g_folder.substr(0, g_folder.size() - 1), &left);
    CloseHandle(root);
    // Deleted by path at restart as SYSTEM: safe only because no one but SYSTEM and
    // Administrators can put anything (a junction) into this folder meanwhile. An
    // unelevated run's folder admits the user, and may not schedule anyway.
    if (!gone && g_account != RunAccount::unelevated) ScheduleRemovalAtRestart(left);
    g_files.clear();
    g_subFolders.clear();
    g_modulePath.clear();
    g_folder.clear();
    g_folderAnsi.clear();
}

}  // namespace engine::win32
