// libFuzzer target: arbitrary bytes as a setup description through the line reader,
// the five-line extraction and random destination sizes; line 5 judged by both name
// rules. Uses kv_engine_core only.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/archive.h"
#include "engine/core/setup_lines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // First byte picks a destination size (0 skips, 1 holds only the NUL); the rest is
    // the text, copied so ASan sees its exact end. No NUL is appended on purpose.
    if (size == 0) return 0;
    const size_t destinationSize = data[0];
    std::vector<char> text(data + 1, data + size);
    const int32_t length = static_cast<int32_t>(text.size());

    char programName[engine::kSetupLineSize];
    char moduleFileName[engine::kSetupLineSize];
    engine::ExtractSetupNames(text.data(), length, programName, moduleFileName);
    if (std::memchr(programName, '\0', sizeof programName) == nullptr) std::abort();
    if (std::memchr(moduleFileName, '\0', sizeof moduleFileName) == nullptr) std::abort();
    // A one-part name the archive accepts is a safe module name too.
    const std::string name = moduleFileName;
    if (!name.empty() && name.find_first_of("\\/") == std::string::npos &&
        engine::IsSafeArchivePath(name, nullptr) && !engine::IsSafeModuleName(moduleFileName))
        std::abort();

    std::vector<char> destination(destinationSize == 0 ? 1 : destinationSize);
    int32_t position = -1;
    int32_t previous = position;
    for (int line = 0; line < 1000; ++line) {
        const bool more = engine::ReadSetupLine(text.data(), length, position,
                                                destinationSize == 0 ? nullptr : destination.data(), destinationSize);
        if (position < previous || position > length) std::abort();  // the cursor only moves forward
        if (!more) break;
        if (position == previous) std::abort();  // a line end was consumed
        previous = position;
    }
    return 0;
}
