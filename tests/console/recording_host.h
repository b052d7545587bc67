// A stand-in for the console window in native tests: self-sent messages go back
// through the portable dispatch (as SendMessage would), and every request the core
// makes of its window is recorded so that tests can assert on it.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "console/core/announcer.h"
#include "console/core/dispatch.h"
#include "console/core/oem_table.h"

namespace console {

struct SentMessage {
    uint32_t message;
    uint32_t wparam;
    intptr_t lparam;
};

struct ListenerEvent {
    uint32_t window;
    uint32_t kind;
    ConsoleListener record;
};

// One placement on the fake clipboard: both forms, up to their terminating zero.
struct ClipboardPlacement {
    std::string bytes;
    std::u16string wide;
    size_t byteCapacity;
    size_t wideCapacity;
};

class RecordingHost : public ConsoleHost {
public:
    explicit RecordingHost(int32_t width = 951, int32_t height = 427) : client_{width, height} {}

    ConsoleInstance instance{};
    std::vector<SentMessage> sent;
    int redraws = 0;
    int notifies = 0;
    int inputs = 0;
    int focuses = 0;
    int bitmapsCreated = 0;
    bool failBitmaps = false;
    std::function<bool()> pump;  // one step of a nested message loop
    std::vector<std::string> logged;
    std::vector<ListenerEvent> events;
    std::function<void()> onListener;  // runs inside each listener send, as its handler would
    std::function<uint32_t()> menu;    // the user's choice; may run messages, as the menu loop does
    int menus = 0;
    std::vector<ClipboardPlacement> clipboard;
    bool clipboardFails = false;
    bool unattended = false;           // nobody at the keyboard
    std::vector<std::string> answers;  // prepared answers, handed out from the front
    Announcer* reader = nullptr;       // a screen reader listening, when set
    std::vector<Announcement> heard;   // what each tick announced to it

    void setClient(int32_t width, int32_t height) { client_ = {width, height}; }

    intptr_t send(uint32_t message, uint32_t wparam = 0, intptr_t lparam = 0) {
        const DispatchResult r = dispatchMessage(instance, *this, message, wparam, lparam);
        return r.useDefault ? 0 : r.value;
    }

    DispatchResult raw(uint32_t message, uint32_t wparam = 0, intptr_t lparam = 0) {
        return dispatchMessage(instance, *this, message, wparam, lparam);
    }

    size_t count(uint32_t message) const {
        size_t n = 0;
        for (const auto& m : sent) n += m.message == message ? 1 : 0;
        return n;
    }

    size_t liveBitmaps() const { return bitmaps_.size(); }

    ~RecordingHost() override { releaseAllScreens(instance, *this); }

    int32_t sendToSelf(uint32_t message, uint32_t wparam, intptr_t lparam) override {
        sent.push_back({message, wparam, lparam});
        return static_cast<int32_t>(send(message, wparam, lparam));
    }
    ClientSize clientSize() override { return client_; }
    HostBitmap createBitmap(int32_t width, int32_t height) override {
        if (failBitmaps) return {};
        ++bitmapsCreated;
        auto bits = std::make_unique<uint8_t[]>(static_cast<size_t>(width) * height * 3);
        uint8_t* raw = bits.get();
        bitmaps_[raw] = std::move(bits);
        return {raw, raw};
    }
    void deleteBitmap(BitmapHandle bitmap) override { bitmaps_.erase(static_cast<uint8_t*>(bitmap)); }
    void redrawNow() override { ++redraws; }
    const uint8_t* ansiToOemTable() override { return cp1252ToCp437; }
    void signalNotify() override { ++notifies; }
    void signalInput() override { ++inputs; }
    bool pumpMessage() override { return pump ? pump() : false; }
    void setFocus() override { ++focuses; }
    void log(const char* text) override { logged.emplace_back(text); }
    void sendToListener(uint32_t window, uint32_t kind, const ConsoleListener& record) override {
        events.push_back({window, kind, record});
        if (onListener) onListener();
    }
    uint32_t trackContextMenu() override {
        ++menus;
        return menu ? menu() : 0;
    }
    bool setClipboardText(const ClipboardText& text) override {
        if (clipboardFails) return false;
        clipboard.push_back({std::string(text.bytes), std::u16string(reinterpret_cast<const char16_t*>(text.wide)),
                             text.byteCapacity, text.wideCapacity});
        return true;
    }
    bool unattendedInput() override { return unattended; }
    bool nextAnswer(char* line, size_t size) override {
        if (answers.empty()) return false;
        line[answers.front().copy(line, size - 1)] = 0;
        answers.erase(answers.begin());
        return true;
    }
    Announcer* announcer() override { return reader; }
    void announce(const Announcement& announcement) override { heard.push_back(announcement); }

private:
    ClientSize client_;
    std::map<uint8_t*, std::unique_ptr<uint8_t[]>> bitmaps_;
};

// A screen made and laid out the way the main dialog does it.
inline ConsoleScreen& makeScreen(RecordingHost& host, uint8_t n = 0, uint32_t font = 2, bool color = true) {
    host.send(CONM_CREATESCREEN, n);
    host.send(CONM_SELECTSCREEN, n);
    if (color) host.send(CONM_SETCOLORMODE, n, 1);
    host.send(CONM_SETFONT, n | (font << 8));
    return *host.instance.screens[n];
}

inline ConsoleCell cellAt(const ConsoleScreen& s, int column, int row) { return s.liveCells[row * s.columns + column]; }

}  // namespace console
