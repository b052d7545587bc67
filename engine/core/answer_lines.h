// The lines of an answers file (/answers=FILE) for unattended input fields. Portable;
// decides only where lines end, never what an answer means.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace engine {

// Lines end at CR LF, LF or a lone CR; the end itself is not part of the line. A last
// line without an end counts; an empty file, or nothing after the last end, adds no
// line. A UTF-8 byte-order mark at the start is dropped (editors add it). NUL bytes
// stay in their line; the console turns them into blanks like other control codes.
std::vector<std::string> SplitAnswerLines(const char* bytes, size_t size);

}  // namespace engine
