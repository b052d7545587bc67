// Selection rectangle and copied text. The text comes from displayCells, the cells the
// bitmaps were last painted from: the shadow buffer holds the same values except while
// a full redraw is pending, when it holds their complements as markers.
#include "selection.h"

#include <algorithm>
#include <cstdlib>
#include <initializer_list>

#include "cp437_unicode.h"

namespace console {

bool selectionRect(const ConsoleScreen& s, SelectionRect& rect) {
    if (s.selectionAnchor == -1 || s.selectionEnd == -1) return false;
    if (!hasCells(s) || s.columns <= 0 || s.rows <= 0) return false;
    const auto columns = static_cast<uint32_t>(s.columns);
    const auto anchor = static_cast<uint16_t>(s.selectionAnchor);
    const auto end = static_cast<uint16_t>(s.selectionEnd);
    const auto anchorColumn = static_cast<int32_t>(anchor % columns), endColumn = static_cast<int32_t>(end % columns);
    const auto anchorRow = static_cast<int32_t>(anchor / columns), endRow = static_cast<int32_t>(end / columns);
    rect.left = std::min(anchorColumn, endColumn);
    rect.right = std::max(anchorColumn, endColumn);
    rect.top = std::min(anchorRow, endRow);
    rect.bottom = std::min(std::max(anchorRow, endRow), s.rows - 1);
    return rect.top <= rect.bottom;
}

SelectionText::~SelectionText() {
    std::free(bytes_);
    std::free(wide_);
}

bool SelectionText::build(const ConsoleScreen& s) {
    SelectionRect r;
    if (bytes_ != nullptr || !selectionRect(s, r)) return false;
    const auto rows = static_cast<size_t>(r.bottom - r.top + 1);
    const auto columns = static_cast<size_t>(r.right - r.left + 1);
    const size_t capacity = rows * (columns + 2) + 1;  // at most 256 x 258 + 1
    bytes_ = static_cast<char*>(std::calloc(capacity, 1));
    wide_ = static_cast<uint16_t*>(std::calloc(capacity, sizeof(uint16_t)));
    if (bytes_ == nullptr || wide_ == nullptr) {
        std::free(bytes_);
        std::free(wide_);
        bytes_ = nullptr;
        wide_ = nullptr;
        return false;
    }
    size_t n = 0;
    for (int32_t row = r.top; row <= r.bottom; ++row) {
        for (int32_t column = r.left; column <= r.right; ++column) {
            const auto code = static_cast<uint8_t>(s.displayCells[cellIndex(s, column, row)]);
            if (code == 0) continue;
            bytes_[n] = static_cast<char>(code);
            wide_[n] = cp437ToUnicode[code];
            ++n;
        }
        for (const char c : {'\r', '\n'}) {
            bytes_[n] = c;
            wide_[n] = static_cast<uint16_t>(c);
            ++n;
        }
    }
    length_ = n;
    capacity_ = capacity;
    return true;
}

bool copySelection(const ConsoleScreen& s, ConsoleHost& host) {
    SelectionText text;
    if (!text.build(s)) return false;
    ClipboardText clip;
    clip.bytes = text.bytes();
    clip.byteCapacity = text.capacity();
    clip.wide = text.wide();
    clip.wideCapacity = text.capacity();
    return host.setClipboardText(clip);
}

}  // namespace console
