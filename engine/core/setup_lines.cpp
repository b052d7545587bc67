// Setup description line reader. Portable; never reads outside [0, length), since the
// text may come from a resource or a file that has no terminating NUL in range.
#include "engine/core/setup_lines.h"

namespace engine {

namespace {
constexpr char kCarriageReturn = 13;
constexpr char kLineFeed = 10;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Windows drops trailing dots and spaces from a part, so "..", ". ." and "..." all climb.
bool ClimbsUp(const char* part, size_t length) {
    size_t dots = 0;
    for (size_t i = 0; i < length; ++i) {
        if (part[i] == '.') {
            ++dots;
        } else if (part[i] != ' ') {
            return false;
        }
    }
    return dots >= 2;
}

bool Is(const char* upper, size_t length, const char* device) {
    size_t n = 0;
    while (device[n] != '\0') ++n;
    if (n != length) return false;
    for (size_t i = 0; i < n; ++i) {
        if (upper[i] != device[i]) return false;
    }
    return true;
}

// The device test looks at the text before the first dot, trailing blanks dropped:
// "nul.dll" and "CON .txt" open the device too. Windows reads a name in UTF-16, where
// COM and LPT also take the superscripts 1-3; as bytes those come as 0xB9, 0xB2, 0xB3
// in the ANSI code page (line 5) or after 0xC2 in UTF-8 (archive paths).
bool NamesDevice(const char* part, size_t length) {
    size_t base = 0;
    while (base < length && part[base] != '.') ++base;
    while (base > 0 && part[base - 1] == ' ') --base;
    char upper[8];
    if (base > sizeof upper) return false;
    for (size_t i = 0; i < base; ++i) upper[i] = Upper(part[i]);
    if (Is(upper, base, "CON") || Is(upper, base, "PRN") || Is(upper, base, "AUX") || Is(upper, base, "NUL") ||
        Is(upper, base, "CONIN$") || Is(upper, base, "CONOUT$"))
        return true;
    if (base < 4 || !(Is(upper, 3, "COM") || Is(upper, 3, "LPT"))) return false;
    const auto digit = static_cast<unsigned char>(upper[base - 1]);
    const bool superscript = digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
    if (base == 5) return static_cast<unsigned char>(upper[3]) == 0xC2 && superscript;
    return base == 4 && ((digit >= '0' && digit <= '9') || superscript);
}
}  // namespace

bool ReadSetupLine(const char* text, int32_t length, int32_t& position, char* destination,
                   size_t destinationSize) {
    // A cursor below -1 would index before the text; treat it as exhausted.
    if (text == nullptr || length <= 0 || position >= length || position < -1) return false;
    const bool storing = destination != nullptr && destinationSize > 0;
    size_t stored = 0;
    ++position;
    while (position < length && text[position] != kCarriageReturn) {
        if (storing && stored + 1 < destinationSize) destination[stored++] = text[position];
        ++position;
    }
    if (storing) destination[stored] = '\0';
    if (position >= length) return false;  // cursor == length: later calls see the end
    if (position + 1 < length && text[position + 1] == kLineFeed) ++position;
    return true;
}

void ExtractSetupNames(const char* text, int32_t length, char (&programName)[kSetupLineSize],
                       char (&moduleFileName)[kSetupLineSize]) {
    programName[0] = '\0';
    moduleFileName[0] = '\0';
    int32_t position = -1;
    // The results are not examined: a missing line just leaves its value empty.
    ReadSetupLine(text, length, position, nullptr, 0);
    ReadSetupLine(text, length, position, programName, kSetupLineSize);
    ReadSetupLine(text, length, position, nullptr, 0);
    ReadSetupLine(text, length, position, nullptr, 0);
    ReadSetupLine(text, length, position, moduleFileName, kSetupLineSize);
}

NamePart ClassifyNamePart(const char* part, size_t length) {
    if (length == 0) return NamePart::kEmpty;
    for (size_t i = 0; i < length; ++i) {
        const auto u = static_cast<unsigned char>(part[i]);
        if (u < 0x20 || u == 0x7F) return NamePart::kControl;
        if (u == ':') return NamePart::kColon;
        if (u == '<' || u == '>' || u == '"' || u == '|' || u == '?' || u == '*') return NamePart::kReserved;
    }
    if (length == 1 && part[0] == '.') return NamePart::kDot;
    if (length == 2 && part[0] == '.' && part[1] == '.') return NamePart::kDotDot;
    if (part[length - 1] == '.' || part[length - 1] == ' ') return NamePart::kTrailing;
    return NamesDevice(part, length) ? NamePart::kDevice : NamePart::kPlain;
}

bool IsSafeModuleName(const char* name) {
    if (name == nullptr) return false;
    if (IsSeparator(name[0])) return false;
    const char* part = name;
    for (const char* c = name;; ++c) {
        if (*c == ':') return false;
        if (*c == '\0' || IsSeparator(*c)) {
            // Only a way out or a device: a name Windows merely reads otherwise (a trailing
            // blank, a "." part) still names a file of the folder, as it always did.
            const auto length = static_cast<size_t>(c - part);
            if (ClimbsUp(part, length) || NamesDevice(part, length)) return false;
            if (*c == '\0') return true;
            part = c + 1;
        }
    }
}

}  // namespace engine
