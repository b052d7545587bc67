// kelvane-pack's command line and the checks that need no file system: setup.ini's text
// as the installer reads it, and the archive paths. Portable; never opens a file, never
// prints and never exits.
#pragma once

#include <string>
#include <vector>

namespace pack {

// One file the installer ships: in the archive with --embed, else beside the output.
struct PackFile {
    std::string archivePath;  // '/' between parts
    std::string source;       // as given on the command line
    std::string argument;     // the option as given, for messages: "--file data/a.bin=C:\a.bin"
};

struct PackOptions {
    std::string stub, setup, licence, warning, module, out;
    std::string product, payload;  // --product: setup.ini and the archive are made from these
    std::vector<PackFile> files;  // the module first (when given), then each --file in order; empty with --product
    bool embed = false;
    bool help = false;
};

// Fills options from the arguments after the program name. On a bad command line, false
// and problem holds one line naming the argument: "--stub: needs a value". With --product,
// --payload and --out are required, --stub, --module and the documents optional (the
// caller supplies the defaults), --setup and --file refused, --embed implied.
bool ParseArguments(const std::vector<std::string>& arguments, PackOptions& options, std::string& problem);

// The last part of a path, after its last '\', '/' or drive colon.
std::string PlainName(const std::string& path);

// ASCII case ignored, as Windows compares the file names the installer uses.
bool SameIgnoringCase(const std::string& a, const std::string& b);

// setup.ini as the installer will read it: CR LF line ends (a lone LF would become part of
// a line), a program name on line 2, line 5 a name inside the program folder as
// engine::IsSafeModuleName judges it, and, when moduleName is not empty, line 5 naming it.
// False with the problem in plain words (without the file's name).
bool CheckSetupText(const std::string& text, const std::string& moduleName, std::string& problem);

// Each path passes the archive's path rules; no two name the same file, and no file's path
// is another's folder (ASCII case ignored). False with the problem naming the --file.
bool CheckArchivePaths(const std::vector<PackFile>& files, std::string& problem);

}  // namespace pack
