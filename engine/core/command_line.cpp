// Word splitting and switch parsing for unattended runs, and the usage text. Portable; no
// global state beyond constant tables. Decides nothing about what the switches then do.
#include "engine/core/command_line.h"

#include <cstddef>
#include <utility>

namespace engine {

namespace {

enum class Switch : uint8_t {
    quiet, passive, acceptLicence, toStdout, help, log, answers, dir, uninstall,
    allowDowngrade, closeApplications, noRestart, forceRestart
};

struct SwitchName {
    const char* name;  // lower case, without the prefix
    Switch which;
    bool takesValue;
};

constexpr SwitchName kSwitches[] = {
    {"quiet", Switch::quiet, false},
    {"passive", Switch::passive, false},
    {"acceptlicence", Switch::acceptLicence, false},
    {"acceptlicense", Switch::acceptLicence, false},
    {"stdout", Switch::toStdout, false},
    {"?", Switch::help, false},
    {"help", Switch::help, false},
    {"log", Switch::log, true},
    {"answers", Switch::answers, true},
    {"dir", Switch::dir, true},
    {"uninstall", Switch::uninstall, false},
    {"allowdowngrade", Switch::allowDowngrade, false},
    {"closeapplications", Switch::closeApplications, false},
    {"norestart", Switch::noRestart, false},
    {"forcerestart", Switch::forceRestart, false},
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// ASCII only: a locale-dependent tolower would let a code page change which words match.
std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    }
    return text;
}

bool IsAsciiLetterOrDigit(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

bool IsPlainWord(const std::string& word) { return !word.empty() && word[0] != '/' && word[0] != '-'; }

// A plain word counts too: "quiet" meant as a switch must not start an interactive run.
bool WordNamesUnattendedMode(const std::string& word) {
    if (word.empty()) return false;
    size_t start = 0;
    if (!IsPlainWord(word)) {
        start = 1;
    } else {
        while (start < word.size() && !IsAsciiLetterOrDigit(word[start])) ++start;
    }
    const size_t equals = word.find('=', start);
    const std::string name = LowerAscii(word.substr(start, equals == std::string::npos ? std::string::npos : equals - start));
    return name == "quiet" || name == "passive";
}

bool AnyWordNamesUnattendedMode(const std::vector<std::string>& words) {
    for (size_t i = 1; i < words.size(); ++i) {
        if (WordNamesUnattendedMode(words[i])) return true;
    }
    return false;
}

const SwitchName* FindSwitch(const std::string& lowerName) {
    for (const SwitchName& entry : kSwitches) {
        if (lowerName == entry.name) return &entry;
    }
    return nullptr;
}

// The program path, which must stay a usable path: no quote or backslash processing.
const char* SplitProgramWord(const char* p, std::string& word) {
    if (*p == '"') {
        for (++p; *p != '\0' && *p != '"'; ++p) word += *p;
        return *p == '"' ? p + 1 : p;
    }
    for (; *p != '\0' && !IsBlank(*p); ++p) word += *p;
    return p;
}

// One argument word starting at a non-blank p; returns where the word ended.
const char* SplitWord(const char* p, std::string& word) {
    bool quoted = false;
    while (*p != '\0' && (quoted || !IsBlank(*p))) {
        if (*p == '\\') {
            size_t backslashes = 0;
            for (; *p == '\\'; ++p) ++backslashes;
            if (*p != '"') {
                word.append(backslashes, '\\');  // literal; *p is looked at on the next turn
                continue;
            }
            word.append(backslashes / 2, '\\');
            if (backslashes % 2 != 0) {
                word += '"';
            } else {
                quoted = !quoted;
            }
            ++p;
        } else if (*p == '"') {
            quoted = !quoted;
            ++p;
        } else {
            word += *p++;
        }
    }
    return p;
}

// Applies one well-formed switch; returns the error sentence, empty when it applied.
std::string Apply(const SwitchName& entry, const std::string& word, std::string value,
                  CommandLineOptions& options, std::string& modeWord, std::string& restartWord) {
    switch (entry.which) {
    case Switch::quiet:
    case Switch::passive: {
        const UiMode mode = entry.which == Switch::quiet ? UiMode::quiet : UiMode::passive;
        if (options.mode != UiMode::full && options.mode != mode) {
            return "Conflicting switches: " + modeWord + " and " + word;
        }
        options.mode = mode;
        if (modeWord.empty()) modeWord = word;
        return std::string();
    }
    case Switch::acceptLicence: options.acceptLicence = true; return std::string();
    case Switch::toStdout: options.mirrorToStdout = true; return std::string();
    case Switch::help: options.help = true; return std::string();
    case Switch::log: options.logPath = std::move(value); return std::string();
    case Switch::answers: options.answersPath = std::move(value); return std::string();
    case Switch::dir: options.installDir = std::move(value); return std::string();
    case Switch::uninstall: options.uninstall = true; return std::string();
    case Switch::allowDowngrade: options.allowDowngrade = true; return std::string();
    case Switch::closeApplications: options.closeApplications = true; return std::string();
    case Switch::noRestart:
    case Switch::forceRestart: {
        // Which one won would be a guess about a restart nobody may undo.
        const bool force = entry.which == Switch::forceRestart;
        if (!restartWord.empty() && force != options.forceRestart) {
            return "Conflicting switches: " + restartWord + " and " + word;
        }
        options.forceRestart = force;
        if (restartWord.empty()) restartWord = word;
        return std::string();
    }
    }
    return std::string();
}

}  // namespace

const char* UiModeName(UiMode mode) {
    switch (mode) {
    case UiMode::full: return "full";
    case UiMode::passive: return "passive";
    case UiMode::quiet: return "quiet";
    }
    return "unknown";
}

std::vector<std::string> SplitCommandLine(const char* text) {
    std::vector<std::string> words;
    if (text == nullptr) return words;
    words.emplace_back();
    const char* p = SplitProgramWord(text, words.back());
    for (;;) {
        while (IsBlank(*p)) ++p;
        if (*p == '\0') break;
        words.emplace_back();
        p = SplitWord(p, words.back());
    }
    return words;
}

CommandLineParse ParseCommandLine(const char* text) {
    CommandLineParse parse;
    const std::vector<std::string> words = SplitCommandLine(text);
    std::string modeWord;  // the word that chose quiet or passive, for the conflict sentence
    std::string restartWord;  // likewise for /norestart or /forcerestart
    const bool unattended = AnyWordNamesUnattendedMode(words);
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word.empty()) continue;
        if (IsPlainWord(word) && !unattended) continue;
        const size_t equals = word.find('=');
        const bool hasValue = equals != std::string::npos;
        const SwitchName* entry = FindSwitch(LowerAscii(word.substr(1, hasValue ? equals - 1 : std::string::npos)));
        std::string error;
        if (IsPlainWord(word)) {
            error = "Not a switch (switches start with / or -): " + word;
        } else if (entry == nullptr) {
            error = "Unknown switch: " + word;
        } else if (entry->takesValue && (!hasValue || equals + 1 == word.size())) {
            error = "Switch needs a value: " + word;
        } else if (!entry->takesValue && hasValue) {
            error = "Switch takes no value: " + word;
        } else {
            error = Apply(*entry, word, hasValue ? word.substr(equals + 1) : std::string(), parse.options, modeWord,
                          restartWord);
        }
        if (!error.empty()) {
            // Options from before the bad word are dropped: nobody may act on half a command line.
            CommandLineParse failed;
            failed.ok = false;
            failed.error = std::move(error);
            return failed;
        }
    }
    return parse;
}

bool NamesUnattendedMode(const char* text) { return AnyWordNamesUnattendedMode(SplitCommandLine(text)); }

bool NeedsLicenceAcceptance(const CommandLineOptions& options) {
    return options.mode != UiMode::full && !options.uninstall;
}

const char kUsageText[] =
    "kelvane installer: unattended installation switches\r\n"
    "Usage: setup.exe [/quiet | /passive] /acceptlicence [/log=PATH] [/stdout] [/answers=FILE]\r\n"
    "  /quiet          no window at all\r\n"
    "  /passive        progress only, no questions\r\n"
    "  /acceptlicence  accept the licence; required with /quiet or /passive\r\n"
    "  /log=PATH       also write the log to PATH\r\n"
    "  /stdout         console text to standard output, red text to standard error\r\n"
    "  /answers=FILE   lines for the input fields, in order\r\n"
    "  /dir=PATH       install into PATH (installers that offer it)\r\n"
    "  /uninstall      remove what this installer's product installed\r\n"
    "  /allowdowngrade  install over a newer version of the product\r\n"
    "  /closeapplications  close the programs that hold files to be replaced\r\n"
    "  /norestart      never restart the computer (the default)\r\n"
    "  /forcerestart   restart the computer when the run needs it (exit code 1641)\r\n"
    "  /?, /help       this text\r\n"
    "Exit codes:\r\n"
    "  0     success\r\n"
    "  1602  licence not accepted\r\n"
    "  1603  installation failed\r\n"
    "  1618  another installation is running\r\n"
    "  1638  another version of this product is installed\r\n"
    "  3010  success; a restart is needed to complete it\r\n"
    "  1641  success; the computer is being restarted\r\n"
    "  87    bad command line\r\n";

}  // namespace engine
