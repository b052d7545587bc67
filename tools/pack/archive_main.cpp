// kelvane-archive: the build machine's tool that packs files into an installer archive
// (engine/core/archive.h). Reads the named files and writes one archive; never runs on
// the user's machine and never writes anything but --out.
#include "engine/core/archive.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: kelvane-archive --out FILE [--file ARCHIVEPATH=SOURCEPATH]...\n"
    "  ARCHIVEPATH: the file's place in the archive, '/' between folders; it ends at the first '='.\n";

int Refuse(const std::string& message) {
    std::fprintf(stderr, "kelvane-archive: %s\n", message.c_str());
    return 1;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    char chunk[1 << 16];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0)
        bytes.insert(bytes.end(), chunk, chunk + in.gcount());
    return in.eof() && !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
    std::string outPath;
    std::vector<engine::ArchiveInput> files;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--help" || word == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (i + 1 >= argc || (word != "--out" && word != "--file")) {
            std::fputs(kUsage, stderr);
            return Refuse(i + 1 >= argc && (word == "--out" || word == "--file") ? word + " needs a value"
                                                                                : "unknown argument " + word);
        }
        const std::string value = argv[++i];
        if (word == "--out") {
            outPath = value;
            continue;
        }
        const size_t equals = value.find('=');
        if (equals == std::string::npos || equals == 0 || equals + 1 == value.size())
            return Refuse("--file " + value + ": expected ARCHIVEPATH=SOURCEPATH");
        engine::ArchiveInput input;
        input.path = value.substr(0, equals);
        const std::string source = value.substr(equals + 1);
        if (!ReadWholeFile(source, input.bytes)) return Refuse("cannot read " + source);
        files.push_back(std::move(input));
    }
    if (outPath.empty()) {
        std::fputs(kUsage, stderr);
        return Refuse("--out is required");
    }

    std::vector<uint8_t> archive;
    std::string failure;
    if (!engine::WriteArchive(files, archive, &failure)) return Refuse(failure);
    std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(archive.data()), static_cast<std::streamsize>(archive.size()));
    out.close();
    if (!out) {
        std::remove(outPath.c_str());  // a half-written archive must not pass for a whole one
        return Refuse("cannot write " + outPath);
    }
    return 0;
}
