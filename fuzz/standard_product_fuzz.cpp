// libFuzzer target: arbitrary bytes as a product file (key=value lines, first key wins,
// ASCII case ignored) through the reader and the expansion of its paths, and the same
// bytes as a journal through KvWalkJournal. Uses kv_standard_core only.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "journal_format.h"
#include "product.h"

namespace {

using Lines = std::vector<std::pair<std::string, std::string>>;

bool SameKey(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const int left = std::toupper(static_cast<unsigned char>(a[i]));
        if (left != std::toupper(static_cast<unsigned char>(b[i]))) return false;
    }
    return true;
}

const char* Lookup(void* context, const char* key) {
    for (const auto& line : *static_cast<Lines*>(context))
        if (SameKey(line.first, key)) return line.second.c_str();
    return nullptr;
}

const char* Folder(void*, const char* name) { return std::strcmp(name, "System") == 0 ? nullptr : "C:\\Program Files"; }

void ExpandChecked(const char* text, const KvProduct& product) {
    char out[KV_PRODUCT_PATH], problem[64];
    if (KvExpand(text, &product, "D:\\Apps\\Tool", Folder, nullptr, out, sizeof out, problem, sizeof problem)) {
        if (std::memchr(out, '\0', sizeof out) == nullptr) std::abort();
    } else if (out[0] != '\0' || std::memchr(problem, '\0', sizeof problem) == nullptr) {
        std::abort();  // a failed expansion leaves nothing half-done, and its reason is ended
    }
}

int Reformat(void*, const KvJournalRecord* record) {
    // Every record read back formats to a line that parses to the same record.
    static char line[KV_JOURNAL_MAX_FIELDS * KV_JOURNAL_FIELD * 2 + 32];
    static KvJournalRecord back;
    const size_t length = KvFormatJournalLine(record, line, sizeof line);
    if (length < 2 || !KvParseJournalLine(line, length - 2, &back)) std::abort();
    if (back.kind != record->kind || back.fieldCount != record->fieldCount) std::abort();
    for (unsigned i = 0; i < back.fieldCount; ++i)
        if (std::strcmp(back.fields[i], record->fields[i]) != 0) std::abort();
    return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    int cut = 0;
    const long records = KvWalkJournal(text, size, Reformat, nullptr, &cut);
    if (records == 0 || records < -1) std::abort();

    Lines lines;
    for (size_t start = 0; start < size;) {
        const char* end = static_cast<const char*>(std::memchr(text + start, '\n', size - start));
        const size_t stop = end == nullptr ? size : static_cast<size_t>(end - text);
        std::string line(text + start, stop - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t equals = line.find('=');
        if (equals != std::string::npos) lines.emplace_back(line.substr(0, equals), line.substr(equals + 1));
        start = stop + 1;
    }
    static KvProduct product;
    char problem[80];
    if (!KvReadProduct(Lookup, &lines, &product, problem, sizeof problem)) {
        if (problem[0] == '\0' || std::memchr(problem, '\0', sizeof problem) == nullptr) std::abort();
        return 0;
    }
    if (KvCompareVersions(product.version, product.version) != 0 || KvCompareVersions(product.version, "x") <= 0)
        std::abort();
    ExpandChecked(product.target, product);
    ExpandChecked(product.pathEntry, product);
    for (unsigned i = 0; i < product.shortcutCount; ++i) {
        if (KvProductAppRelative(product.shortcuts[i].target) == nullptr) std::abort();
        ExpandChecked(product.shortcuts[i].name, product);
        ExpandChecked(product.shortcuts[i].arguments, product);
    }
    for (unsigned i = 0; i < product.regCount; ++i) ExpandChecked(product.regs[i].value, product);
    return 0;
}
