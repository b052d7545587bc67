// The whole set of archive paths judged as Windows will create them: one refusal, naming the
// entry, for anything that would land elsewhere, clash, or fail half-way through unpacking.
// Pure: no files, no windows.h; NTFS's case folding comes from a generated table.
#include "engine/core/archive_names.h"

#include "engine/core/setup_lines.h"
#include "engine/core/upcase_table.h"

#include <cstdint>
#include <map>

namespace engine {

namespace {

constexpr size_t kMaxFullPath = 259;    // MAX_PATH less the terminating NUL
// CreateDirectoryW keeps room for an 8.3 name below the folder: it refuses paths of
// MAX_PATH - 12 units and more, so a folder that fits 259 may still not be creatable.
constexpr size_t kMaxFolderPath = 247;

bool Fail(std::string* why, const std::string& text) {
    if (why != nullptr) *why = text;
    return false;
}

// Control bytes as '?' so a message stays one printable line; other bytes as given.
std::string Shown(const std::string& path) {
    std::string shown(path);
    for (char& c : shown) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) c = '?';
    }
    return shown;
}

// What NTFS compares: every unit through $UpCase. Surrogates have no mapping and stay,
// as NTFS leaves them (it folds units, not code points).
char16_t UpCase(char16_t unit) {
    size_t low = 0, high = sizeof upcase::kRuns / sizeof upcase::kRuns[0];
    while (low < high) {
        const size_t middle = (low + high) / 2;
        if (upcase::kRuns[middle].last < unit) low = middle + 1;
        else high = middle;
    }
    if (low == sizeof upcase::kRuns / sizeof upcase::kRuns[0]) return unit;
    const upcase::Run& run = upcase::kRuns[low];
    if (unit < run.first || (unit - run.first) % run.stride != 0) return unit;
    return static_cast<char16_t>(unit + run.delta);  // the table's offsets wrap modulo 2^16
}

// A name Windows could have made up as another file's short alias ("PROGRA~1",
// "READ~1.TXT"). Whether it would meet one depends on the order of creation, the volume's
// settings and Windows' hashing, none of which the archive knows: such names are refused.
bool LooksLikeShortName(const std::u16string& part) {
    const size_t dot = part.find(u'.');
    const std::u16string base = part.substr(0, dot);
    if (dot != std::u16string::npos) {
        const std::u16string extension = part.substr(dot + 1);
        if (extension.size() > 3 || extension.find(u'.') != std::u16string::npos) return false;
    }
    const size_t tilde = base.rfind(u'~');
    if (tilde == std::u16string::npos || tilde == 0 || tilde > 6 || base.size() > 8 || tilde + 1 == base.size())
        return false;
    for (size_t i = tilde + 1; i < base.size(); ++i)
        if (base[i] < u'0' || base[i] > u'9') return false;
    return true;
}

const char* PartProblem(NamePart kind) {
    switch (kind) {
        case NamePart::kEmpty: return "has an empty part";
        case NamePart::kControl: return "contains a control character";
        case NamePart::kColon: return "contains a colon (a drive or a stream)";
        case NamePart::kReserved: return "contains one of the characters <>\"|?*";
        case NamePart::kDot: return "has a part \".\"";
        case NamePart::kDotDot: return "leaves the folder";
        case NamePart::kTrailing: return "has a part ending in a dot or a blank";
        case NamePart::kDevice: return "names a device";
        case NamePart::kPlain: break;
    }
    return nullptr;
}

struct Seen {
    size_t entry;
    bool folder;  // a folder some entry lies in, not an entry of its own
};

}  // namespace

bool Utf8ToUtf16(const std::string& utf8, std::u16string* out) {
    std::u16string result;
    result.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        uint32_t code = lead;
        size_t trail = 0;
        uint32_t lowest = 0;
        if (lead >= 0xF0 && lead <= 0xF4) {
            code = lead & 0x07u, trail = 3, lowest = 0x10000;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            code = lead & 0x0Fu, trail = 2, lowest = 0x800;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            code = lead & 0x1Fu, trail = 1, lowest = 0x80;
        } else if (lead >= 0x80) {
            return false;  // a continuation byte first, C0/C1 (always overlong) or F5 and above
        }
        if (utf8.size() - i <= trail) return false;  // truncated
        for (size_t k = 1; k <= trail; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            if ((next & 0xC0u) != 0x80u) return false;
            code = (code << 6) | (next & 0x3Fu);
        }
        if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        if (code >= 0x10000) {
            code -= 0x10000;
            result.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            result.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FFu)));
        } else {
            result.push_back(static_cast<char16_t>(code));
        }
        i += trail + 1;
    }
    if (out != nullptr) out->swap(result);
    return true;
}

bool CheckArchiveNames(const std::vector<std::string>& paths, size_t rootLength, std::string* why) {
    // Folded paths (parts joined by '\') -> the first entry that made them, as a file or a folder.
    std::map<std::u16string, Seen> seen;
    for (size_t index = 0; index < paths.size(); ++index) {
        const std::string& path = paths[index];
        const std::string named = "entry " + std::to_string(index + 1) + " (" + Shown(path) + "): ";
        const auto other = [&](const Seen& earlier) {
            return "entry " + std::to_string(earlier.entry + 1) + " (" + Shown(paths[earlier.entry]) + ")";
        };
        std::u16string wide;
        if (!Utf8ToUtf16(path, &wide)) return Fail(why, named + "the path is not valid UTF-8");
        if (!path.empty() && (path[0] == '\\' || path[0] == '/')) return Fail(why, named + "the path is absolute");
        if (rootLength > kMaxFullPath || wide.size() > kMaxFullPath - rootLength)
            return Fail(why, named + "the full path would be " + std::to_string(rootLength + wide.size()) +
                                 " characters long (the folder takes " + std::to_string(rootLength) +
                                 "), over Windows' limit of 259");

        // Separators are ASCII, so the bytes split where the UTF-16 units do.
        std::u16string folded;
        size_t start = 0;
        for (;;) {
            const size_t end = path.find_first_of("\\/", start);
            const std::string part = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
            const NamePart kind = ClassifyNamePart(part.data(), part.size());
            if (kind != NamePart::kPlain)
                return Fail(why, named + PartProblem(kind) + (kind == NamePart::kDevice ? " (" + part + ")" : ""));
            std::u16string unit;
            Utf8ToUtf16(part, &unit);  // valid: a piece of a valid path cut at ASCII
            if (LooksLikeShortName(unit))
                return Fail(why, named + "the part \"" + part +
                                     "\" looks like a short (8.3) name that Windows may give another file, and "
                                     "would open that file instead");
            if (!folded.empty()) folded.push_back(u'\\');
            for (const char16_t c : unit) folded.push_back(UpCase(c));
            if (end == std::string::npos) break;

            // A folder this entry needs: it must not be a file, nor too long to create.
            if (rootLength + folded.size() > kMaxFolderPath)
                return Fail(why, named + "the folder \"" + path.substr(0, end) + "\" would be " +
                                     std::to_string(rootLength + folded.size()) +
                                     " characters long, over the limit of 247 for creating a folder");
            const auto placed = seen.emplace(folded, Seen{index, true});
            if (!placed.second && !placed.first->second.folder)
                return Fail(why, named + "needs a folder \"" + path.substr(0, end) + "\" where " +
                                     other(placed.first->second) + " is a file");
            start = end + 1;
        }
        const auto placed = seen.emplace(folded, Seen{index, false});
        if (!placed.second) {
            const Seen& earlier = placed.first->second;
            if (earlier.folder)
                return Fail(why, named + "is a file where " + other(earlier) + " needs a folder");
            return Fail(why, named + (paths[earlier.entry] == path ? "the same path as "
                                                                     : "the same file as ") +
                                 other(earlier) + (paths[earlier.entry] == path ? "" : " once Windows ignores case"));
        }
    }
    if (why != nullptr) why->clear();
    return true;
}

}  // namespace engine
