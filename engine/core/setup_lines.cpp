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

// The device test looks at the text before the first dot, trailing spaces dropped:
// "nul.dll" and "CON .txt" open the device too. COM and LPT take 1-9 and the
// superscripts 1-3 (0xB9, 0xB2, 0xB3 in the ANSI code page), which Windows also accepts.
bool NamesDevice(const char* part, size_t length) {
    size_t base = 0;
    while (base < length && part[base] != '.') ++base;
    while (base > 0 && part[base - 1] == ' ') --base;
    char upper[8];
    if (base > sizeof upper) return false;
    for (size_t i = 0; i < base; ++i) upper[i] = Upper(part[i]);
    const auto is = [&](const char* device) {
        size_t n = 0;
        while (device[n] != '\0') ++n;
        if (n != base) return false;
        for (size_t i = 0; i < n; ++i) {
            if (upper[i] != device[i]) return false;
        }
        return true;
    };
    if (is("CON") || is("PRN") || is("AUX") || is("NUL") || is("CONIN$") || is("CONOUT$")) return true;
    if (base != 4) return false;
    const bool port = (upper[0] == 'C' && upper[1] == 'O' && upper[2] == 'M') ||
                      (upper[0] == 'L' && upper[1] == 'P' && upper[2] == 'T');
    const auto digit = static_cast<unsigned char>(upper[3]);
    return port && ((digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3);
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

bool IsSafeModuleName(const char* name) {
    if (name == nullptr) return false;
    if (IsSeparator(name[0])) return false;
    const char* part = name;
    for (const char* c = name;; ++c) {
        if (*c == ':') return false;
        if (*c == '\0' || IsSeparator(*c)) {
            const auto length = static_cast<size_t>(c - part);
            if (ClimbsUp(part, length) || NamesDevice(part, length)) return false;
            if (*c == '\0') return true;
            part = c + 1;
        }
    }
}

}  // namespace engine
