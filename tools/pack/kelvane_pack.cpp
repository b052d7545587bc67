// kelvane-pack: makes a one-file installer from the plain kelvane.exe without a compiler:
// setup.ini and the two documents as RCDATA 455-457 (language neutral, as the resource
// compiler writes them), with --embed the module and files as the archive in RCDATA 458;
// with --product all of it from a product file and a payload folder (product_pack.cpp).
// Never leaves a partial output: it writes a temporary file beside it and renames it.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "engine/core/archive.h"
#include "engine/core/archive_names.h"
#include "tools/pack/image_tail.h"
#include "tools/pack/pack_options.h"
#include "tools/pack/pack_win32.h"

namespace pack {

namespace {

constexpr int kSetupResourceId = 455;
// RCDATA 454 of resources/kelvane.rc: only a kelvane program carries it, so no other
// program is ever turned into an "installer".
constexpr int kStubMarkResourceId = 454;
constexpr char kStubMark[] = "kelvane stub 1";
constexpr DWORD kReadChunk = 1 << 20;

const char kUsage[] =
    "usage: kelvane-pack --stub kelvane.exe --setup setup.ini --licence setup.rtf --warning epileptic.rtf\n"
    "                    [--module install.dll] [--file [ARCHIVEPATH=]SOURCE]... [--embed] --out NAME.exe\n"
    "       kelvane-pack --product product.ini --payload FOLDER [--licence setup.rtf --warning epileptic.rtf]\n"
    "                    [--stub kelvane.exe] [--module kelvane-standard.dll] --out NAME.exe\n"
    "Writes a copy of the stub that carries setup.ini and both documents. With --embed it also\n"
    "carries the module and the files (at their file names, or at ARCHIVEPATH, e.g.\n"
    "data/big.bin=C:\\src\\big.bin); without it they are copied beside the output. A signature\n"
    "on the stub cannot survive the change and is dropped: sign the output.\n"
    "With --product it makes an installer without code: the standard module installs FOLDER's\n"
    "tree as product.ini describes; --stub and --module default to the files beside kelvane-pack\n"
    "(the stub kelvane-user.exe for a SCOPE=user product).\n"
    "Exit code 0 when the installer was written, 1 otherwise.\n";

}  // namespace

int Fail(const std::string& what, const std::string& problem) {
    fprintf(stderr, "kelvane-pack: %s%s%s\n", what.c_str(), what.empty() ? "" : ": ", problem.c_str());
    return kFailed;
}

std::string SystemMessage(DWORD code) {
    if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION) return "it is in use by another program";
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return "no such file";
    char text[512];
    // A message that does not fit is not cut: FormatMessage fails and the code alone is given.
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        text, sizeof text, nullptr);
    std::string message(text, length);
    message.erase(message.find_last_not_of("\r\n .") + 1);
    const std::string number = "error " + std::to_string(code);
    return message.empty() ? number : message + " (" + number + ")";
}

std::string FullPath(const std::string& path) {
    const DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::vector<char> full(needed);
    const DWORD length = GetFullPathNameA(path.c_str(), needed, full.data(), nullptr);
    return length > 0 && length < needed ? std::string(full.data(), length) : path;
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsInputFile(const std::string& path, std::string& problem) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        problem = SystemMessage(GetLastError());
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        problem = "is a folder, not a file";
        return false;
    }
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& problem) {
    if (!IsInputFile(path, problem)) return false;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        problem = "cannot be read: " + SystemMessage(GetLastError());
        return false;
    }
    const bool ok = ReadOpenFile(file, bytes, problem);
    CloseHandle(file);
    return ok;
}

bool ReadOpenFile(HANDLE file, std::string& bytes, std::string& problem) {
    LARGE_INTEGER size = {};
    bool ok = GetFileSizeEx(file, &size) != 0;
    if (ok && static_cast<uint64_t>(size.QuadPart) > kMaxResourceBytes) {
        problem = "is too large (" + std::to_string(size.QuadPart) + " bytes; at most " +
                  std::to_string(kMaxResourceBytes) + ")";
        ok = false;
    } else if (ok) {
        bytes.assign(static_cast<size_t>(size.QuadPart), '\0');
        size_t done = 0;
        DWORD got = 0;
        while (ok && done < bytes.size()) {
            const DWORD want = bytes.size() - done < kReadChunk ? static_cast<DWORD>(bytes.size() - done) : kReadChunk;
            ok = ReadFile(file, &bytes[done], want, &got, nullptr) != 0;
            if (!ok) problem = "cannot be read: " + SystemMessage(GetLastError());
            if (ok && got == 0) problem = "became shorter while it was read";
            ok = ok && got != 0;
            done += got;
        }
    } else {
        problem = "cannot be read: " + SystemMessage(GetLastError());
    }
    return ok;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string& problem) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        problem = SystemMessage(GetLastError());
        return false;
    }
    size_t done = 0;
    DWORD wrote = 0;
    while (done < bytes.size()) {
        const DWORD want = bytes.size() - done < kReadChunk ? static_cast<DWORD>(bytes.size() - done) : kReadChunk;
        if (!WriteFile(file, bytes.data() + done, want, &wrote, nullptr) || wrote == 0) break;
        done += wrote;
    }
    if (done != bytes.size()) problem = SystemMessage(GetLastError());
    return CloseHandle(file) != 0 && done == bytes.size();
}

namespace {

// One file on disk under two names: a link, a short name, a different spelling.
bool SameFile(const std::string& a, const std::string& b) {
    BY_HANDLE_FILE_INFORMATION info[2] = {};
    const std::string* paths[2] = {&a, &b};
    for (int i = 0; i < 2; ++i) {
        HANDLE file = CreateFileA(paths[i]->c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        const bool ok = GetFileInformationByHandle(file, &info[i]) != 0;
        CloseHandle(file);
        if (!ok) return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

}  // namespace

// The stub must be a program, and a plain one: a stub that already carries the texts or
// an archive would pass a stale one on.
bool CheckStub(const std::string& path, const std::string& bytes, std::string& problem) {
    const auto at = [&bytes](size_t offset) { return static_cast<uint8_t>(bytes[offset]); };
    const uint32_t header =
        bytes.size() >= 64 ? at(60) | at(61) << 8 | at(62) << 16 | static_cast<uint32_t>(at(63)) << 24 : 0;
    if (bytes.size() < 64 || bytes.compare(0, 2, "MZ") != 0 || header > bytes.size() - 4 ||
        bytes.compare(header, 4, std::string("PE\0\0", 4)) != 0) {
        problem = "is not a Windows program (no MZ and PE headers)";
        return false;
    }
    HMODULE image = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (image == nullptr) {
        problem = "cannot be opened as a program: " + SystemMessage(GetLastError());
        return false;
    }
    int carried = 0;
    for (int id = kSetupResourceId; id <= engine::kArchiveResourceId && carried == 0; ++id) {
        if (FindResourceA(image, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10)) != nullptr) carried = id;
    }
    std::string mark;
    if (HRSRC found = FindResourceA(image, MAKEINTRESOURCEA(kStubMarkResourceId), MAKEINTRESOURCEA(10))) {
        const void* data = LockResource(LoadResource(image, found));
        if (data != nullptr) mark.assign(static_cast<const char*>(data), SizeofResource(image, found));
    }
    FreeLibrary(image);
    if (carried != 0) {
        problem = "already carries RCDATA " + std::to_string(carried) + ": a packed installer, not kelvane.exe";
        return false;
    }
    if (mark != std::string(kStubMark, sizeof kStubMark - 1)) {
        problem = "is not a kelvane program (it lacks the stub mark, RCDATA " + std::to_string(kStubMarkResourceId) +
                  "): give the kelvane.exe that came with kelvane-pack";
        return false;
    }
    return true;
}

bool CheckOutput(const PackOptions& options, const std::string& full, std::string& problem) {
    const std::string folder = full.substr(0, full.find_last_of('\\') + 1);
    if (!IsFolder(folder)) {
        problem = "its folder " + folder + " does not exist";
        return false;
    }
    if (IsFolder(full)) {
        problem = "is a folder";
        return false;
    }
    const bool exists = GetFileAttributesA(full.c_str()) != INVALID_FILE_ATTRIBUTES;
    std::vector<std::pair<std::string, std::string>> inputs = {{"--stub", options.stub}, {"--setup", options.setup},
        {"--licence", options.licence}, {"--warning", options.warning}, {"--product", options.product}};
    for (const PackFile& file : options.files) inputs.push_back({file.argument, file.source});
    for (const auto& input : inputs) {
        if (input.second.empty()) continue;
        if (SameIgnoringCase(FullPath(input.second), full) || (exists && SameFile(input.second, full))) {
            problem = "is the same file as " + input.first + (input.first == "--stub" ? " " + input.second : "") +
                      "; give another output name";
            return false;
        }
    }
    if (!options.embed) {
        for (const PackFile& file : options.files) {
            if (SameIgnoringCase(file.archivePath, PlainName(full))) {
                problem = "would be overwritten by the copy of " + file.argument;
                return false;
            }
        }
    }
    HANDLE held = exists ? CreateFileA(full.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr) : nullptr;
    if (held == INVALID_HANDLE_VALUE) problem = "exists and cannot be replaced: " + SystemMessage(GetLastError());
    if (held != nullptr && held != INVALID_HANDLE_VALUE) CloseHandle(held);
    return held != INVALID_HANDLE_VALUE;
}

namespace {

// The command line comes in the ANSI code page; archive paths are UTF-8, which the
// installer turns into the same UTF-16 names whatever its own code page.
bool AnsiToUtf8(const std::string& ansi, std::string& utf8) {
    utf8.clear();
    if (ansi.empty()) return true;
    const int wide = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), static_cast<int>(ansi.size()),
                                         nullptr, 0);
    if (wide <= 0) return false;
    std::wstring text(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), static_cast<int>(ansi.size()), &text[0], wide);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return false;
    utf8.assign(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, &utf8[0], bytes, nullptr, nullptr);
    return true;
}

// The files' paths in UTF-8, judged as Windows will create them (beside the output, or
// unpacked from the archive). False with the problem and the --file it concerns.
bool CheckNames(const PackOptions& options, std::vector<std::string>& names, std::string& what,
                std::string& problem) {
    names.clear();
    for (const PackFile& file : options.files) {
        names.emplace_back();
        if (!AnsiToUtf8(file.archivePath, names.back())) {
            what = file.argument;
            problem = "the path \"" + file.archivePath + "\" is not text in this system's code page";
            return false;
        }
    }
    if (engine::CheckArchiveNames(names, 0, &problem)) return true;
    // "entry N (path): why" becomes the Nth file's option and the why.
    what.clear();
    const size_t number = problem.compare(0, 6, "entry ") == 0 ? std::strtoul(problem.c_str() + 6, nullptr, 10) : 0;
    if (number >= 1 && number <= names.size()) {
        const size_t end = ("entry " + std::to_string(number) + " (").size() + names[number - 1].size();
        if (problem.compare(end, 3, "): ") == 0) {
            what = options.files[number - 1].argument;
            problem.erase(0, end + 3);
        }
    }
    return false;
}

// The archive of --embed: the module and the files, read whole, at their UTF-8 names.
bool BuildArchive(const PackOptions& options, const std::vector<std::string>& names, std::string& archive,
                  std::string& what, std::string& problem) {
    std::vector<engine::ArchiveInput> inputs;
    for (size_t i = 0; i < options.files.size(); ++i) {
        std::string bytes;
        what = options.files[i].argument;
        if (!ReadWholeFile(options.files[i].source, bytes, problem)) return false;
        inputs.push_back({names[i], std::vector<uint8_t>(bytes.begin(), bytes.end())});
    }
    std::vector<uint8_t> written;
    what = "--embed";
    if (!engine::WriteArchive(inputs, written, &problem)) return false;
    if (written.size() > kMaxResourceBytes) {
        problem = "the archive would be " + std::to_string(written.size()) + " bytes, more than a resource can hold (" +
                  std::to_string(kMaxResourceBytes) + ")";
        return false;
    }
    archive.assign(written.begin(), written.end());
    return true;
}

bool AddResources(const std::string& program, const std::string* texts[], int count, std::string& problem) {
    HANDLE update = BeginUpdateResourceA(program.c_str(), FALSE);
    if (update == nullptr) {
        problem = "cannot add resources to the copy of the stub: " + SystemMessage(GetLastError());
        return false;
    }
    for (int i = 0; i < count; ++i) {
        // Language 0, as "LANGUAGE 0, 0" gives them in the build's resource script.
        if (!UpdateResourceA(update, MAKEINTRESOURCEA(10), MAKEINTRESOURCEA(kSetupResourceId + i), 0,
                             const_cast<char*>(texts[i]->data()), static_cast<DWORD>(texts[i]->size()))) {
            problem =
                "cannot add RCDATA " + std::to_string(kSetupResourceId + i) + ": " + SystemMessage(GetLastError());
            EndUpdateResourceA(update, TRUE);
            return false;
        }
    }
    if (!EndUpdateResourceA(update, FALSE)) {
        problem = "cannot write the resources into the copy of the stub: " + SystemMessage(GetLastError());
        return false;
    }
    return true;
}

// Without --embed the installer finds its module and files beside it, at their paths.
// folder ends with '\'.
bool CopyBeside(const PackFile& file, const std::string& folder, std::string& problem) {
    std::string target = folder;
    for (size_t start = 0;;) {
        const size_t slash = file.archivePath.find('/', start);
        target += file.archivePath.substr(start, slash - start);
        if (slash == std::string::npos) break;
        if (!IsFolder(target) && !CreateDirectoryA(target.c_str(), nullptr)) {
            problem = "cannot make the folder " + target + ": " + SystemMessage(GetLastError());
            return false;
        }
        target += '\\';
        start = slash + 1;
    }
    if (SameFile(file.source, target)) return true;  // packing in the folder the files already lie in
    if (!CopyFileA(file.source.c_str(), target.c_str(), FALSE)) {
        problem = "cannot be copied to " + target + ": " + SystemMessage(GetLastError());
        return false;
    }
    return true;
}

int Pack(const PackOptions& options) {
    std::string problem;
    std::string setup, licence, warning, stub;
    struct Input {
        const char* option;
        const std::string& path;
        std::string& bytes;
    };
    const Input inputs[] = {{"--setup", options.setup, setup},
                            {"--licence", options.licence, licence},
                            {"--warning", options.warning, warning},
                            {"--stub", options.stub, stub}};
    for (const Input& input : inputs) {
        if (!ReadWholeFile(input.path, input.bytes, problem)) return Fail(input.option + (" " + input.path), problem);
    }
    // An empty resource cannot be written: UpdateResource takes size 0 as "delete".
    if (licence.empty() || warning.empty()) {
        return Fail(licence.empty() ? "--licence " + options.licence : "--warning " + options.warning,
                    "is empty; the installer would show a blank page");
    }
    for (const PackFile& file : options.files) {
        if (!IsInputFile(file.source, problem)) return Fail(file.argument, problem);
    }
    ImageTail tail;
    if (!CheckStub(options.stub, stub, problem) || !SplitTail(stub, tail, problem)) {
        return Fail("--stub " + options.stub, problem);
    }
    const std::string moduleName = options.module.empty() ? std::string() : PlainName(options.module);
    if (!CheckSetupText(setup, moduleName, problem)) return Fail("--setup " + options.setup, problem);
    if (!CheckArchivePaths(options.files, problem)) return Fail("", problem);
    std::vector<std::string> names;
    std::string what;
    if (!CheckNames(options, names, what, problem)) return Fail(what, problem);
    const std::string out = FullPath(options.out);
    const std::string outOption = "--out " + options.out;
    if (!CheckOutput(options, out, problem)) return Fail(outOption, problem);

    std::string archive;
    if (options.embed && !BuildArchive(options, names, archive, what, problem)) return Fail(what, problem);

    const std::string folder = out.substr(0, out.find_last_of('\\') + 1);
    TemporaryFile temporary(folder);
    if (temporary.path().empty()) return Fail(outOption, "cannot make a temporary file in " + folder);
    const std::string* resources[] = {&setup, &licence, &warning, &archive};
    if (!WriteStubWithResources(temporary.path(), stub, tail, resources, options.embed ? 4 : 3, problem)) {
        return Fail(outOption, problem);
    }
    if (!options.embed) {
        for (const PackFile& file : options.files) {
            if (!CopyBeside(file, folder, problem)) return Fail(file.argument, problem);
        }
    }
    if (!temporary.renameTo(out)) {
        return Fail(outOption, "cannot be replaced: " + SystemMessage(GetLastError()));
    }
    ReportWritten(options, out, tail);
    return kSucceeded;
}

}  // namespace

bool WriteStubWithResources(const std::string& path, const std::string& stub, const ImageTail& tail,
                            const std::string* texts[], int count, std::string& problem) {
    if (!WriteWholeFile(path, stub, problem)) {
        problem = "cannot write " + path + ": " + problem;
        return false;
    }
    if (!AddResources(path, texts, count, problem)) return false;
    if (tail.symbols.empty()) return true;
    std::string updated;
    if (!ReadWholeFile(path, updated, problem) || !RestoreTail(updated, tail, problem) ||
        !WriteWholeFile(path, updated, problem)) {
        problem = "cannot put the stub's symbol table back: " + problem;
        return false;
    }
    return true;
}

void ReportWritten(const PackOptions& options, const std::string& out, const ImageTail& tail) {
    WIN32_FILE_ATTRIBUTE_DATA written = {};
    GetFileAttributesExA(out.c_str(), GetFileExInfoStandard, &written);
    const uint64_t size = static_cast<uint64_t>(written.nFileSizeHigh) << 32 | written.nFileSizeLow;
    if (tail.droppedSignature) {
        printf("kelvane-pack: --stub %s: its Authenticode signature was removed (no signature survives the "
               "change); sign %s\n", options.stub.c_str(), options.out.c_str());
    }
    printf("kelvane-pack: wrote %s (%llu bytes)\n", options.out.c_str(), static_cast<unsigned long long>(size));
}

}  // namespace pack

using pack::Fail;
using pack::kFailed;
using pack::kSucceeded;

int main(int argc, char** argv) {
    if (argc < 2) {
        fputs(pack::kUsage, stderr);
        return kFailed;
    }
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    pack::PackOptions options;
    std::string problem;
    if (!pack::ParseArguments(arguments, options, problem)) {
        fprintf(stderr, "kelvane-pack: %s\n", problem.c_str());
        return kFailed;
    }
    if (options.help) {
        fputs(pack::kUsage, stdout);
        return kSucceeded;
    }
    try {
        return options.product.empty() ? pack::Pack(options) : pack::PackProduct(options);
    } catch (const std::bad_alloc&) {
        return Fail("", "not enough memory to hold the inputs");
    }
}
