// What a stub carries after its last section, set aside before the system's resource
// updater rewrites the image and put back after it: the updater moves the sections behind
// the resources but not the header's pointer to the COFF symbol table mingw leaves there,
// and any change breaks a signature. Portable; works on bytes, never on files.
#pragma once

#include <cstdint>
#include <string>

namespace pack {

struct ImageTail {
    std::string symbols;       // the COFF symbol and string tables, as they were
    uint32_t symbolCount = 0;
    bool droppedSignature = false;
};

// Takes the signature (which cannot survive) and the symbol tables off image, clearing
// their header fields; the caller has checked the MZ and PE signatures. False with the
// problem when a header field points outside the file.
bool SplitTail(std::string& image, ImageTail& tail, std::string& problem);

// Appends the symbol tables to image, an updated copy of the split one, and points its
// header at them. False with the problem when its headers cannot be read.
bool RestoreTail(std::string& image, const ImageTail& tail, std::string& problem);

}  // namespace pack
