// Throughput of text into cells and cost of the render tick, next to the floors
// and peers they are judged against: memset of both bitmaps and libvterm.
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <vterm.h>
}

#include "console/core/dispatch.h"
#include "console/core/oem_table.h"
#include "console/core/render.h"

namespace {

using namespace console;

// The window stand-in: self-sent messages re-enter the dispatch, as SendMessage does.
class BenchHost : public ConsoleHost {
public:
    ConsoleInstance instance{};
    int32_t dpi = 96;  // the client grows with it, as the main dialog's console does
    ~BenchHost() override { releaseAllScreens(instance, *this); }
    intptr_t send(uint32_t m, uint32_t w = 0, intptr_t l = 0) {
        return dispatchMessage(instance, *this, m, w, l).value;
    }
    int32_t sendToSelf(uint32_t m, uint32_t w, intptr_t l) override { return static_cast<int32_t>(send(m, w, l)); }
    ClientSize clientSize() override { return {(951 * dpi + 48) / 96, (427 * dpi + 48) / 96}; }
    int32_t displayDpi() override { return dpi; }
    HostBitmap createBitmap(int32_t w, int32_t h) override {
        auto bits = std::make_unique<uint8_t[]>(static_cast<size_t>(w) * h * 3);
        uint8_t* raw = bits.get();
        bitmaps_[raw] = std::move(bits);
        return {raw, raw};
    }
    void deleteBitmap(BitmapHandle b) override { bitmaps_.erase(static_cast<uint8_t*>(b)); }
    void redrawNow() override {}
    const uint8_t* ansiToOemTable() override { return cp1252ToCp437; }
    void signalNotify() override {}
    void signalInput() override {}
    bool pumpMessage() override { return false; }
    void setFocus() override {}

private:
    std::map<uint8_t*, std::unique_ptr<uint8_t[]>> bitmaps_;
};

ConsoleScreen& mainDialogScreen(BenchHost& host) {
    host.send(CONM_CREATESCREEN, 0);
    host.send(CONM_SELECTSCREEN, 0);
    host.send(CONM_SETCOLORMODE, 0, 1);
    host.send(CONM_SETTEXTCOLOR, 0, 7);
    host.send(CONM_SETFONT, 512);
    host.send(CONM_CLEAR, 0);
    return *host.instance.screens[0];
}

// About 1 MiB of plain text lines of 60 to 100 characters, as an installer prints.
std::string sampleText(const char* lineEnd) {
    std::string text;
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
    while (text.size() < (1u << 20)) {
        const uint32_t length = 60 + next() % 41;
        for (uint32_t i = 0; i < length; ++i) {
            const uint32_t r = next() % 32;
            text += r < 5 ? ' ' : static_cast<char>('a' + r % 26);
        }
        text += lineEnd;
    }
    return text;
}

void BM_PutString(benchmark::State& state) {
    BenchHost host;
    mainDialogScreen(host);
    const std::string text = sampleText("\n");
    for (auto _ : state) {
        host.send(CONM_PUTSTRING, 0, reinterpret_cast<intptr_t>(text.c_str()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_PutString)->Unit(benchmark::kMillisecond);

void BM_LibvtermWrite(benchmark::State& state) {
    VTerm* vt = vterm_new(26, 118);
    vterm_set_utf8(vt, 0);
    VTermScreen* screen = vterm_obtain_screen(vt);
    vterm_screen_reset(screen, 1);
    const std::string text = sampleText("\r\n");
    for (auto _ : state) {
        // libvterm 0.1.4 fails on very large single writes: feed it 1 MiB at most.
        for (size_t at = 0; at < text.size(); at += (1u << 20)) {
            const size_t n = std::min<size_t>(1u << 20, text.size() - at);
            vterm_input_write(vt, text.data() + at, n);
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
    vterm_free(vt);
}
BENCHMARK(BM_LibvtermWrite)->Unit(benchmark::kMillisecond);

void BM_FullRedrawTick(benchmark::State& state) {
    BenchHost host;
    ConsoleScreen& s = mainDialogScreen(host);
    const std::string text = sampleText("\n").substr(0, 4000);
    host.send(CONM_PUTSTRING, 0, reinterpret_cast<intptr_t>(text.c_str()));
    for (auto _ : state) {
        markForRedraw(s);
        renderTick(s, host);
        benchmark::DoNotOptimize(s.bitsA);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FullRedrawTick)->Unit(benchmark::kMicrosecond);

// The same redraw on a denser screen: 150 % (cells of 12 x 24) and 200 % (16 x 32).
void BM_FullRedrawTickAtDpi(benchmark::State& state) {
    BenchHost host;
    host.dpi = static_cast<int32_t>(state.range(0));
    ConsoleScreen& s = mainDialogScreen(host);
    const std::string text = sampleText("\n").substr(0, 4000);
    host.send(CONM_PUTSTRING, 0, reinterpret_cast<intptr_t>(text.c_str()));
    for (auto _ : state) {
        markForRedraw(s);
        renderTick(s, host);
        benchmark::DoNotOptimize(s.bitsA);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FullRedrawTickAtDpi)->Arg(144)->Arg(192)->Unit(benchmark::kMicrosecond);

void BM_IdleTick(benchmark::State& state) {
    BenchHost host;
    ConsoleScreen& s = mainDialogScreen(host);
    renderTick(s, host);
    for (auto _ : state) {
        renderTick(s, host);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_IdleTick)->Unit(benchmark::kNanosecond);

void BM_MemsetBothBitmaps(benchmark::State& state) {
    const size_t bytes = static_cast<size_t>(bitmapWidthFor(951)) * 427 * 3;
    std::vector<uint8_t> a(bytes), b(bytes);
    uint8_t value = 0;
    for (auto _ : state) {
        std::memset(a.data(), ++value, bytes);
        std::memset(b.data(), value, bytes);
        benchmark::DoNotOptimize(a.data());
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MemsetBothBitmaps)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
