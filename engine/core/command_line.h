// The command line of an unattended run: word splitting as the Microsoft C runtime does it,
// the switches, and the usage text. Portable: takes the text it is given, never asks the
// system for the command line, never prints and never exits.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace engine {

enum class UiMode : uint8_t { full, passive, quiet };

// "full", "passive" or "quiet"; "unknown" for a value outside the enumeration.
const char* UiModeName(UiMode mode);

struct CommandLineOptions {
    UiMode mode = UiMode::full;
    bool acceptLicence = false;   // /acceptlicence or /acceptlicense
    bool mirrorToStdout = false;  // /stdout
    bool help = false;            // /? or /help
    std::string logPath;          // /log=PATH, empty when not given
    std::string answersPath;      // /answers=FILE, empty when not given
    std::string installDir;       // /dir=PATH, empty when not given
    bool uninstall = false;       // /uninstall
    bool allowDowngrade = false;  // /allowdowngrade
    bool closeApplications = false;  // /closeapplications
    bool forceRestart = false;    // /forcerestart; /norestart, the default, leaves it false
};

struct CommandLineParse {
    bool ok = true;            // false: exit code 87 (bad command line)
    CommandLineOptions options;
    std::string error;         // when !ok: one sentence naming the offending word; else empty
};

// Splits a command line (GetCommandLineW's, in UTF-8) into words. The first word, the
// program path, is always there for non-null text (empty when the text is empty or starts
// with a blank): from an opening quote up to the next quote or the end, otherwise up to the
// first blank or tab, quotes kept. The next word may start right after a closing quote.
// The other words follow the runtime's argv rules: blanks and tabs separate words outside
// quotes; a quote toggles quoting and is dropped; 2n backslashes and a quote give n
// backslashes and toggle; 2n+1 backslashes and a quote give n backslashes and a literal
// quote; other backslashes are literal. "" is an empty word. Null text gives no words.
// Any thread; no limit on lengths.
std::vector<std::string> SplitCommandLine(const char* text);

// Parses the switches after the program path. Words not starting with / or - are
// ignored, unless the line names an unattended mode (see below): nobody would answer the
// interactive run they would otherwise fall back to, so each is then a bad word (empty
// words stay ignored). The first bad word (in command-line order) makes the whole parse
// fail, /? or not. Any thread.
CommandLineParse ParseCommandLine(const char* text);

// True when a word after the program path names quiet or passive (ASCII case ignored):
// as a switch, with a value or not, or as a plain word whose leading characters other
// than ASCII letters and digits are dropped ("quiet", "\quiet", a dash from a word
// processor). Valid line or not; the caller may then show no box. Any thread.
bool NamesUnattendedMode(const char* text);

// Whether the run may go on only with /acceptlicence: an unattended installation. A
// removal has no licence to accept. Any thread.
bool NeedsLicenceAcceptance(const CommandLineOptions& options);

// The usage for /? : lines joined with "\r\n", the last one ended too.
extern const char kUsageText[];

}  // namespace engine
