// kelvane-archive: the build machine's tool that packs files into an installer archive
// (engine/core/archive.h), checking a product installer's product file against what it
// packs, or writing a product's generated document. Never runs on the user's machine and
// never writes anything but --out.
#include "engine/core/archive.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/byte_source.h"
#include "engine/core/key_values.h"
#include "tools/pack/product_checks.h"

namespace {

const char kUsage[] =
    "usage: kelvane-archive --out FILE [--check-product product.ini [--setup setup.ini]]\n"
    "                       [--file ARCHIVEPATH=SOURCEPATH | --entry ARCHIVEPATH SOURCEPATH]...\n"
    "       kelvane-archive --out FILE --document licence|warning product.ini\n"
    "  ARCHIVEPATH: the file's place in the archive, '/' between folders; in --file it ends at the\n"
    "  first '='. --check-product refuses the archive unless the product file passes the checks\n"
    "  kelvane-pack --product makes, against the payload and folders.ini among the entries, and\n"
    "  --setup must hold the setup.ini kelvane-pack would make of it.\n"
    "  --document writes the RTF text kelvane-pack makes for a product without that document.\n";

int Refuse(const std::string& message) {
    std::fprintf(stderr, "kelvane-archive: %s\n", message.c_str());
    return 1;
}

// One line per problem, as kelvane-pack gives them.
int RefuseProduct(const std::string& path, const std::vector<std::string>& problems) {
    for (const std::string& problem : problems)
        std::fprintf(stderr, "kelvane-archive: %s: %s\n", path.c_str(), problem.c_str());
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

// The product read whole, or its problems on standard error.
bool ReadProduct(const std::string& path, KvProduct& product) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes)) return Refuse("cannot read " + path) == 0;
    const std::vector<std::string> problems = pack::ReadProductFile(std::string(bytes.begin(), bytes.end()), product);
    if (!problems.empty()) RefuseProduct(path, problems);
    return problems.empty();
}

// The payload as the archive's entries give it: the files under the product's folder, and
// the empty folders folders.ini lists.
pack::PayloadTree PayloadOf(const std::vector<engine::ArchiveInput>& files, const std::string& folder) {
    pack::PayloadTree tree;
    for (const engine::ArchiveInput& file : files) {
        if (file.path.compare(0, folder.size() + 1, folder + "/") == 0)
            tree.files.push_back(file.path.substr(folder.size() + 1));
        if (file.path != KV_PRODUCT_FOLDERS_FILE_NAME) continue;
        engine::MemoryByteSource source(file.bytes.data(), file.bytes.size());
        engine::KeyValueArena arena;
        for (const KeyValueNode* node = engine::loadKeyValues(source, arena); node != nullptr; node = node->next) {
            std::string path = node->entry->value;
            for (char& c : path) c = c == '\\' ? '/' : c;
            tree.emptyFolders.push_back(path);
        }
    }
    return tree;
}

bool WriteOut(const std::string& outPath, const std::vector<uint8_t>& bytes) {
    std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) std::remove(outPath.c_str());  // a half-written file must not pass for a whole one
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    std::string outPath, productPath, setupPath, document;
    std::vector<engine::ArchiveInput> files;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--help" || word == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        const int values = word == "--entry" || word == "--document" ? 2 : 1;
        const bool known =
            word == "--out" || word == "--file" || word == "--check-product" || word == "--setup" || values == 2;
        if (i + values >= argc || !known) {
            std::fputs(kUsage, stderr);
            return Refuse(known ? word + " needs " + (values == 2 ? "two values" : "a value")
                                : "unknown argument " + word);
        }
        const std::string value = argv[++i];
        if (word == "--out" || word == "--check-product" || word == "--setup") {
            (word == "--out" ? outPath : word == "--setup" ? setupPath : productPath) = value;
            continue;
        }
        if (word == "--document") {
            document = value;
            productPath = argv[++i];
            continue;
        }
        engine::ArchiveInput input;
        std::string source;
        if (word == "--entry") {
            input.path = value;
            source = argv[++i];
        } else {
            const size_t equals = value.find('=');
            if (equals == std::string::npos || equals == 0 || equals + 1 == value.size())
                return Refuse("--file " + value + ": expected ARCHIVEPATH=SOURCEPATH");
            input.path = value.substr(0, equals);
            source = value.substr(equals + 1);
        }
        if (!ReadWholeFile(source, input.bytes)) return Refuse("cannot read " + source);
        files.push_back(std::move(input));
    }
    if (outPath.empty()) {
        std::fputs(kUsage, stderr);
        return Refuse("--out is required");
    }
    if (!document.empty() && document != "licence" && document != "warning")
        return Refuse("--document " + document + ": licence or warning");

    std::unique_ptr<KvProduct> product(new KvProduct());
    if (!productPath.empty() && !ReadProduct(productPath, *product)) return 1;
    if (!document.empty()) {
        const std::string text = pack::ProductDocument(*product, document == "licence");
        return WriteOut(outPath, std::vector<uint8_t>(text.begin(), text.end())) ? 0
                                                                                 : Refuse("cannot write " + outPath);
    }
    if (!productPath.empty()) {
        const std::vector<std::string> problems =
            pack::CheckProductPayload(*product, PayloadOf(files, pack::PayloadFolder(*product)));
        if (!problems.empty()) return RefuseProduct(productPath, problems);
        // The build writes setup.ini when it configures; a product file changed since must
        // not ship under its old name or version.
        std::vector<uint8_t> setup;
        if (!setupPath.empty() && (!ReadWholeFile(setupPath, setup) ||
                                   std::string(setup.begin(), setup.end()) != pack::ProductSetupText(*product)))
            return Refuse(setupPath + " does not hold the NAME and VERSION of " + productPath + ": configure again");
    }
    std::vector<uint8_t> archive;
    std::string failure;
    if (!engine::WriteArchive(files, archive, &failure)) return Refuse(failure);
    return WriteOut(outPath, archive) ? 0 : Refuse("cannot write " + outPath);
}
