// Random sequences of console operations through the portable dispatch: every console
// message, ticks, paints, typed keys, mouse messages, menu commands, client resizes and
// unattended runs with prepared answers.
// The console's nested loops (key wait, input field, listener send, menu) run further
// operations while they wait. Pointers are passed only where the interface takes a
// valid buffer. Any crash or sanitizer report is a finding.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sanitizer/asan_interface.h>

#include "console/core/announcer.h"
#include "console/core/render.h"
#include "console/core/screen_text.h"
#include "tests/console/recording_host.h"

namespace {

using namespace console;

// Operations per input. Longer inputs still vary every argument of every operation;
// the bound only keeps one input from running for long.
constexpr int kMaxOperations = 64;
// Every layout, refresh and tick of a 256 x 256 grid walks 65,536 cells: fewer then.
constexpr int kWidestGridOperations = 16;
// Nested loops inside nested loops, and the pumps of one input, are bounded too.
constexpr int kMaxNesting = 3;
constexpr int kMaxPumps = 48;

// Client sizes to choose from. Mostly small, so bitmaps and grids stay cheap; the main
// dialog's size and the shapes that reach the 256-cell limit of a side are among them.
// The full 256 x 256 grid has its own, rarer choice (see resize): its bitmaps exceed
// what the host grants, so it is laid out without pictures, as after a failed creation.
struct Size {
    int32_t width;
    int32_t height;
};
constexpr Size kSizes[] = {
    {0, 0},   {1, 1},   {7, 15},  {8, 8},   {8, 16},   {9, 17},   {16, 0},   {24, 24},
    {17, 33}, {40, 8},  {33, 50}, {64, 32}, {80, 48},  {41, 100}, {100, 40}, {130, 60},
    {0, 64},  {12, 12}, {16, 16}, {23, 9},  {48, 48},  {56, 20},  {72, 33},  {99, 17},
    {160, 100}, {200, 24}, {31, 160}, {120, 90}, {951, 427}, {2056, 16}, {8, 4104}, {250, 250},
};
constexpr Size kWidestGrid{2048, 2048};
// Larger bitmaps are refused like a failed creation; the main dialog's still fit.
constexpr size_t kMaxBitmapBytes = 2u << 20;

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool more() const { return at_ < size_; }
    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint32_t u16() { return static_cast<uint32_t>(byte()) << 8 | byte(); }
    uint32_t u32() { return u16() << 16 | u16(); }
    // Bytes from the input, NUL-terminated, in a buffer of at least `room` bytes.
    std::vector<char> text(size_t length, size_t room = 0) {
        std::vector<char> t;
        for (size_t i = 0; i < length && more(); ++i) t.push_back(static_cast<char>(byte()));
        t.resize(std::max(t.size() + 1, room), 0);
        return t;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

void callback(uint32_t) {}

// Cell buffers that cannot be had, while the input asks for it; reset for every input.
void* failingCellAllocator(size_t, size_t) { return nullptr; }
const CellAllocator g_realCellAllocator = g_cellAllocator;

// Bitmap memory is kept from one input to the next: fresh megabytes for every input
// cost more in page faults than the console's own work. Bytes past the requested size,
// and whole blocks while unused, are poisoned, so writes outside a bitmap and uses after
// its deletion are still reported.
class BitmapPool {
public:
    uint8_t* take(size_t bytes) {
        Block block{};
        for (size_t i = 0; i < free_.size(); ++i) {
            if (free_[i].capacity >= bytes) {
                block = free_[i];
                free_.erase(free_.begin() + static_cast<std::ptrdiff_t>(i));
                break;
            }
        }
        if (block.data == nullptr) block = {static_cast<uint8_t*>(std::malloc(bytes)), bytes};
        if (block.data == nullptr) return nullptr;
        // Not cleared here: createScreenBitmap clears every bitmap it is given.
        ASAN_UNPOISON_MEMORY_REGION(block.data, bytes);
        live_.push_back(block);
        return block.data;
    }
    void give(uint8_t* data) {
        for (size_t i = 0; i < live_.size(); ++i) {
            if (live_[i].data != data) continue;
            ASAN_POISON_MEMORY_REGION(data, live_[i].capacity);
            free_.push_back(live_[i]);
            live_.erase(live_.begin() + static_cast<std::ptrdiff_t>(i));
            return;
        }
        std::abort();  // deleting a bitmap that is not live
    }
    size_t live() const { return live_.size(); }

private:
    struct Block {
        uint8_t* data;
        size_t capacity;
    };
    std::vector<Block> free_;
    std::vector<Block> live_;
};

// Never destroyed: the blocks stay reachable until the leak check at exit.
BitmapPool& g_bitmaps = *new BitmapPool;

class FuzzHost : public RecordingHost {
public:
    FuzzHost() : RecordingHost(0, 0) {}
    ~FuzzHost() override {
        // Before the base destructor: its own release would not reach the pool.
        releaseAllScreens(instance, *this);
        if (g_bitmaps.live() != 0) std::abort();  // a bitmap leaked
    }
    HostBitmap createBitmap(int32_t width, int32_t height) override {
        const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 3;
        if (failBitmaps || bytes > kMaxBitmapBytes) return {};
        uint8_t* bits = g_bitmaps.take(bytes);
        return {bits, bits};
    }
    void deleteBitmap(BitmapHandle bitmap) override { g_bitmaps.give(static_cast<uint8_t*>(bitmap)); }
    int32_t displayDpi() override { return dpi; }
    int32_t dpi = 96;
};

// The painter's surface stays small and is made once: copies are clipped to it.
constexpr int32_t kSurfaceWidth = 160;
constexpr int32_t kSurfaceHeight = 100;
uint8_t g_surface[kSurfaceWidth * kSurfaceHeight * 3];

enum Operation : uint8_t {
    kCreateScreen,
    kDeleteScreen,
    kSetFont,
    kCreateBitmaps,
    kSelectScreen,
    kRefresh,
    kSetCursorPos,
    kSetCursorShape,
    kPutCell,
    kPutChar,
    kPutString,
    kScroll,
    kClear,
    kWaitKey,
    kGetKey,
    kInputLine,
    kPointToCell,
    kSetFreeze,
    kSetColor,
    kQueryScreen,
    kCellIndex,
    kCallback,
    kListener,
    kColorMode,
    kPalette,
    kSharing,
    kTick,
    kPaint,
    kResize,
    kChar,
    kKeyDown,
    kBitmapFailure,
    kCellFailure,
    kRawMessage,
    kMouse,
    kMenu,
    kUnattended,
    kReader,
    kDpi,
    kReadText,
    kOperationCount
};

// Messages that take no pointer, for kRawMessage with unfiltered wparam and lparam.
constexpr uint32_t kPlainMessages[] = {
    CONM_CREATESCREEN, CONM_DELETESCREEN, CONM_SETFONT,      CONM_CREATEBITMAPS,  CONM_SELECTSCREEN,
    CONM_REFRESH,      CONM_GETCELLS,     CONM_SETCURSORPOS, CONM_SETCURSORSHAPE, CONM_PUTCELL,
    CONM_PUTCHAR,      CONM_SCROLL,       CONM_CLEAR,        CONM_WAITKEY,        CONM_GETKEY,
    CONM_POINTTOCELL,  CONM_SETFREEZE,    CONM_GETFREEZE,    CONM_SETBACKCOLOR,   CONM_SETTEXTCOLOR,
    CONM_GETSIZE,      CONM_CELLINDEX,    CONM_POSTCALLBACK, CONM_SETATTR,        CONM_GETATTR,
    CONM_GETACTIVESCREEN, CONM_SETCOLORMODE, CONM_GETCOLORMODE, CONM_RESETPALETTE, CONM_GETFONT,
    CONM_SETSHARING,   CONM_GETSHARING,   CONM_GETINSTANCE,  kWmTimer,            kWmChar,
    kWmKeyDown,        kWmMouseMove,      kWmLButtonDown,    kWmLButtonUp,        kWmRButtonDown,
    1061,              1123,              1127,
};

class Run {
public:
    Run(const uint8_t* data, size_t size) : in_(data, size) {
        // A wait's pump runs the next operation, as the window's thread would while it
        // waits; when the pumps run out the window is gone.
        host_.pump = [this] { return ++pumps_ < kMaxPumps && nested(); };
        host_.onListener = [this] {
            if (in_.byte() & 1) nested();
        };
        host_.menu = [this] {
            static constexpr uint32_t kCommands[] = {0, 8000, 8001, 8002};
            const uint8_t how = in_.byte();
            if (how & 0x80) nested();  // the menu loop serves other messages
            return how & 0x40 ? in_.u32() : kCommands[how & 3];
        };
        g_cellAllocator = g_realCellAllocator;
    }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    void go() {
        resize();
        for (; budget_ > 0 && in_.more(); --budget_) {
            step(static_cast<Operation>(in_.byte() % kOperationCount));
            host_.sent.clear();
            host_.logged.clear();
            host_.events.clear();
            host_.clipboard.clear();
        }
    }

    bool nested() {
        if (depth_ >= kMaxNesting || budget_ <= 1 || !in_.more()) return false;
        ++depth_;
        --budget_;
        step(static_cast<Operation>(in_.byte() % kOperationCount));
        --depth_;
        return true;
    }

    // Mostly pixels near the grids in use, sometimes anywhere in 16 bits.
    uint32_t pointer() {
        if (in_.byte() & 1) return in_.u32();
        const uint32_t x = in_.byte() * 4u;
        return x | (in_.byte() * 4u) << 16;
    }

private:
    // Few screen numbers, so that messages meet the screens they created.
    uint32_t screen() { return in_.byte() & 3u; }
    intptr_t send(uint32_t message, uint32_t wparam, intptr_t lparam = 0) { return host_.send(message, wparam, lparam); }
    template <typename T>
    intptr_t pointerOrNull(T* p) {
        return in_.byte() & 1 ? reinterpret_cast<intptr_t>(p) : 0;
    }

    void resize() {
        const uint8_t choice = in_.byte();
        Size size = kSizes[choice % (sizeof kSizes / sizeof kSizes[0])];
        if (choice == 0xFF && in_.byte() == 0xFF) {
            size = kWidestGrid;
            budget_ = std::min(budget_, kWidestGridOperations);
        }
        host_.setClient(size.width, size.height);
    }

    void step(Operation op) {
        switch (op) {
        case kCreateScreen: send(CONM_CREATESCREEN, screen()); break;
        case kDeleteScreen: send(CONM_DELETESCREEN, screen()); break;
        case kSetFont: {
            const uint32_t n = screen();
            send(CONM_SETFONT, CONSOLE_SETFONT_WPARAM(n, in_.byte() % 4));
            break;
        }
        case kCreateBitmaps: send(CONM_CREATEBITMAPS, screen()); break;
        case kSelectScreen: send(CONM_SELECTSCREEN, screen()); break;
        case kRefresh: send(CONM_REFRESH, screen()); break;
        case kSetCursorPos: {
            // The row field is signed and reaches far past the grid.
            const uint32_t n = screen();
            const uint32_t column = in_.byte();
            const auto row = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(in_.u16())));
            send(CONM_SETCURSORPOS, n, static_cast<intptr_t>(row << 8 | column));
            break;
        }
        case kSetCursorShape: {
            const uint32_t n = screen();
            send(CONM_SETCURSORSHAPE, n, in_.u16());
            break;
        }
        case kPutCell: {
            const uint32_t n = screen();
            send(CONM_PUTCELL, n, static_cast<intptr_t>(in_.u32()));
            break;
        }
        case kPutChar: {
            const uint32_t n = screen();
            send(CONM_PUTCHAR, n, in_.byte());
            break;
        }
        case kPutString: {
            const uint32_t n = screen();
            const bool null = in_.byte() == 0;
            std::vector<char> text = in_.text(in_.byte());
            send(CONM_PUTSTRING, n, null ? 0 : reinterpret_cast<intptr_t>(text.data()));
            break;
        }
        case kScroll: {
            const uint32_t n = screen();
            send(CONM_SCROLL, n, static_cast<intptr_t>(in_.u32()));
            break;
        }
        case kClear: send(CONM_CLEAR, screen()); break;
        case kWaitKey: send(CONM_WAITKEY, 0); break;
        case kGetKey: send(CONM_GETKEY, 0); break;
        case kInputLine: {
            // The buffer is as long as the length field says, whatever the text.
            const uint32_t wparam = in_.u16();
            std::vector<char> text = in_.text(in_.byte(), (wparam & 0xFFFu) + 1);
            send(CONM_INPUTLINE, wparam, reinterpret_cast<intptr_t>(text.data()));
            break;
        }
        case kPointToCell: {
            const uint32_t n = screen();
            send(CONM_POINTTOCELL, n, static_cast<intptr_t>(in_.u32()));
            break;
        }
        case kSetFreeze: {
            const uint32_t n = screen();
            send(CONM_SETFREEZE, n | (in_.byte() & 1u) << 8);
            break;
        }
        case kSetColor: {
            static constexpr uint32_t kMessages[] = {CONM_SETBACKCOLOR, CONM_SETTEXTCOLOR, CONM_SETATTR};
            const uint32_t message = kMessages[in_.byte() % 3];
            const uint32_t n = screen();
            send(message, n, in_.byte());
            break;
        }
        case kQueryScreen: {
            static constexpr uint32_t kMessages[] = {CONM_GETCELLS,     CONM_GETFREEZE,       CONM_GETSIZE,
                                                     CONM_GETATTR,      CONM_GETCOLORMODE,    CONM_GETFONT,
                                                     CONM_GETSHARING,   CONM_GETACTIVESCREEN, CONM_GETINSTANCE};
            const uint32_t message = kMessages[in_.byte() % 9];
            send(message, screen());
            break;
        }
        case kCellIndex: {
            const uint32_t n = screen();
            send(CONM_CELLINDEX, n, static_cast<intptr_t>(in_.u32()));
            break;
        }
        case kCallback:
            if (in_.byte() & 1) {
                send(CONM_SETCALLBACK, 0, pointerOrNull(&callback));
            } else {
                send(CONM_POSTCALLBACK, 0, static_cast<intptr_t>(in_.u32()));
            }
            break;
        case kListener: {
            const uint32_t n = screen();
            ConsoleListener listener{in_.u32(), in_.u32(), in_.u32()};
            send(CONM_SETMOUSELISTENER, n, pointerOrNull(&listener));
            break;
        }
        case kColorMode: {
            const uint32_t n = screen();
            send(CONM_SETCOLORMODE, n, in_.byte() & 3u);
            break;
        }
        case kPalette: {
            const uint8_t how = in_.byte();
            const uint32_t n = screen();
            const uint8_t range = in_.byte();
            const uint32_t wparam = CONSOLE_PALETTE_WPARAM(n, range & 15u, range >> 4);
            if (how % 3 == 2) {
                send(CONM_RESETPALETTE, n);
                break;
            }
            uint8_t palette[48];
            for (uint8_t& b : palette) b = how;
            send(how % 3 == 0 ? CONM_GETPALETTE : CONM_SETPALETTE, wparam, pointerOrNull(palette));
            break;
        }
        case kSharing: send(CONM_SETSHARING, 0, in_.byte() % 3); break;
        case kTick:
            // Mostly the window's own timer; another timer must change nothing.
            send(kWmTimer, in_.byte() == 0 ? host_.instance.timerId + 1 : host_.instance.timerId);
            break;
        case kPaint:
            if (host_.instance.activeScreen != nullptr) {
                SurfacePainter painter(g_surface, kSurfaceWidth, kSurfaceHeight);
                paintConsole(*host_.instance.activeScreen, painter);
            }
            break;
        case kResize: resize(); break;
        case kChar: send(kWmChar, in_.byte()); break;
        case kKeyDown: send(kWmKeyDown, in_.byte()); break;
        case kBitmapFailure: host_.failBitmaps = (in_.byte() & 1) != 0; break;
        case kCellFailure: g_cellAllocator = in_.byte() & 1 ? failingCellAllocator : g_realCellAllocator; break;
        case kRawMessage: {
            const uint32_t message = kPlainMessages[in_.byte() % (sizeof kPlainMessages / sizeof kPlainMessages[0])];
            const uint32_t wparam = (in_.u32() & ~0xFFu) | screen();
            send(message, wparam, static_cast<intptr_t>(in_.u32()));
            break;
        }
        case kMouse: {
            static constexpr uint32_t kMessages[] = {kWmMouseMove, kWmLButtonDown, kWmLButtonUp};
            const uint32_t message = kMessages[in_.byte() % 3];
            send(message, 0, static_cast<intptr_t>(pointer()));
            break;
        }
        case kMenu: send(kWmRButtonDown, 0, static_cast<intptr_t>(pointer())); break;
        case kUnattended: {
            // Sometimes nobody is at the keyboard; answers queue up for the fields to come.
            const uint8_t how = in_.byte();
            host_.unattended = (how & 1) != 0;
            if (how & 2) host_.answers.emplace_back(in_.text(in_.byte()).data());
            break;
        }
        case kReader: host_.reader = (in_.byte() & 1) != 0 ? &reader_ : nullptr; break;
        case kDpi: {
            // 96 most of the time; whole and fractional factors up to far past the cap.
            static constexpr int32_t kDpis[] = {96, 96, 144, 192, 200, 288, 960, 0};
            host_.dpi = kDpis[in_.byte() % 8];
            if (in_.byte() & 1) followDpiChange(host_.instance, host_);
            if (in_.byte() & 1) followResize(host_.instance, host_);
            break;
        }
        case kReadText: readText(); break;
        case kOperationCount: break;
        }
    }

    // What a screen reader does with the screen on show: every navigation keeps ranges
    // ordered and inside the text, and every offset maps to cells inside the grid.
    void readText() {
        const ConsoleScreen* s = host_.instance.activeScreen;
        if (s == nullptr) return;
        ScreenText text;
        text.build(*s);
        const int32_t length = text.length();
        TextRange range{static_cast<int32_t>(in_.u16()) - 100, static_cast<int32_t>(in_.u16())};
        for (int i = in_.byte() % 8; i > 0; --i) {
            const auto unit = static_cast<TextUnit>(in_.byte() % 7);
            const auto count = static_cast<int32_t>(in_.u32());
            switch (in_.byte() % 3) {
            case 0: text.move(range, unit, count); break;
            case 1: text.moveEndpoint(range, (in_.byte() & 1) != 0, unit, count); break;
            default: range = text.enclosing(unit, range.start); break;
            }
            if (range.start < 0 || range.start > range.end || range.end > length) std::abort();
            for (const CellSpan& span : text.spans(range)) {
                if (span.row < 0 || span.row >= s->rows || span.first < 0 || span.count < 0 ||
                    span.first + span.count > s->columns) {
                    std::abort();
                }
            }
            text.colorsAt(range.start);
        }
    }

    Input in_;
    Announcer reader_;
    FuzzHost host_;
    int pumps_ = 0;
    int depth_ = 0;
    int budget_ = kMaxOperations;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Run run(data, size);
    run.go();
    return 0;
}
