// The payload extension: files of the embedded archive to a module's destination, on
// several threads, each checked as written; on failure nothing this call made is left.
// Never writes where the module did not name, and never into anything that existed.
#include "engine/win32/payload_api.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/core/archive.h"
#include "engine/win32/embedded_payload.h"
#include "engine/win32/parallel_jobs.h"

namespace engine::win32 {

namespace {

volatile TaskbarProgress g_taskbar = nullptr;
volatile LONG g_outcome = 0;

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// The archive's own separators, no trailing one.
std::string NormalPath(const char* path) {
    std::string normal(path != nullptr ? path : "");
    std::replace(normal.begin(), normal.end(), '/', '\\');
    while (!normal.empty() && normal.back() == '\\') normal.pop_back();
    return normal;
}

// Names differ only in ASCII case, as the archive's own uniqueness rule says.
bool SameName(const std::string& a, size_t length, const std::string& b) {
    if (a.size() < length || b.size() < length) return false;
    for (size_t i = 0; i < length; ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

// What lies under folder: true for entry with the part after folder in *relative.
bool Under(const std::string& folder, const ArchiveEntry& entry, std::string* relative) {
    if (folder.empty()) {
        *relative = entry.path;
        return true;
    }
    if (entry.path.size() <= folder.size() + 1 || entry.path[folder.size()] != '\\' ||
        !SameName(entry.path, folder.size(), folder)) {
        return false;
    }
    *relative = entry.path.substr(folder.size() + 1);
    return true;
}

std::wstring Wide(const std::string& utf8) {
    const int needed = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                                           nullptr, 0);
    if (needed <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), &wide[0], needed);
    return wide;
}

std::string SystemText(DWORD code) { return "error " + std::to_string(code); }

}  // namespace

void CopyFailureText(const std::string& text, char* out, uint32_t size) {
    if (out == nullptr || size == 0) return;
    if (text.size() < size) {
        memcpy(out, text.c_str(), text.size() + 1);
        return;
    }
    if (size < 4) {
        out[0] = '\0';
        return;
    }
    size_t keep = size - 4;
    while (keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80) --keep;  // not inside a character
    memcpy(out, text.data(), keep);
    memcpy(out + keep, "...", 4);
}

namespace {

struct Extraction {
    const uint8_t* archive = nullptr;
    size_t archiveSize = 0;
    std::vector<const ArchiveEntry*> entries;
    std::vector<std::wstring> paths;
    std::vector<std::string> failures;
    std::vector<char> made;  // per file: created, so removed on failure
    volatile LONG64 done = 0;
    volatile LONG stopped = 0;
    uint64_t total = 0;
    KelvanePayloadProgress progress = nullptr;
    void* context = nullptr;
};

struct Sink {
    HANDLE file;
    Extraction* extraction;
    std::vector<uint8_t> pending;
    bool flush() {
        size_t at = 0;
        while (at < pending.size()) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(pending.size() - at, 1u << 20));
            if (!WriteFile(file, pending.data() + at, chunk, &written, nullptr) || written == 0) return false;
            at += written;
        }
        pending.clear();
        return true;
    }
};

bool Write(void* context, const uint8_t* bytes, size_t size) {
    Sink& sink = *static_cast<Sink*>(context);
    if (InterlockedCompareExchange(&sink.extraction->stopped, 0, 0) != 0) return false;
    sink.pending.insert(sink.pending.end(), bytes, bytes + size);
    InterlockedExchangeAdd64(&sink.extraction->done, static_cast<LONG64>(size));
    return sink.pending.size() < (1u << 20) || sink.flush();
}

bool ExtractJob(void* context, size_t number) {
    Extraction& x = *static_cast<Extraction*>(context);
    const ArchiveEntry& entry = *x.entries[number];
    HANDLE file = CreateFileW(x.paths[number].c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        x.failures[number] = entry.path + ": cannot be created (" +
                             (error == ERROR_FILE_EXISTS ? std::string("it exists already") : SystemText(error)) + ")";
        return false;
    }
    x.made[number] = 1;
    // Room for the whole file at once, so the file system need not grow it write by write.
    FILE_ALLOCATION_INFO room = {};
    room.AllocationSize.QuadPart = static_cast<LONGLONG>(entry.size);
    if (entry.size > (1u << 16)) SetFileInformationByHandle(file, FileAllocationInfo, &room, sizeof room);
    Sink sink{file, &x, {}};
    std::string why;
    bool ok = ExtractEntry(x.archive, x.archiveSize, entry, Write, &sink, &why);
    if (ok && !sink.flush()) {
        ok = false;
        why = entry.path + ": cannot be written (" + SystemText(GetLastError()) + ")";
    }
    if (!ok) {
        // A file that failed its check is never left behind, whatever happens next.
        FILE_DISPOSITION_INFO dispose = {TRUE};
        SetFileInformationByHandle(file, FileDispositionInfo, &dispose, sizeof dispose);
        x.made[number] = 0;
        x.failures[number] = InterlockedCompareExchange(&x.stopped, 0, 0) != 0 ? "the extraction was stopped" : why;
    }
    CloseHandle(file);
    return ok;
}

void Tick(void* context) {
    Extraction& x = *static_cast<Extraction*>(context);
    if (x.progress == nullptr || InterlockedCompareExchange(&x.stopped, 0, 0) != 0) return;
    const uint64_t done = static_cast<uint64_t>(InterlockedCompareExchange64(&x.done, 0, 0));
    if ((x.progress(x.context, std::min(done, x.total), x.total) & 0xFFu) == 0) InterlockedExchange(&x.stopped, 1);
}

int32_t KELVANE_CDECL ListEntries(const char* folder, KelvanePayloadEach each, void* context) {
    const uint8_t* data = nullptr;
    size_t size = 0;
    const ArchiveIndex* index = EmbeddedArchive(&data, &size);
    return index != nullptr ? ListArchiveEntries(*index, folder, each, context) : -1;
}

KelvaneBool KELVANE_CDECL Extract(const char* path, const wchar_t* destination, KelvanePayloadProgress progress,
                                  void* context, char* failure, uint32_t failureSize) {
    const uint8_t* data = nullptr;
    size_t size = 0;
    const ArchiveIndex* index = EmbeddedArchive(&data, &size);
    std::string why = "this installer carries no payload";
    if (index != nullptr && ExtractFromArchive(data, size, *index, path, destination, progress, context, &why)) {
        return 1;
    }
    CopyFailureText(why, failure, failureSize);
    return 0;
}

void KELVANE_CDECL SetProgress(uint32_t state, uint64_t done, uint64_t total) {
    const TaskbarProgress sink = g_taskbar;
    if (sink != nullptr) sink(state, done, total);
}

void KELVANE_CDECL SetOutcome(uint32_t outcome) { InterlockedExchange(&g_outcome, static_cast<LONG>(outcome)); }

const KelvanePayloadApi kApi = {sizeof(KelvanePayloadApi), KELVANE_PAYLOAD_API_VERSION, ListEntries, Extract,
                                SetProgress, SetOutcome};
// A version-1 module may copy its record by the size it was built with: this one's ends
// where that record ended, and it never reads past it.
const KelvanePayloadApi kApiVersion1 = {static_cast<uint32_t>(offsetof(KelvanePayloadApi, setOutcome)), 1,
                                        ListEntries, Extract, SetProgress, nullptr};

}  // namespace

int32_t ListArchiveEntries(const ArchiveIndex& index, const char* folder, KelvanePayloadEach each, void* context) {
    const std::string normal = NormalPath(folder);
    int32_t count = 0;
    std::string relative;
    for (const ArchiveEntry& entry : index.entries) {
        if (!Under(normal, entry, &relative)) continue;
        ++count;
        if (each != nullptr) each(context, relative.c_str(), entry.size);
    }
    return count > 0 ? count : -1;
}

bool ExtractFromArchive(const uint8_t* data, size_t size, const ArchiveIndex& archiveIndex, const char* path,
                        const wchar_t* destination, KelvanePayloadProgress progress, void* context,
                        std::string* failure) {
    Extraction x;
    x.archive = data;
    x.archiveSize = size;
    const ArchiveIndex* index = &archiveIndex;
    const std::string normal = NormalPath(path);
    const auto fail = [&](const std::string& text) {
        *failure = text;
        return false;
    };
    if (destination == nullptr || destination[0] == L'\0') return fail("no destination was given");
    if (normal.empty()) return fail("no file or folder of the payload was named");
    std::wstring target(destination);
    while (target.size() > 3 && (target.back() == L'\\' || target.back() == L'/')) target.pop_back();

    // A file of that name, else a folder.
    bool folder = true;
    std::string relative;
    for (const ArchiveEntry& entry : index->entries) {
        if (entry.path.size() == normal.size() && SameName(entry.path, normal.size(), normal)) {
            x.entries.assign(1, &entry);
            x.paths.assign(1, target);
            folder = false;
            break;
        }
        if (Under(normal, entry, &relative)) {
            x.entries.push_back(&entry);
            x.paths.push_back(target + L"\\" + Wide(relative));
        }
    }
    if (x.entries.empty()) return fail(normal + ": the payload holds no such file or folder");

    // Folders first, parents before children; each one made here, so each one ours.
    std::vector<std::wstring> folders;
    if (folder) {
        if (!CreateDirectoryW(target.c_str(), nullptr)) {
            const DWORD error = GetLastError();
            return fail(error == ERROR_ALREADY_EXISTS ? "the destination exists already"
                                                      : "the destination cannot be made (" + SystemText(error) + ")");
        }
        folders.push_back(target);
        for (const std::wstring& file : x.paths) {
            for (size_t slash = file.find(L'\\', target.size() + 1); slash != std::wstring::npos;
                 slash = file.find(L'\\', slash + 1)) {
                const std::wstring sub = file.substr(0, slash);
                if (std::find(folders.begin(), folders.end(), sub) != folders.end()) continue;
                if (!CreateDirectoryW(sub.c_str(), nullptr)) {
                    const std::string why = "a folder of the destination cannot be made (" + SystemText(GetLastError()) + ")";
                    for (size_t i = folders.size(); i > 0; --i) RemoveDirectoryW(folders[i - 1].c_str());
                    return fail(why);
                }
                folders.push_back(sub);
            }
        }
    }
    x.failures.assign(x.entries.size(), std::string());
    x.made.assign(x.entries.size(), 0);
    for (const ArchiveEntry* entry : x.entries) x.total += entry->size;
    x.progress = progress;
    x.context = context;
    const size_t failed = RunJobs(x.entries.size(), ExtractJob, Tick, &x);
    if (failed == x.entries.size() && InterlockedCompareExchange(&x.stopped, 0, 0) == 0) return true;

    const std::string why = failed < x.entries.size() ? x.failures[failed] : "the extraction was stopped";
    for (size_t i = 0; i < x.paths.size(); ++i) {
        if (x.made[i] != 0) DeleteFileW(x.paths[i].c_str());
    }
    for (size_t i = folders.size(); i > 0; --i) RemoveDirectoryW(folders[i - 1].c_str());
    return fail(why);
}

const KelvanePayloadApi* PayloadApi(uint32_t version) {
    if (version == 1) return &kApiVersion1;
    return version == KELVANE_PAYLOAD_API_VERSION ? &kApi : nullptr;
}

uint32_t ModuleOutcome() { return static_cast<uint32_t>(InterlockedCompareExchange(&g_outcome, 0, 0)); }

void SetTaskbarProgress(TaskbarProgress sink) { g_taskbar = sink; }

}  // namespace engine::win32
