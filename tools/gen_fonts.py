#!/usr/bin/env python3
# Generates console/core/font_data.cpp, the two CP437 bitmap fonts, from the fonts-pc outlines.
# Must not hand-tune pixels: every bit comes from the font files, so a rerun is reproducible.
"""Rasterise the fonts-pc CP437 outline fonts into console/core/font_data.cpp.

    python3 tools/gen_fonts.py           rewrite the generated file
    python3 tools/gen_fonts.py --check   exit 1 if the committed file is stale
    python3 tools/gen_fonts.py --show 0x41 [--font 8x8]
                                         print glyphs as ASCII art
"""

import argparse
import os
import sys

try:
    from fontTools.pens.basePen import BasePen
    from fontTools.ttLib import TTFont
except ImportError:
    # python3-fonttools lives in the system interpreter; a pyenv or venv python3 on PATH
    # would otherwise hide it.
    if os.path.realpath(sys.executable) != os.path.realpath("/usr/bin/python3") and os.path.exists(
        "/usr/bin/python3"
    ):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    sys.exit("gen_fonts.py: fontTools missing; install python3-fonttools (scripts/bootstrap)")

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUTPUT = os.path.join(REPO, "console", "core", "font_data.cpp")
FONT_DIR = "/usr/share/fonts/pc"

# (array name, font file, cell height, leading zero bytes)
FONTS = [
    ("font8x8", "Px_IBM_CGA.ttf", 8, 0),
    ("font8x16", "Px_IBM_VGA8.ttf", 16, 1024),
]
CELL_WIDTH = 8

# The cp437 codec maps the control range to controls; the glyphs drawn there are these.
CONTROL_GLYPHS = (
    "\u263a\u263b\u2665\u2666\u2663\u2660\u2022\u25d8\u25cb\u25d9\u2642\u2640\u266a\u266b\u263c"
    "\u25ba\u25c4\u2195\u203c\u00b6\u00a7\u25ac\u21a8\u2191\u2193\u2192\u2190\u221f\u2194\u25b2\u25bc"
)
BLANK_CODES = (0x00, 0x20, 0xFF)


class GenError(Exception):
    pass


def cp437_char(code):
    if 1 <= code <= 31:
        return CONTROL_GLYPHS[code - 1]
    if code == 0x7F:
        return "\u2302"
    return bytes([code]).decode("cp437")


class PolygonPen(BasePen):
    """Collects straight-edged contours; any curve means the outline is not pixel-aligned."""

    def __init__(self, glyph_set):
        super().__init__(glyph_set)
        self.contours = []
        self._current = None

    def _moveTo(self, pt):
        self._current = [pt]
        self.contours.append(self._current)

    def _lineTo(self, pt):
        self._current.append(pt)

    def _curveToOne(self, pt1, pt2, pt3):
        raise GenError("cubic curve in a glyph; the pixel-grid sampling would not be exact")

    def _qCurveToOne(self, pt1, pt2):
        raise GenError("quadratic curve in a glyph; the pixel-grid sampling would not be exact")


def winding(contours, x, y):
    """Non-zero winding number of (x, y), as TrueType fills."""
    total = 0
    for pts in contours:
        n = len(pts)
        for i in range(n):
            x0, y0 = pts[i]
            x1, y1 = pts[(i + 1) % n]
            if y0 <= y < y1 or y1 <= y < y0:
                # Crossing of the horizontal ray to the right of x.
                if x0 + (y - y0) * (x1 - x0) / (y1 - y0) > x:
                    total += 1 if y1 > y0 else -1
    return total


def rasterise_font(path, height):
    font = TTFont(path)
    cmap = font.getBestCmap()
    glyph_set = font.getGlyphSet()
    block = cmap.get(0x2588)
    if block is None:
        raise GenError(f"{path}: no full block (U+2588) to measure the cell from")
    advance = font["hmtx"][block][0]
    if advance % CELL_WIDTH:
        raise GenError(f"{path}: advance {advance} is not {CELL_WIDTH} whole pixels")
    units_per_px = advance // CELL_WIDTH
    # The full block's outline is the cell: its top is row 0's top edge.
    bbox = font["glyf"][block]
    top = bbox.yMax
    if (bbox.xMin, bbox.xMax) != (0, advance) or top - bbox.yMin != height * units_per_px:
        raise GenError(f"{path}: full block {bbox.xMin},{bbox.yMin}..{bbox.xMax},{top} "
                       f"is not an {CELL_WIDTH}x{height} cell of {units_per_px}-unit pixels")
    bottom = top - height * units_per_px

    glyphs = []
    for code in range(256):
        ch = cp437_char(code)
        name = cmap.get(ord(ch))
        if name is None:
            raise GenError(f"{path}: no glyph for code 0x{code:02X} (U+{ord(ch):04X})")
        if code in BLANK_CODES:
            glyphs.append([0] * height)
            continue
        if font["hmtx"][name][0] != advance:
            raise GenError(f"{path}: glyph {name} has advance {font['hmtx'][name][0]}, not {advance}")
        pen = PolygonPen(glyph_set)
        glyph_set[name].draw(pen)
        for pts in pen.contours:
            for x, y in pts:
                if x % units_per_px or (y - top) % units_per_px:
                    raise GenError(f"{path}: {name} has an off-grid point ({x}, {y})")
                if not (0 <= x <= advance and bottom <= y <= top):
                    raise GenError(f"{path}: {name} reaches outside the cell at ({x}, {y})")
        rows = []
        for r in range(height):
            # Pixel centres never lie on a grid-aligned edge, so sampling them is exact.
            y = top - r * units_per_px - units_per_px / 2
            bits = 0
            for c in range(CELL_WIDTH):
                x = c * units_per_px + units_per_px / 2
                if winding(pen.contours, x, y):
                    bits |= 0x80 >> c
            rows.append(bits)
        glyphs.append(rows)
    return glyphs, f"{units_per_px} units/pixel, top edge y={top}, baseline {top // units_per_px} rows down"


def verify_shapes(name, glyphs):
    """Catches a wrong baseline or cell size, which would shift or clip the line-drawing set."""
    height = len(glyphs[0])
    problems = []

    def expect(ok, what):
        if not ok:
            problems.append(what)

    expect(all(b == 0xFF for b in glyphs[0xDB]), "full block 0xDB does not fill the cell")
    for code in (0xB3, 0xBA, 0xC5, 0xCE):
        expect(glyphs[code][0] and glyphs[code][-1], f"0x{code:02X} does not reach top and bottom")
    for code in (0xC4, 0xC5, 0xCD, 0xCE):
        expect(any(b & 0x80 for b in glyphs[code]) and any(b & 0x01 for b in glyphs[code]),
               f"0x{code:02X} does not reach left and right")
    expect(0xFF in glyphs[0xC4], "0xC4 has no full-width row")
    expect(sum(b == 0xFF for b in glyphs[0xCD]) == 2, "0xCD is not two full-width lines")
    # The VGA ROM splits its half blocks 7/9, so demand only that they tile the cell.
    expect(glyphs[0xDF][0] == 0xFF and glyphs[0xDC][-1] == 0xFF
           and all(u ^ l == 0xFF for u, l in zip(glyphs[0xDF], glyphs[0xDC])),
           "half blocks 0xDF and 0xDC do not tile the cell")
    if problems:
        raise GenError(f"{name}: " + "; ".join(problems))


def render(fonts):
    out = []
    out.append("// Built-in CP437 bitmap fonts for the console's text-mode emulation.")
    out.append("// Generated by tools/gen_fonts.py: do not edit by hand; rerun the generator instead.")
    out.append("//")
    out.append("// Source: Px_IBM_CGA.ttf (8x8) and Px_IBM_VGA8.ttf (8x16) from the Debian package")
    out.append("// fonts-pc, \"Ultimate Oldschool PC Font Pack\" by VileR (int10h.org), licensed under")
    out.append("// CC BY-SA 4.0; these derived tables are shared under the same licence.")
    out.append("// See THIRD_PARTY_NOTICES.md.")
    out.append("")
    out.append('#include "console/core/fonts.h"')
    out.append("")
    out.append("namespace console {")
    for name, source, height, lead, glyphs, _ in fonts:
        out.append("")
        size = f"{lead} + {256 * height}" if lead else f"{256 * height}"
        out.append(f"// {source}: 256 glyphs of {height} rows, top row first, MSB leftmost.")
        out.append(f"const uint8_t {name}[{size}] = {{")
        if lead:
            out.append(f"    // Unused leading block, skipped by the {lead}-byte glyph offset.")
            zeros = ", ".join(["0x00"] * 16) + ","
            out.extend("    " + zeros for _ in range(lead // 16))
        for code, rows in enumerate(glyphs):
            out.append(f"    /* 0x{code:02X} */ " + ", ".join(f"0x{b:02X}" for b in rows) + ",")
        out.append("};")
    out.append("")
    out.append("}  // namespace console")
    return "\n".join(out) + "\n"


def build():
    fonts = []
    for name, source, height, lead in FONTS:
        glyphs, metrics = rasterise_font(os.path.join(FONT_DIR, source), height)
        verify_shapes(name, glyphs)
        fonts.append((name, source, height, lead, glyphs, metrics))
    return fonts


def show(fonts, codes, which):
    for name, _, height, _, glyphs, _ in fonts:
        if which and not name.endswith(which):
            continue
        for code in codes:
            print(f"{name} 0x{code:02X}")
            for b in glyphs[code]:
                print("  " + "".join("#" if b & (0x80 >> c) else "." for c in range(CELL_WIDTH)))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--check", action="store_true", help="fail if the committed file is out of date")
    parser.add_argument("--show", nargs="+", metavar="CODE", help="print glyphs as ASCII art")
    parser.add_argument("--font", choices=("8x8", "8x16"), help="with --show: only this font")
    args = parser.parse_args()
    try:
        fonts = build()
    except GenError as e:
        sys.exit(f"gen_fonts.py: {e}")
    if args.show:
        show(fonts, [int(c, 0) for c in args.show], args.font)
        return 0
    text = render(fonts)
    if args.check:
        try:
            with open(OUTPUT, encoding="utf-8", newline="") as f:
                current = f.read()
        except FileNotFoundError:
            current = None
        if current != text:
            print(f"gen_fonts.py: {os.path.relpath(OUTPUT, REPO)} is out of date; "
                  "run python3 tools/gen_fonts.py", file=sys.stderr)
            return 1
        return 0
    with open(OUTPUT, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)
    for _, source, _, _, _, metrics in fonts:
        print(f"{source}: {metrics}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
