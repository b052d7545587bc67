// Line splitting of answers files.
#include "engine/core/answer_lines.h"

#include <cstring>

namespace engine {

std::vector<std::string> SplitAnswerLines(const char* bytes, size_t size) {
    std::vector<std::string> lines;
    if (bytes == nullptr) return lines;
    size_t start = size >= 3 && std::memcmp(bytes, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    for (size_t i = start; i < size; ++i) {
        if (bytes[i] != '\r' && bytes[i] != '\n') continue;
        lines.emplace_back(bytes + start, i - start);
        if (bytes[i] == '\r' && i + 1 < size && bytes[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < size) lines.emplace_back(bytes + start, size - start);
    return lines;
}

}  // namespace engine
