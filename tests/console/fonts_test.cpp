// Shape checks on the generated CP437 fonts: catches a wrong code mapping, baseline or cell size.
// Must not pin whole glyph bitmaps; the generator owns the pixels, these tests own the geometry.

#include <gtest/gtest.h>

#include <bitset>
#include <vector>

#include "console/core/fonts.h"

namespace console {
namespace {

struct Font {
  const char* name;
  const uint8_t* glyphs;
  int height;

  std::vector<uint8_t> glyph(int code) const {
    const uint8_t* g = glyphs + code * height;
    return std::vector<uint8_t>(g, g + height);
  }
};

const Font kFonts[] = {
    {"8x8", font8x8 + kGlyphOffset8x8, 8},
    {"8x16", font8x16 + kGlyphOffset8x16, 16},
};

int Pixels(const std::vector<uint8_t>& g) {
  int n = 0;
  for (uint8_t row : g) n += static_cast<int>(std::bitset<8>(row).count());
  return n;
}

uint8_t Columns(const std::vector<uint8_t>& g) {
  uint8_t mask = 0;
  for (uint8_t row : g) mask |= row;
  return mask;
}

int FullRows(const std::vector<uint8_t>& g) {
  int n = 0;
  for (uint8_t row : g) n += row == 0xFF;
  return n;
}

// Separate runs of set bits in one row, left to right.
int Runs(uint8_t row) {
  int runs = 0;
  bool in = false;
  for (int c = 7; c >= 0; --c) {
    bool set = (row >> c) & 1;
    if (set && !in) ++runs;
    in = set;
  }
  return runs;
}

int LowestRow(const std::vector<uint8_t>& g) {
  for (int r = static_cast<int>(g.size()) - 1; r >= 0; --r)
    if (g[r]) return r;
  return -1;
}

TEST(Fonts, BlankCodesAndLeadingBlockAreZero) {
  for (const Font& f : kFonts) {
    SCOPED_TRACE(f.name);
    for (int code : {0x00, 0x20, 0xFF}) EXPECT_EQ(Pixels(f.glyph(code)), 0) << "code " << code;
  }
  for (int i = 0; i < kGlyphOffset8x16; ++i) ASSERT_EQ(font8x16[i], 0) << "byte " << i;
}

TEST(Fonts, EveryOtherCodeHasAGlyph) {
  // A code that fell through the mapping would come out blank; 1-31 and 127 are the symbols.
  for (const Font& f : kFonts) {
    SCOPED_TRACE(f.name);
    for (int code = 1; code < 255; ++code) {
      if (code == 0x20) continue;
      EXPECT_GT(Pixels(f.glyph(code)), 0) << "code " << code;
    }
  }
}

TEST(Fonts, FullBlockFillsTheCell) {
  for (const Font& f : kFonts) {
    SCOPED_TRACE(f.name);
    EXPECT_EQ(FullRows(f.glyph(0xDB)), f.height);
  }
}

TEST(Fonts, HalfBlocksTileTheCell) {
  for (const Font& f : kFonts) {
    SCOPED_TRACE(f.name);
    auto upper = f.glyph(0xDF), lower = f.glyph(0xDC);
    EXPECT_EQ(upper.front(), 0xFF);
    EXPECT_EQ(lower.back(), 0xFF);
    for (int r = 0; r < f.height; ++r) EXPECT_EQ(upper[r] ^ lower[r], 0xFF) << "row " << r;
    EXPECT_EQ(Columns(f.glyph(0xDD)), 0xF0);
    EXPECT_EQ(Columns(f.glyph(0xDE)), 0x0F);
  }
}

TEST(Fonts, LettersSitOnACommonBaseline) {
  for (const Font& f : kFonts) {
    SCOPED_TRACE(f.name);
    auto a = f.glyph('A');
    // Capitals may touch the 8x8 top edge, as in the BIOS design, but never the bottom one.
    EXPECT_EQ(a.back(), 0);
    bool crossbar = false;
    for (uint8_t row : a) crossbar |= std::bitset<8>(row).count() >= 5;
    EXPECT_TRUE(crossbar);
    // Descenders hang below the baseline that 'a' and 'A' share.
    EXPECT_EQ(LowestRow(f.glyph('a')), LowestRow(a));
    EXPECT_GT(LowestRow(f.glyph('g')), LowestRow(a));
    EXPECT_GT(LowestRow(f.glyph('p')), LowestRow(a));
  }
  // The VGA cell leaves room above capitals.
  auto a16 = kFonts[1].glyph('A');
  EXPECT_EQ(a16[0] | a16[1], 0);
}

TEST(Fonts, SingleLinesReachTheCellEdges) {
  for (const Font& f : kFonts) {
    SCOPED_TRACE(f.name);
    auto vert = f.glyph(0xB3), horiz = f.glyph(0xC4), cross = f.glyph(0xC5);
    // One unbroken stroke, same columns in every row.
    for (uint8_t row : vert) EXPECT_EQ(row, vert.front());
    EXPECT_NE(vert.front(), 0);
    EXPECT_GE(FullRows(horiz), 1);
    EXPECT_NE(cross.front(), 0);
    EXPECT_NE(cross.back(), 0);
    EXPECT_EQ(Columns(cross), 0xFF);
    // Adjacent pieces must join: the cross is exactly the two lines laid over each other.
    for (int r = 0; r < f.height; ++r) EXPECT_EQ(cross[r], vert[r] | horiz[r]) << "row " << r;
  }
}

TEST(Fonts, DoubleLinesAreTwoStrokes) {
  for (const Font& f : kFonts) {
    SCOPED_TRACE(f.name);
    auto vert = f.glyph(0xBA), horiz = f.glyph(0xCD), cross = f.glyph(0xCE);
    for (uint8_t row : vert) EXPECT_EQ(Runs(row), 2);
    EXPECT_NE(vert.front(), 0);
    EXPECT_NE(vert.back(), 0);
    // Two full-width lines with a gap between them.
    std::vector<int> full;
    for (int r = 0; r < f.height; ++r)
      if (horiz[r] == 0xFF) full.push_back(r);
    ASSERT_EQ(full.size(), 2u);
    EXPECT_GT(full[1] - full[0], 1);
    EXPECT_NE(cross.front(), 0);
    EXPECT_NE(cross.back(), 0);
    EXPECT_EQ(Columns(cross) & 0x81, 0x81);  // the horizontal strokes break at the centre
    // The double cross continues the vertical strokes above and below.
    EXPECT_EQ(cross.front(), vert.front());
    EXPECT_EQ(cross.back(), vert.back());
  }
}

TEST(Fonts, ShadesGetDenser) {
  for (const Font& f : kFonts) {
    SCOPED_TRACE(f.name);
    int light = Pixels(f.glyph(0xB0)), medium = Pixels(f.glyph(0xB1)), dark = Pixels(f.glyph(0xB2));
    EXPECT_GT(light, 0);
    EXPECT_LT(light, medium);
    EXPECT_LT(medium, dark);
    EXPECT_LT(dark, 8 * f.height);
  }
}

TEST(Fonts, SymbolsAreDistinct) {
  // Paired symbols differ only in detail; a mapping that fell back to one glyph would show here.
  for (const Font& f : kFonts) {
    SCOPED_TRACE(f.name);
    EXPECT_NE(f.glyph(0x01), f.glyph(0x02));
    EXPECT_NE(f.glyph(0x18), f.glyph(0x19));  // up and down arrows
    EXPECT_NE(f.glyph(0x1E), f.glyph(0x1F));  // up and down triangles
  }
}

}  // namespace
}  // namespace console
