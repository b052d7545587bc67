// Setup description line reader. Portable; never reads outside [0, length), since the
// text may come from a resource or a file that has no terminating NUL in range.
#include "engine/core/setup_lines.h"

namespace engine {

namespace {
constexpr char kCarriageReturn = 13;
constexpr char kLineFeed = 10;
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

}  // namespace engine
