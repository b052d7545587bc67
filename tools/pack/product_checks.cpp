// The product route's checks and generated texts (product_checks.h). Portable: reads the
// product file through the engine's key=value reader, as the installer does, and judges it
// with the module's core; never opens a file.
#include "tools/pack/product_checks.h"

#include <cstdint>
#include <cstring>
#include <memory>

#include "engine/core/byte_source.h"
#include "engine/core/key_values.h"
#include "tools/pack/pack_options.h"

namespace pack {

namespace {

constexpr char kCarriageReturn = 13;
constexpr char kLineFeed = 10;
constexpr size_t kLongestLine = engine::kKeyValueLineSize - 1;

// The core asks by key and must tell a missing key from an empty value, which getValue
// cannot: the first line of that key (ASCII case ignored), or null.
const char* LookUp(void* context, const char* key) {
    char wanted[engine::kLookupKeySize];
    size_t i = 0;
    for (; i < sizeof wanted && key[i] != '\0'; ++i) wanted[i] = key[i];
    if (i == sizeof wanted) return nullptr;
    wanted[i] = '\0';
    engine::UpperCaseAscii(wanted);
    for (const KeyValueNode* node = static_cast<const KeyValueNode*>(context); node != nullptr; node = node->next) {
        if (std::strcmp(node->entry->key, wanted) == 0) return node->entry->value;
    }
    return nullptr;
}

// Nothing beyond the payload is a known folder to the packer.
const char* NoFolder(void*, const char*) { return nullptr; }

void CheckLines(const std::string& text, std::vector<std::string>& problems) {
    size_t line = 1, start = 0;
    bool badEnd = false;
    for (size_t i = 0; i <= text.size(); ++i) {
        const bool end = i == text.size() || text[i] == kCarriageReturn || text[i] == kLineFeed;
        if (!end) continue;
        if (i - start > kLongestLine) {
            problems.push_back("line " + std::to_string(line) + " is " + std::to_string(i - start) +
                               " bytes long; the installer reads at most " + std::to_string(kLongestLine) +
                               " and would drop the rest");
        }
        if (i == text.size()) break;
        if (!badEnd && (text[i] == kLineFeed || i + 1 == text.size() || text[i + 1] != kLineFeed)) {
            // One sentence is enough: such a file was saved with the wrong line ends throughout.
            problems.push_back("line " + std::to_string(line) + " ends with a lone " +
                               (text[i] == kLineFeed ? "LF" : "CR") +
                               ", and the installer would take the next line's first byte as part of the line "
                               "end; save it with CR LF line ends");
            badEnd = true;
        }
        if (text[i] == kCarriageReturn && i + 1 < text.size() && text[i + 1] == kLineFeed) ++i;
        ++line;
        start = i + 1;
    }
}

std::string Slashed(std::string path) {
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    while (!path.empty() && path.back() == '/') path.pop_back();
    return path;
}

bool StartsWithFolder(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path[folder.size()] == '/' &&
           SameIgnoringCase(path.substr(0, folder.size()), folder);
}

bool IsPayloadFile(const PayloadTree& payload, const std::string& path) {
    for (const std::string& file : payload.files) {
        if (SameIgnoringCase(file, path)) return true;
    }
    return false;
}

bool IsPayloadFolder(const PayloadTree& payload, const std::string& path) {
    if (path.empty()) return true;  // {app} itself
    for (const std::vector<std::string>* list : {&payload.files, &payload.emptyFolders}) {
        for (const std::string& entry : *list) {
            if (StartsWithFolder(entry, path) || (list == &payload.emptyFolders && SameIgnoringCase(entry, path))) {
                return true;
            }
        }
    }
    return false;
}

// "path,index" names the file before the comma, as the core reads it.
std::string IconFile(const std::string& icon) {
    const size_t comma = icon.find_last_of(',');
    if (comma == std::string::npos) return icon;
    const std::string digits = icon.substr(comma + 1 + (icon.compare(comma + 1, 1, "-") == 0 ? 1 : 0));
    const bool numeric =
        !digits.empty() && digits.size() <= 9 && digits.find_first_not_of("0123456789") == std::string::npos;
    return numeric ? icon.substr(0, comma) : icon;
}

// One path of the product against the payload: a sentence when it names nothing there. Paths outside {app} are the
// core's to refuse.
void CheckInPayload(const KvProduct& product, const PayloadTree& payload, const std::string& what,
                    const std::string& path, bool folder, std::vector<std::string>& problems) {
    const char* relative = SameIgnoringCase(path, "{app}") ? "" : KvProductAppRelative(path.c_str());
    if (relative == nullptr) return;
    char expanded[KV_PRODUCT_PATH];
    char why[KV_PRODUCT_TEXT];
    if (!KvExpand(relative, &product, nullptr, NoFolder, nullptr, expanded, sizeof expanded, why, sizeof why)) {
        problems.push_back(what + " \"" + path + "\" cannot be checked against the payload: " + why);
        return;
    }
    const std::string inside = Slashed(expanded);
    if (folder ? IsPayloadFolder(payload, inside) : IsPayloadFile(payload, inside)) return;
    problems.push_back(what + " \"" + path + "\" names no " + (folder ? "folder" : "file") +
                       " in the payload folder");
}

}  // namespace

std::vector<std::string> ReadProductFile(const std::string& text, KvProduct& product) {
    std::vector<std::string> problems;
    CheckLines(text, problems);
    if (!problems.empty()) return problems;
    engine::MemoryByteSource source(text.data(), text.size());
    engine::KeyValueArena arena;
    const KeyValueList list = engine::loadKeyValues(source, arena);
    char problem[512];
    if (!KvReadProduct(LookUp, list, &product, problem, sizeof problem)) problems.push_back(problem);
    return problems;
}

std::vector<std::string> CheckProductPayload(const KvProduct& product, const PayloadTree& payload) {
    std::vector<std::string> problems;
    for (unsigned i = 0; i < product.shortcutCount && i < KV_PRODUCT_MAX_SHORTCUTS; ++i) {
        const std::string key = "SHORTCUT" + std::to_string(i + 1);
        CheckInPayload(product, payload, key + "'s target", product.shortcuts[i].target, false, problems);
        if (product.shortcuts[i].icon[0] != '\0') {
            CheckInPayload(product, payload, key + "'s icon", IconFile(product.shortcuts[i].icon), false, problems);
        }
    }
    if (product.icon[0] != '\0') CheckInPayload(product, payload, "ICON", IconFile(product.icon), false, problems);
    if (product.pathEntry[0] != '\0') CheckInPayload(product, payload, "PATH", product.pathEntry, true, problems);
    return problems;
}

std::string PayloadFolder(const KvProduct& product) {
    const std::string name = product.payload[0] != '\0' ? Slashed(product.payload) : "app";
    return std::string(KV_PRODUCT_PAYLOAD_ROOT) + "/" + name;
}

std::string ProductSetupText(const KvProduct& product) {
    return std::string("[setup]\r\n") + product.name + "\r\n" + product.version + "\r\nstandard\r\n" +
           KV_PRODUCT_MODULE_NAME + "\r\n";
}

bool FoldersText(const PayloadTree& payload, std::string& text, std::string& problem) {
    text.clear();
    for (size_t i = 0; i < payload.emptyFolders.size(); ++i) {
        std::string line = "FOLDER" + std::to_string(i + 1) + "=" + payload.emptyFolders[i];
        for (char& c : line) {
            if (c == '/') c = '\\';
        }
        if (line.size() > kLongestLine) {
            problem = "the empty folder " + payload.emptyFolders[i] + " has too long a path for folders.ini (" +
                      std::to_string(line.size()) + " bytes with its key; at most " + std::to_string(kLongestLine) +
                      ")";
            return false;
        }
        text += line + "\r\n";
    }
    return true;
}

const char* ProductStubName(const KvProduct& product) {
    return product.userScope ? "kelvane-user.exe" : "kelvane.exe";
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The level attribute of the manifest's requestedExecutionLevel element, "" without one.
std::string ExecutionLevel(const std::string& manifest) {
    static const std::string kElement = "requestedExecutionLevel";
    const size_t element = manifest.find(kElement);
    if (element == std::string::npos) return "";
    const size_t start = element + kElement.size();
    const std::string tag = manifest.substr(start, manifest.find('>', start) - start);
    for (size_t at = tag.find("level"); at != std::string::npos; at = tag.find("level", at + 1)) {
        if (at == 0 || !IsBlank(tag[at - 1])) continue;
        size_t i = at + 5;
        while (i < tag.size() && IsBlank(tag[i])) ++i;
        if (i >= tag.size() || tag[i] != '=') continue;
        for (++i; i < tag.size() && IsBlank(tag[i]);) ++i;
        const size_t close = i < tag.size() && (tag[i] == '"' || tag[i] == '\'') ? tag.find(tag[i], i + 1) : i;
        if (close != std::string::npos && close > i) return tag.substr(i + 1, close - i - 1);
    }
    return "";
}

}  // namespace

std::string StubScopeProblem(const KvProduct& product, const std::string& manifest) {
    const std::string level = ExecutionLevel(manifest);
    if (product.userScope && (level == "requireAdministrator" || level == "highestAvailable")) {
        return "its manifest asks for administrator rights (" + level + "): a SCOPE=user product installs " +
               "without them, with the per-user stub kelvane-user.exe";
    }
    if (!product.userScope && level != "requireAdministrator") {
        return "its manifest does not ask for administrator rights (" + (level.empty() ? "no level" : level) +
               "): a SCOPE=machine product installs with them, with the stub kelvane.exe";
    }
    return "";
}

std::string RtfText(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        const uint8_t lead = static_cast<uint8_t>(utf8[i]);
        if (lead < 0x80) {
            if (lead == '\\' || lead == '{' || lead == '}') out += '\\';
            if (lead >= 0x20 && lead != 0x7F) out += static_cast<char>(lead);
            ++i;
            continue;
        }
        const size_t length = lead >= 0xF5 ? 0 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
        uint32_t code = length == 0 ? 0 : lead & (0x7F >> length);
        size_t used = 1;
        for (; length != 0 && used < length && i + used < utf8.size(); ++used) {
            const uint8_t next = static_cast<uint8_t>(utf8[i + used]);
            if ((next & 0xC0) != 0x80) break;
            code = code << 6 | (next & 0x3F);
        }
        const bool valid = length != 0 && used == length &&
                           code >= (length == 3   ? 0x800u
                                    : length == 4 ? 0x10000u
                                                  : 0) &&
                           (code < 0xD800 || code > 0xDFFF) && code <= 0x10FFFF;
        i += valid ? length : used;
        if (!valid) {
            out += '?';
            continue;
        }
        // RTF's \u takes a signed 16-bit number; beyond the BMP a surrogate pair.
        const uint32_t units[2] = {code > 0xFFFF ? 0xD800 + ((code - 0x10000) >> 10) : code,
                                   code > 0xFFFF ? 0xDC00 + ((code - 0x10000) & 0x3FF) : 0};
        for (uint32_t unit : units) {
            if (unit != 0) out += "\\u" + std::to_string(static_cast<int16_t>(static_cast<uint16_t>(unit))) + "?";
        }
    }
    return out;
}

std::string ProductDocument(const KvProduct& product, bool licence) {
    const std::string title = RtfText(product.name) + " " + RtfText(product.version);
    const std::string body = licence ? "No licence text came with this product. Ask its publisher for the terms "
                                       "under which you may use it."
                                     : "This product carries no health warning of its own.";
    return "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}\\f0\\fs20\r\n{\\b " + title + "}\\par\r\n" +
           RtfText(product.publisher) + "\\par\r\n\\par\r\n" + body + "\\par\r\n}\r\n";
}

}  // namespace pack
