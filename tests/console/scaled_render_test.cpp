// High-DPI drawing against the 96-DPI picture: same grid, every pixel (cells, blink,
// selection, cursor) a k x k block, the pointer on k-fold cells, cells kept across a
// DPI change. The fake host only; no window.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "console/core/render.h"
#include "recording_host.h"

namespace console {
namespace {

struct DpiHost : RecordingHost {
    explicit DpiHost(int32_t dpi) : RecordingHost(951 * dpi / 96, 427 * dpi / 96), dpi(dpi) {}
    int32_t displayDpi() override { return dpi; }
    int32_t dpi;
};

// Text in two colours, a blinking word, a selection and the cursor, ticked and painted.
std::vector<uint8_t> paint(DpiHost& host, ConsoleScreen& s, const uint8_t* bits) {
    std::vector<uint8_t> surface(static_cast<size_t>(s.bitmapWidth) * s.bitmapHeight * 3);
    SurfacePainter painter(surface.data(), s.bitmapWidth, s.bitmapHeight);
    host.send(kWmTimer, host.instance.timerId);
    painter.copyBitmap(nullptr, bits, s.bitmapWidth, s.bitmapHeight);
    drawCursor(s, painter, s.cursorColumn, s.cursorRow);
    return surface;
}

ConsoleScreen& fill(DpiHost& host) {
    ConsoleScreen& s = makeScreen(host);
    host.send(CONM_SETATTR, 0, 0x1F);
    host.send(CONM_PUTSTRING, 0, reinterpret_cast<intptr_t>("Kelvane \xC9t\xE9 @#|\n"));
    host.send(CONM_SETATTR, 0, 0xCE);
    host.send(CONM_PUTSTRING, 0, reinterpret_cast<intptr_t>("blink"));
    host.send(CONM_SETCURSORPOS, 0, (1 << 8) | 4);
    s.selecting = 1;
    s.selectionAnchor = cellIndex(s, 2, 0);
    s.selectionEnd = cellIndex(s, 5, 1);
    return s;
}

void expectReplicated(const ConsoleScreen& a, const std::vector<uint8_t>& small, const ConsoleScreen& b,
                      const std::vector<uint8_t>& large, int32_t k) {
    for (int32_t y = 0; y < a.rows * 16 * k; ++y)
        for (int32_t x = 0; x < a.columns * 8 * k; ++x)
            ASSERT_EQ(std::memcmp(&small[pixelOffset(a.bitmapWidth, a.bitmapHeight, x / k, y / k)],
                                  &large[pixelOffset(b.bitmapWidth, b.bitmapHeight, x, y)], 3), 0)
                << "k " << k << " pixel " << x << "," << y;
}

TEST(ScaledRender, EveryPixelIsAKByKBlockOfTheNinetySixDpiPictureAcrossADpiChange) {
    DpiHost at96(96), at144(144), host(192);
    ConsoleScreen& a = fill(at96);
    ConsoleScreen& s = fill(host);
    EXPECT_EQ(makeScreen(at144).columns, a.columns) << "144 DPI draws at 1 on the 96-DPI grid";
    ASSERT_EQ(drawScale(s), 2);
    ASSERT_EQ(s.columns, a.columns);
    ASSERT_EQ(s.rows, a.rows);
    EXPECT_EQ(host.send(CONM_POINTTOCELL, 0, (31 << 16) | 15), 0);
    EXPECT_EQ(host.send(CONM_POINTTOCELL, 0, (32 << 16) | 16), (1 << 16) | 1);
    const std::vector<uint8_t> a0 = paint(at96, a, a.bitsA), a1 = paint(at96, a, a.bitsB);
    expectReplicated(a, a0, s, paint(host, s, s.bitsA), 2);
    expectReplicated(a, a1, s, paint(host, s, s.bitsB), 2);

    host.dpi = 288;
    host.setClient(951 * 3, 427 * 3);
    followDpiChange(host.instance, host);
    EXPECT_EQ(s.bitmapWidth, 2856);
    ASSERT_EQ(s.columns, a.columns) << "no new layout: the cells stay";
    expectReplicated(a, a0, s, paint(host, s, s.bitsA), 3);
}

}  // namespace
}  // namespace console
