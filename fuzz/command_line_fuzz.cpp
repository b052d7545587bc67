// libFuzzer target: arbitrary bytes (up to the first NUL) as a command line through the
// word splitter and the switch parser. Uses kv_engine_core only.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/core/command_line.h"

namespace {

// The runtime's own quoting, so that splitting the quoted words must give them back.
std::string QuoteArgument(const std::string& word) {
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (const char c : word) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + '"';
}

// A program word holding a quote came unquoted, so it has no blank and may stay as it is.
std::string QuoteProgram(const std::string& word) {
    return word.find('"') != std::string::npos ? word : '"' + word + '"';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);  // c_str() ends it at a NUL
    const std::vector<std::string> words = engine::SplitCommandLine(text.c_str());
    if (words.empty()) std::abort();

    std::string rebuilt = QuoteProgram(words[0]);
    for (size_t i = 1; i < words.size(); ++i) rebuilt += ' ' + QuoteArgument(words[i]);
    if (engine::SplitCommandLine(rebuilt.c_str()) != words) std::abort();

    const engine::CommandLineParse parse = engine::ParseCommandLine(text.c_str());
    if (parse.ok != parse.error.empty()) std::abort();
    const engine::CommandLineOptions& o = parse.options;
    if (!parse.ok && (o.mode != engine::UiMode::full || o.acceptLicence || o.mirrorToStdout || o.help ||
                      !o.logPath.empty() || !o.answersPath.empty())) {
        std::abort();
    }
    const engine::CommandLineParse again = engine::ParseCommandLine(rebuilt.c_str());
    if (again.ok != parse.ok || again.error != parse.error || again.options.logPath != o.logPath) std::abort();
    return 0;
}
