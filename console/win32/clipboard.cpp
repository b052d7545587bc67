// The clipboard side of Copy: two global memory blocks and one open-empty-set-close.
// A block the clipboard did not take is freed here; one it took is the system's.
#include "clipboard.h"

#include <windows.h>

#include <cstring>

namespace console {
namespace win32 {

namespace {

HGLOBAL makeBlock(const void* data, size_t bytes) {
    if (data == nullptr || bytes == 0) return nullptr;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE, bytes);
    if (block == nullptr) return nullptr;
    void* at = GlobalLock(block);
    if (at == nullptr) {
        GlobalFree(block);
        return nullptr;
    }
    std::memcpy(at, data, bytes);
    GlobalUnlock(block);
    return block;
}

// Hands a block over; the clipboard owns it only when the call succeeds.
bool give(UINT format, HGLOBAL block) {
    if (SetClipboardData(format, block) != nullptr) return true;
    GlobalFree(block);
    return false;
}

}  // namespace

bool placeClipboardText(const ClipboardText& text) {
    HGLOBAL bytes = makeBlock(text.bytes, text.byteCapacity);
    HGLOBAL wide = makeBlock(text.wide, text.wideCapacity * sizeof(uint16_t));
    if (bytes == nullptr || wide == nullptr || !OpenClipboard(nullptr)) {
        if (bytes != nullptr) GlobalFree(bytes);
        if (wide != nullptr) GlobalFree(wide);
        return false;
    }
    EmptyClipboard();
    const bool placedText = give(CF_TEXT, bytes);
    const bool placedUnicode = give(CF_UNICODETEXT, wide);
    CloseClipboard();
    return placedText && placedUnicode;
}

}  // namespace win32
}  // namespace console
