// kelvane-pack --product: an installer without code. setup.ini is made from the product
// file, the documents are given or made, and the archive carries the standard module, the
// product file, folders.ini, the uninstaller and the payload folder's tree; the product's
// SCOPE picks the stub (kelvane.exe or kelvane-user.exe). Every problem is found before
// anything is written; a refused product leaves no output behind.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/archive.h"
#include "engine/core/archive_names.h"
#include "tools/pack/pack_win32.h"
#include "tools/pack/product_checks.h"

namespace pack {

namespace {

constexpr uint16_t kMachineI386 = 0x14C;
constexpr uint16_t kMachineAmd64 = 0x8664;

std::wstring Widened(const std::string& ansi) {
    const int length = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &wide[0], length);
    return wide;
}

std::string Utf8Of(const std::wstring& wide) {
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], length, nullptr, nullptr);
    }
    return utf8;
}

// kelvane.exe, kelvane-user.exe and kelvane-standard.dll come in the kit beside kelvane-pack.exe.
std::string BesideThisProgram(const char* name) {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return name;
    const std::string self(path, length);
    return self.substr(0, self.find_last_of('\\') + 1) + name;
}

// The COFF header's machine of a PE image, 0 when it is none.
uint16_t MachineOf(const std::string& image) {
    const auto at = [&image](size_t offset) { return static_cast<uint32_t>(static_cast<uint8_t>(image[offset])); };
    if (image.size() < 64 || image.compare(0, 2, "MZ") != 0) return 0;
    const uint32_t header = at(60) | at(61) << 8 | at(62) << 16 | at(63) << 24;
    if (header > image.size() - 6 || image.compare(header, 4, std::string("PE\0\0", 4)) != 0) return 0;
    return static_cast<uint16_t>(at(header + 4) | at(header + 5) << 8);
}

const char* BitsOf(uint16_t machine) { return machine == kMachineI386 ? "32-bit" : "64-bit"; }

// The stub's manifest (RT_MANIFEST 1) against the product's scope.
bool CheckStubScope(const std::string& path, const KvProduct& product, std::string& problem) {
    std::string manifest;
    HMODULE image = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (image != nullptr) {
        if (HRSRC found = FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24))) {
            const void* data = LockResource(LoadResource(image, found));
            if (data != nullptr) manifest.assign(static_cast<const char*>(data), SizeofResource(image, found));
        }
        FreeLibrary(image);
    }
    problem = StubScopeProblem(product, manifest);
    return problem.empty();
}

bool CheckModule(const std::string& module, const std::string& stub, std::string& problem) {
    const uint16_t machine = MachineOf(module);
    if (machine != kMachineI386 && machine != kMachineAmd64) {
        problem = "is not a Windows DLL for x86 or x64";
        return false;
    }
    if (machine != MachineOf(stub)) {
        problem = std::string("is a ") + BitsOf(machine) + " DLL, and the stub a " + BitsOf(MachineOf(stub)) +
                  " program: the installer could not load it";
        return false;
    }
    return true;
}

// The payload folder's tree, read with the wide calls: names are UTF-16 on disk and
// UTF-8 in the archive, whatever this system's code page.
class PayloadReader {
public:
    PayloadTree tree;
    std::vector<std::wstring> sources;  // full paths, in the order of tree.files
    uint64_t bytes = 0;

    bool Read(const std::string& folder, std::string& problem) {
        const std::wstring given = Widened(folder);
        const DWORD needed = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
        std::wstring full(needed, L'\0');
        const DWORD length = needed == 0 ? 0 : GetFullPathNameW(given.c_str(), needed, &full[0], nullptr);
        if (length == 0 || length >= needed) {
            problem = "is not a usable path: " + SystemMessage(GetLastError());
            return false;
        }
        full.resize(length);
        while (!full.empty() && full.back() == L'\\') full.pop_back();
        const DWORD attributes = GetFileAttributesW(full.empty() ? L"\\" : full.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            problem = attributes == INVALID_FILE_ATTRIBUTES ? "no such folder" : "is a file, not a folder";
            return false;
        }
        // The extended form reaches trees deeper than MAX_PATH.
        const std::wstring root = full.compare(0, 2, L"\\\\") == 0 ? L"\\\\?\\UNC" + full.substr(1) : L"\\\\?\\" + full;
        if (!Walk(root, std::string(), problem)) return false;
        if (tree.files.empty()) {
            problem = "holds no file; the installer would install nothing";
            return false;
        }
        std::vector<size_t> order(tree.files.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        // Byte order of the UTF-8 paths: the same installer from the same folder on any
        // file system, and the order the build's glob gives.
        std::sort(order.begin(), order.end(), [this](size_t a, size_t b) { return tree.files[a] < tree.files[b]; });
        PayloadTree sorted;
        std::vector<std::wstring> sortedSources;
        for (size_t i : order) {
            sorted.files.push_back(tree.files[i]);
            sortedSources.push_back(sources[i]);
        }
        sorted.emptyFolders = tree.emptyFolders;
        std::sort(sorted.emptyFolders.begin(), sorted.emptyFolders.end());
        tree = std::move(sorted);
        sources = std::move(sortedSources);
        return true;
    }

private:
    bool Walk(const std::wstring& folder, const std::string& relative, std::string& problem) {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            problem =
                (relative.empty() ? std::string("cannot be read: ") : "its folder " + relative + " cannot be read: ") +
                SystemMessage(GetLastError());
            return false;
        }
        bool any = false, ok = true;
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            any = true;
            const std::string path = (relative.empty() ? "" : relative + "/") + Utf8Of(name);
            const bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (isFolder && (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
                problem = path + " is a link to a folder; copy what it holds into the payload folder";
                ok = false;
            } else if (isFolder) {
                ok = Walk(folder + L"\\" + name, path, problem);
            } else {
                tree.files.push_back(path);
                sources.push_back(folder + L"\\" + name);
                bytes += static_cast<uint64_t>(found.nFileSizeHigh) << 32 | found.nFileSizeLow;
            }
        } while (ok && FindNextFileW(search, &found));
        const DWORD error = GetLastError();
        FindClose(search);
        if (ok && error != ERROR_NO_MORE_FILES) {
            problem = "cannot be listed whole: " + SystemMessage(error);
            ok = false;
        }
        if (ok && !any && !relative.empty()) tree.emptyFolders.push_back(relative);
        return ok;
    }
};

bool ReadPayloadFile(const std::wstring& source, std::vector<uint8_t>& bytes, std::string& problem) {
    HANDLE file = CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        problem = "cannot be read: " + SystemMessage(GetLastError());
        return false;
    }
    std::string read;
    const bool ok = ReadOpenFile(file, read, problem);
    CloseHandle(file);
    bytes.assign(read.begin(), read.end());
    return ok;
}

// Every name the archive will hold, and every empty folder the module will make, by the
// archive's rules; the first problem names the payload path.
bool CheckPayloadNames(const PayloadTree& tree, const std::string& folder, std::string& problem) {
    std::vector<std::string> names = {KV_PRODUCT_MODULE_NAME, KV_PRODUCT_FILE_NAME, KV_PRODUCT_FOLDERS_FILE_NAME,
                                      KV_PRODUCT_UNINSTALLER_NAME};
    for (const std::vector<std::string>* list : {&tree.files, &tree.emptyFolders}) {
        for (const std::string& path : *list) {
            std::string why;
            if (!engine::IsSafeArchivePath(folder + "/" + path, &why)) {
                problem = path + ": the path " + why;
                return false;
            }
            names.push_back(folder + "/" + path);
        }
    }
    return engine::CheckArchiveNames(names, 0, &problem);
}

}  // namespace

int PackProduct(const PackOptions& given) {
    PackOptions options = given;
    options.embed = true;
    const std::string productOption = options.product;
    const std::string payloadOption = "--payload " + options.payload;
    std::string problem;
    std::string text, stub, module, licence, warning;
    // The product first: its scope names the stub. Its problems are told with the payload's.
    if (!ReadWholeFile(options.product, text, problem)) return Fail("--product " + options.product, problem);
    std::unique_ptr<KvProduct> product(new KvProduct());
    std::vector<std::string> problems = ReadProductFile(text, *product);
    if (options.stub.empty()) options.stub = BesideThisProgram(ProductStubName(*product));
    if (options.module.empty()) options.module = BesideThisProgram(KV_PRODUCT_MODULE_NAME);
    struct Input {
        const char* option;
        const std::string& path;
        std::string& bytes;
    };
    const Input inputs[] = {{"--stub", options.stub, stub},
                            {"--module", options.module, module},
                            {"--licence", options.licence, licence},
                            {"--warning", options.warning, warning}};
    for (const Input& input : inputs) {
        if (input.path.empty()) continue;  // a document made below
        if (!ReadWholeFile(input.path, input.bytes, problem)) return Fail(input.option + (" " + input.path), problem);
        // An empty resource cannot be written: UpdateResource takes size 0 as "delete".
        if (input.bytes.empty()) {
            return Fail(input.option + (" " + input.path), "is empty");
        }
    }
    ImageTail tail;
    if (!CheckStub(options.stub, stub, problem) || !SplitTail(stub, tail, problem) ||
        (problems.empty() && !CheckStubScope(options.stub, *product, problem))) {
        return Fail("--stub " + options.stub, problem);
    }
    if (!CheckModule(module, stub, problem)) return Fail("--module " + options.module, problem);

    PayloadReader payload;
    if (!payload.Read(options.payload, problem)) return Fail(payloadOption, problem);
    if (problems.empty()) problems = CheckProductPayload(*product, payload.tree);
    for (const std::string& sentence : problems) Fail(productOption, sentence);
    if (!problems.empty()) return kFailed;

    const std::string folder = PayloadFolder(*product);
    std::string folders;
    if (!FoldersText(payload.tree, folders, problem) || !CheckPayloadNames(payload.tree, folder, problem)) {
        return Fail(payloadOption, problem);
    }
    if (payload.bytes > kMaxResourceBytes) {
        return Fail(payloadOption, "holds " + std::to_string(payload.bytes) + " bytes, more than an installer can "
                                   "carry (" + std::to_string(kMaxResourceBytes) + ")");
    }
    const std::string setup = ProductSetupText(*product);
    if (!CheckSetupText(setup, KV_PRODUCT_MODULE_NAME, problem)) return Fail(productOption, "setup.ini " + problem);
    if (licence.empty()) licence = ProductDocument(*product, true);
    if (warning.empty()) warning = ProductDocument(*product, false);

    const std::string out = FullPath(options.out);
    const std::string outOption = "--out " + options.out;
    options.files.push_back({KV_PRODUCT_MODULE_NAME, options.module, "--module " + options.module});
    if (!CheckOutput(options, out, problem)) return Fail(outOption, problem);
    const std::string outFolder = out.substr(0, out.find_last_of('\\') + 1);

    // The uninstaller: the same stub carrying setup.ini alone, written by the same code; a
    // per-user one must run without administrator rights from the user's own folder.
    std::string uninstaller;
    {
        TemporaryFile copy(outFolder);
        const std::string* only[] = {&setup};
        if (copy.path().empty()) return Fail(outOption, "cannot make a temporary file in " + outFolder);
        if (!WriteStubWithResources(copy.path(), stub, tail, only, 1, problem) ||
            !ReadWholeFile(copy.path(), uninstaller, problem)) {
            return Fail(outOption, "the uninstaller: " + problem);
        }
    }
    std::vector<engine::ArchiveInput> entries = {
        {KV_PRODUCT_MODULE_NAME, std::vector<uint8_t>(module.begin(), module.end())},
        {KV_PRODUCT_FILE_NAME, std::vector<uint8_t>(text.begin(), text.end())},
        {KV_PRODUCT_FOLDERS_FILE_NAME, std::vector<uint8_t>(folders.begin(), folders.end())},
        {KV_PRODUCT_UNINSTALLER_NAME, std::vector<uint8_t>(uninstaller.begin(), uninstaller.end())}};
    for (size_t i = 0; i < payload.tree.files.size(); ++i) {
        entries.push_back({folder + "/" + payload.tree.files[i], {}});
        if (!ReadPayloadFile(payload.sources[i], entries.back().bytes, problem)) {
            return Fail(payloadOption, payload.tree.files[i] + " " + problem);
        }
    }
    std::vector<uint8_t> written;
    if (!engine::WriteArchive(entries, written, &problem)) return Fail(payloadOption, problem);
    entries.clear();
    if (written.size() > kMaxResourceBytes) {
        return Fail(payloadOption, "the archive would be " + std::to_string(written.size()) +
                                   " bytes, more than a resource can hold (" + std::to_string(kMaxResourceBytes) + ")");
    }
    const std::string archive(written.begin(), written.end());
    written = std::vector<uint8_t>();

    TemporaryFile temporary(outFolder);
    if (temporary.path().empty()) return Fail(outOption, "cannot make a temporary file in " + outFolder);
    const std::string* resources[] = {&setup, &licence, &warning, &archive};
    if (!WriteStubWithResources(temporary.path(), stub, tail, resources, 4, problem)) return Fail(outOption, problem);
    if (!temporary.renameTo(out)) return Fail(outOption, "cannot be replaced: " + SystemMessage(GetLastError()));
    ReportWritten(options, out, tail);
    return kSucceeded;
}

}  // namespace pack
