// kelvane-pack's command line and its checks of setup.ini's text and the archive paths.
// Portable; works on the strings it is given, never on the files they name.
#include "tools/pack/pack_options.h"

#include <cstdint>

#include "engine/core/archive.h"
#include "engine/core/setup_lines.h"

namespace pack {

namespace {

constexpr char kCarriageReturn = 13;
constexpr char kLineFeed = 10;

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// "DATA\big.bin" and "data/big.bin" are one path to Windows.
std::string ArchivePathFrom(std::string text) {
    for (char& c : text) {
        if (c == '\\') c = '/';
    }
    return text;
}

bool AddFile(const std::string& value, std::vector<PackFile>& files, std::string& problem) {
    PackFile file;
    file.argument = "--file " + value;
    // The first '=' splits: a source whose own name holds one is written NAME=SOURCE.
    const size_t split = value.find('=');
    if (split == std::string::npos) {
        file.source = value;
        file.archivePath = PlainName(value);
    } else {
        file.archivePath = ArchivePathFrom(value.substr(0, split));
        file.source = value.substr(split + 1);
        if (file.archivePath.empty() || file.source.empty()) {
            problem = file.argument + ": give ARCHIVEPATH=SOURCE with both parts, or the source alone";
            return false;
        }
    }
    files.push_back(file);
    return true;
}

// The --product form: setup.ini is generated and every file comes from the payload folder.
bool CheckProductArguments(const PackOptions& options, const std::vector<PackFile>& files, std::string& problem) {
    const std::pair<const char*, const std::string*> required[] = {
        {"--product", &options.product}, {"--payload", &options.payload}, {"--out", &options.out}};
    for (const auto& option : required) {
        if (option.second->empty()) {
            problem = std::string(option.first) + ": is required with --product and --payload";
            return false;
        }
    }
    if (!options.setup.empty()) {
        problem = "--setup: not with --product; the installer's setup.ini is made from the product file";
        return false;
    }
    if (!files.empty()) {
        problem = files.front().argument + ": not with --product; the installer carries the --payload folder";
        return false;
    }
    return true;
}

}  // namespace

std::string PlainName(const std::string& path) {
    const size_t last = path.find_last_of("\\/:");
    return last == std::string::npos ? path : path.substr(last + 1);
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

bool ParseArguments(const std::vector<std::string>& arguments, PackOptions& options, std::string& problem) {
    options = PackOptions();
    struct Single {
        const char* name;
        std::string* value;
    };
    const Single singles[] = {{"--stub", &options.stub},       {"--setup", &options.setup},
                              {"--licence", &options.licence}, {"--warning", &options.warning},
                              {"--module", &options.module},   {"--out", &options.out},
                              {"--product", &options.product}, {"--payload", &options.payload}};
    std::vector<PackFile> files;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--embed") {
            options.embed = true;
            continue;
        }
        if (argument == "--help" || argument == "-h" || argument == "/?") {
            options.help = true;
            return true;
        }
        std::string* target = nullptr;
        for (const Single& single : singles) {
            if (argument == single.name) target = single.value;
        }
        if (target == nullptr && argument != "--file") {
            problem = argument + ": " +
                      (argument.rfind("-", 0) == 0 ? "unknown option" : "unexpected argument") +
                      " (kelvane-pack --help lists the options)";
            return false;
        }
        // "--stub --setup x" is a forgotten value, not a stub named "--setup".
        if (i + 1 >= arguments.size() || arguments[i + 1].empty() || arguments[i + 1].rfind("--", 0) == 0) {
            problem = argument + ": needs a value";
            return false;
        }
        const std::string& value = arguments[++i];
        if (target == nullptr) {
            if (!AddFile(value, files, problem)) return false;
        } else if (!target->empty()) {
            problem = argument + ": given twice";
            return false;
        } else {
            *target = value;
        }
    }
    if (!options.product.empty() || !options.payload.empty()) return CheckProductArguments(options, files, problem);
    for (const Single& single : singles) {
        const bool optional = single.value == &options.module || single.value == &options.product ||
                              single.value == &options.payload;
        if (single.value->empty() && !optional) {
            problem = std::string(single.name) + ": is required (kelvane-pack --help lists the options)";
            return false;
        }
    }
    if (options.embed && options.module.empty()) {
        problem = "--embed: needs --module, the install module the archive must carry";
        return false;
    }
    if (!options.module.empty()) {
        options.files.push_back({PlainName(options.module), options.module, "--module " + options.module});
    }
    options.files.insert(options.files.end(), files.begin(), files.end());
    return true;
}

bool CheckSetupText(const std::string& text, const std::string& moduleName, std::string& problem) {
    if (text.size() > static_cast<size_t>(INT32_MAX)) {
        problem = "is too large for a setup description";
        return false;
    }
    size_t line = 1;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == kCarriageReturn) {
            ++line;
            if (i + 1 < text.size() && text[i + 1] == kLineFeed) ++i;
        } else if (text[i] == kLineFeed) {
            problem = "line " + std::to_string(line) +
                      " ends with a lone LF, which the installer reads as part of the line; save it with CR LF "
                      "line ends";
            return false;
        }
    }
    if (line == 1) {
        problem = "has no CR line ends: the installer would read it as one line and find no program name and "
                  "no module; save it with CR LF line ends";
        return false;
    }
    char programName[engine::kSetupLineSize];
    char named[engine::kSetupLineSize];
    engine::ExtractSetupNames(text.data(), static_cast<int32_t>(text.size()), programName, named);
    if (programName[0] == '\0') {
        problem = "line 2, the program name, is empty";
        return false;
    }
    // The installer refuses such a name at "Install ..." (error 123): say so now, with or
    // without --module, by the same rule.
    if (!engine::IsSafeModuleName(named)) {
        problem = "line 5 names the module \"" + std::string(named) +
                  "\", which is not a file inside the installer's folder (an absolute path, a drive, \"..\", "
                  "a device name or a character Windows refuses); the installer would fail with error 123";
        return false;
    }
    if (!moduleName.empty() && !SameIgnoringCase(named, moduleName)) {
        problem = "line 5 names the module \"" + std::string(named) + "\", but --module is \"" + moduleName +
                  "\"; the installer loads the module by the name on line 5";
        return false;
    }
    return true;
}

bool CheckArchivePaths(const std::vector<PackFile>& files, std::string& problem) {
    for (size_t i = 0; i < files.size(); ++i) {
        const PackFile& file = files[i];
        std::string why;
        if (!engine::IsSafeArchivePath(file.archivePath, &why)) {
            problem = file.argument + ": the path \"" + file.archivePath + "\" is refused: " + why;
            return false;
        }
        for (size_t j = 0; j < i; ++j) {
            const std::string& earlier = files[j].archivePath;
            const bool sameName = SameIgnoringCase(earlier, file.archivePath);
            // A file "data" and a file "data/a.bin" cannot both be created.
            const std::string& shorter = earlier.size() < file.archivePath.size() ? earlier : file.archivePath;
            const std::string& longer = earlier.size() < file.archivePath.size() ? file.archivePath : earlier;
            const bool folderOfOther = longer.size() > shorter.size() && longer[shorter.size()] == '/' &&
                                       SameIgnoringCase(longer.substr(0, shorter.size()), shorter);
            if (sameName || folderOfOther) {
                problem = file.argument + ": the path \"" + file.archivePath + "\" " +
                          (sameName ? "is already taken by " : "cannot be both a file and a folder, with ") +
                          files[j].argument;
                return false;
            }
        }
    }
    return true;
}

}  // namespace pack
