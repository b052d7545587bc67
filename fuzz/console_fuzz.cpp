// Random sequences of console messages with random wparam and lparam through the
// portable dispatch, plus ticks and paints. Pointers are passed only where the
// interface takes a valid buffer. Any crash or sanitizer report is a finding.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "console/core/render.h"
#include "tests/console/recording_host.h"

namespace {

using namespace console;

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool more() const { return at_ < size_; }
    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint32_t u32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = v << 8 | byte();
        return v;
    }
    // A NUL-terminated string of up to 300 bytes taken from the input.
    std::vector<char> text() {
        const size_t n = byte() + byte();
        std::vector<char> t;
        for (size_t i = 0; i < n && more(); ++i) t.push_back(static_cast<char>(byte()));
        t.push_back(0);
        return t;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

void callback(uint32_t) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    // Small client areas keep the bitmaps cheap; sizes below one cell are included.
    RecordingHost host(in.byte() * 3, in.byte() * 2);
    int pumps = 0;
    host.pump = [&] { return ++pumps < 4; };
    uint8_t palette[48] = {};
    ConsoleListener listener{};
    std::vector<uint8_t> surface(static_cast<size_t>(bitmapWidthFor(765)) * 510 * 3);
    SurfacePainter painter(surface.data(), bitmapWidthFor(765), 510);

    while (in.more()) {
        const uint8_t op = in.byte();
        // Few screen numbers, so that messages meet the screens they created.
        const uint32_t wparam = (in.u32() & ~0xFFu) | (in.byte() & 3u);
        uint32_t message = 1025 + op % 40;
        if (message > 1060) message = 1124 + (message - 1061) % 3;
        intptr_t lparam = static_cast<intptr_t>(in.u32());
        std::vector<char> text;
        switch (message) {
        case CONM_PUTSTRING: text = in.text(); lparam = op & 0x80 ? 0 : reinterpret_cast<intptr_t>(text.data()); break;
        case CONM_GETPALETTE:
        case CONM_SETPALETTE: lparam = op & 0x80 ? 0 : reinterpret_cast<intptr_t>(palette); break;
        case CONM_SETMOUSELISTENER: lparam = op & 0x80 ? 0 : reinterpret_cast<intptr_t>(&listener); break;
        case CONM_SETCALLBACK: lparam = op & 0x80 ? 0 : reinterpret_cast<intptr_t>(&callback); break;
        case CONM_INPUTLINE: text = in.text(); lparam = reinterpret_cast<intptr_t>(text.data()); break;
        default: break;
        }
        if (op % 7 == 0) message = kWmTimer, lparam = 0;
        if (op % 11 == 0) message = kWmChar;
        if (op % 13 == 0) message = kWmKeyDown;
        host.send(message, message == kWmTimer ? host.instance.timerId : wparam, lparam);
        if (op % 17 == 0 && host.instance.activeScreen != nullptr) paintConsole(*host.instance.activeScreen, painter);
        host.sent.clear();
    }
    return 0;
}
