// Keeps a screen record alive across a nested message loop (a key wait, a listener
// send): a screen deleted meanwhile is released but its record stays until the hold
// ends, so the holder can find out instead of reading freed memory. Window's thread only.
#pragma once

#include <cstdlib>

#include "screen.h"

namespace console {

class ScreenHold {
public:
    explicit ScreenHold(ConsoleScreen& screen) : screen_(&screen), layout_(screen.layoutSerial) { ++screen_->holdCount; }
    ~ScreenHold() {
        if (--screen_->holdCount == 0 && screen_->deletePending) std::free(screen_);
    }
    ScreenHold(const ScreenHold&) = delete;
    ScreenHold& operator=(const ScreenHold&) = delete;

    // The screen was deleted: its slot is empty and it has no cells or bitmaps left.
    bool gone() const { return screen_->deletePending != 0; }
    // The grid was laid out again since the hold began or since the last call.
    bool relaidOut() {
        if (screen_->layoutSerial == layout_) return false;
        layout_ = screen_->layoutSerial;
        return true;
    }

private:
    ConsoleScreen* screen_;  // allocated by newScreen
    uint32_t layout_;
};

}  // namespace console
