// The PE header fields of the stub's tail (the COFF symbol table, the certificate table),
// read and written with every offset checked against the bytes. Portable; no windows.h.
#include "tools/pack/image_tail.h"

namespace pack {

namespace {

constexpr uint32_t kPeHeaderOffsetField = 0x3C;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kSecurityDirectory = 4;
constexpr uint32_t kSectionHeaderSize = 40;

struct Headers {
    size_t symbolPointerField = 0;  // offsets of header fields in the image
    size_t symbolCountField = 0;
    size_t securityField = 0;       // 0: the image has no such directory entry
    uint64_t sectionsEnd = 0;       // end of the last section's raw data
};

uint32_t Read32(const std::string& image, size_t offset) {
    const auto at = [&image, offset](size_t i) {
        return static_cast<uint32_t>(static_cast<uint8_t>(image[offset + i]));
    };
    return at(0) | at(1) << 8 | at(2) << 16 | at(3) << 24;
}

uint16_t Read16(const std::string& image, size_t offset) {
    return static_cast<uint16_t>(static_cast<uint8_t>(image[offset]) | static_cast<uint8_t>(image[offset + 1]) << 8);
}

void Write32(std::string& image, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) image[offset + i] = static_cast<char>(value >> (8 * i) & 0xFF);
}

bool ReadHeaders(const std::string& image, Headers& headers, std::string& problem) {
    problem = "its PE headers point outside the file";
    if (image.size() < kPeHeaderOffsetField + 4) return false;
    const uint64_t pe = Read32(image, kPeHeaderOffsetField);
    const uint64_t optional = pe + 24;
    if (optional + 2 > image.size()) return false;
    const uint16_t sectionCount = Read16(image, pe + 6);
    const uint16_t optionalSize = Read16(image, pe + 20);
    const uint16_t magic = Read16(image, optional);
    if (magic != kPe32Magic && magic != kPe32PlusMagic) {
        problem = "its optional header is neither PE32 nor PE32+";
        return false;
    }
    const uint64_t countField = optional + (magic == kPe32Magic ? 92 : 108);
    const uint64_t sections = optional + optionalSize;
    if (countField + 4 > sections || sections + uint64_t{sectionCount} * kSectionHeaderSize > image.size()) {
        return false;
    }
    headers.symbolPointerField = static_cast<size_t>(pe + 12);
    headers.symbolCountField = static_cast<size_t>(pe + 16);
    const uint64_t securityField = countField + 4 + kSecurityDirectory * 8;
    headers.securityField =
        Read32(image, static_cast<size_t>(countField)) > kSecurityDirectory && securityField + 8 <= sections
            ? static_cast<size_t>(securityField)
            : 0;
    headers.sectionsEnd = 0;
    for (uint16_t i = 0; i < sectionCount; ++i) {
        const size_t header = static_cast<size_t>(sections + uint64_t{i} * kSectionHeaderSize);
        const uint64_t end = uint64_t{Read32(image, header + 20)} + Read32(image, header + 16);
        if (end > headers.sectionsEnd) headers.sectionsEnd = end;
    }
    return headers.sectionsEnd <= image.size();
}

}  // namespace

bool SplitTail(std::string& image, ImageTail& tail, std::string& problem) {
    tail = ImageTail();
    Headers headers;
    if (!ReadHeaders(image, headers, problem)) return false;
    if (headers.securityField != 0 && Read32(image, headers.securityField + 4) != 0) {
        // The certificate table's "address" is a file offset; it closes the file.
        const uint64_t start = Read32(image, headers.securityField);
        if (start < headers.sectionsEnd || start + Read32(image, headers.securityField + 4) > image.size()) {
            problem = "its signature lies outside the file's tail";
            return false;
        }
        image.resize(static_cast<size_t>(start));
        Write32(image, headers.securityField, 0);
        Write32(image, headers.securityField + 4, 0);
        tail.droppedSignature = true;
    }
    const uint32_t symbols = Read32(image, headers.symbolPointerField);
    // Symbols inside a section would move with it; only a table behind them all is stranded.
    if (symbols != 0 && symbols >= headers.sectionsEnd && symbols <= image.size()) {
        tail.symbols = image.substr(symbols);
        tail.symbolCount = Read32(image, headers.symbolCountField);
        image.resize(symbols);
        Write32(image, headers.symbolPointerField, 0);
        Write32(image, headers.symbolCountField, 0);
    }
    return true;
}

bool RestoreTail(std::string& image, const ImageTail& tail, std::string& problem) {
    if (tail.symbols.empty()) return true;
    Headers headers;
    if (!ReadHeaders(image, headers, problem)) return false;
    if (uint64_t{image.size()} + tail.symbols.size() > UINT32_MAX) {
        problem = "it would grow past 4 GiB";
        return false;
    }
    Write32(image, headers.symbolPointerField, static_cast<uint32_t>(image.size()));
    Write32(image, headers.symbolCountField, tail.symbolCount);
    image += tail.symbols;
    return true;
}

}  // namespace pack
