#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "image/Image.h"

namespace skm {
namespace {

uint32_t rgbOf(RgbQuad c) {
  return (uint32_t(c.red) << 16) | (uint32_t(c.green) << 8) | c.blue;
}

RgbQuad colour(uint32_t rrggbb) {
  return RgbQuad{uint8_t(rrggbb), uint8_t(rrggbb >> 8), uint8_t(rrggbb >> 16), 0};
}

// A one-row 24-bit picture of the given colours.
struct Row24 : Image {
  Row24(std::initializer_list<uint32_t> colours)
      : Image(int32_t(colours.size()), 1, 24, FormatGif) {
    int32_t x = 0;
    for (uint32_t c : colours) setPixelColor(x++, 0, colour(c));
  }
};

// --- When nothing is converted ------------------------------------------------------------------

TEST(ReduceBitDepth, OnlyReducesAndLeavesOtherCasesAlone) {
  Image eight(4, 4, 8, FormatGif);
  eight.info.frameDelay = 20;
  uint8_t* block = eight.bitmapBlock;
  EXPECT_TRUE(eight.reduceBitDepth(8, false, nullptr));
  EXPECT_EQ(eight.bitmapBlock, block);
  EXPECT_EQ(eight.info.frameDelay, 20u);

  Image four(4, 4, 4, FormatGif);
  block = four.bitmapBlock;
  EXPECT_FALSE(four.reduceBitDepth(8, false, nullptr));
  EXPECT_EQ(four.bitmapBlock, block);

  Image truecolour(4, 4, 24, FormatBmp);
  block = truecolour.bitmapBlock;
  EXPECT_FALSE(truecolour.reduceBitDepth(16, false, nullptr));
  EXPECT_EQ(truecolour.bitmapBlock, block);
  EXPECT_EQ(truecolour.bitCount(), 24);

  Image empty;
  EXPECT_FALSE(empty.reduceBitDepth(8, false, nullptr));
}

// --- Fixed palettes -----------------------------------------------------------------------------

TEST(ReduceBitDepth, TrueColourToTheStandard256Palette) {
  Row24 image({0xFF0000, 0xFFFFFF, 0x808080, 0x000000, 0xFE0101});
  image.info.transparentIndex = 7;
  image.info.frameDelay = 20;
  image.setXDpi(300);
  ASSERT_TRUE(image.reduceBitDepth(8, false, nullptr));
  ASSERT_EQ(image.bitCount(), 8);
  EXPECT_EQ(0, std::memcmp(image.palette(), StandardPalette256, 1024));
  EXPECT_EQ(image.getPixelIndex(0, 0), 249);
  EXPECT_EQ(image.getPixelIndex(1, 0), 255);
  EXPECT_EQ(image.getPixelIndex(2, 0), 248);
  EXPECT_EQ(image.getPixelIndex(3, 0), 0);
  EXPECT_EQ(image.getPixelIndex(4, 0), 40);
  // The result is a new picture: the old settings do not follow it.
  EXPECT_EQ(image.info.transparentIndex, -1);
  EXPECT_EQ(image.info.frameDelay, 0u);
  EXPECT_EQ(image.info.xDpi, 72);
  EXPECT_EQ(image.info.formatType, FormatGif);
  EXPECT_EQ(image.info.colorType, 1);
}

TEST(ReduceBitDepth, TrueColourToTheStandard16Palette) {
  Row24 image({0xC0C0C0, 0xFFFFFF, 0x7F0000, 0x0000F0});
  ASSERT_TRUE(image.reduceBitDepth(4, false, nullptr));
  ASSERT_EQ(image.bitCount(), 4);
  EXPECT_EQ(0, std::memcmp(image.palette(), StandardPalette16, 64));
  EXPECT_EQ(image.getPixelIndex(0, 0), 7);
  EXPECT_EQ(image.getPixelIndex(1, 0), 15);
  EXPECT_EQ(image.getPixelIndex(2, 0), 1);
  EXPECT_EQ(image.getPixelIndex(3, 0), 12);
  EXPECT_EQ(image.pixelRow(0)[0], 0x7F);
  EXPECT_EQ(image.pixelRow(0)[1], 0x1C);
}

TEST(ReduceBitDepth, OneBitWithoutPaletteIsBlackAndWhite) {
  Row24 image({0x808080, 0x7F7F7F, 0xFF00FF, 0x00FF00});
  ASSERT_TRUE(image.reduceBitDepth(1, false, nullptr));
  ASSERT_EQ(image.bitCount(), 1);
  EXPECT_EQ(rgbOf(image.getPaletteColor(0)), 0x000000u);
  EXPECT_EQ(rgbOf(image.getPaletteColor(1)), 0xFFFFFFu);
  // 808080 is nearer white (3 × 127²) than black (3 × 128²).
  EXPECT_EQ(image.getPixelIndex(0, 0), 1);
  EXPECT_EQ(image.getPixelIndex(1, 0), 0);
  EXPECT_EQ(image.getPixelIndex(2, 0), 1);
  EXPECT_EQ(image.getPixelIndex(3, 0), 0);
  EXPECT_EQ(image.pixelRow(0)[0], 0xA0);
}

TEST(ReduceBitDepth, PaletteImageToAnEightBitTargetUsesTheStandardPalette) {
  Image image(3, 1, 8, FormatGif);
  image.setPaletteColor(3, 255, 0, 0);
  image.setPaletteColor(4, 255, 255, 255);
  image.setPaletteColor(5, 0x80, 0x80, 0x80);
  for (int32_t x = 0; x < 3; ++x) image.setPixelIndex(x, 0, uint8_t(3 + x));
  ASSERT_TRUE(image.reduceBitDepth(5, false, nullptr));
  ASSERT_EQ(image.bitCount(), 8);
  EXPECT_EQ(image.getPixelIndex(0, 0), 249);
  EXPECT_EQ(image.getPixelIndex(1, 0), 255);
  EXPECT_EQ(image.getPixelIndex(2, 0), 248);
}

// --- Given palettes -----------------------------------------------------------------------------

TEST(ReduceBitDepth, GivenPaletteOfWhichOneBitUsesTheFirstTwoEntries) {
  const RgbQuad given[4] = {colour(0x0000FF), colour(0xFF0000), colour(0x00FF00), colour(0x808080)};
  Row24 image({0x00FF00, 0xEE1111, 0x1111EE});
  ASSERT_TRUE(image.reduceBitDepth(1, false, given));
  EXPECT_EQ(rgbOf(image.getPaletteColor(0)), 0x0000FFu);
  EXPECT_EQ(rgbOf(image.getPaletteColor(1)), 0xFF0000u);
  EXPECT_EQ(image.getPixelIndex(1, 0), 1);
  EXPECT_EQ(image.getPixelIndex(2, 0), 0);

  RgbQuad greys[256];
  for (int i = 0; i < 256; ++i) greys[i] = colour(uint32_t(255 - i) * 0x010101);
  Row24 grey({0x000000, 0x101010, 0xFFFFFF});
  ASSERT_TRUE(grey.reduceBitDepth(8, false, greys));
  EXPECT_EQ(grey.getPixelIndex(0, 0), 255);
  EXPECT_EQ(grey.getPixelIndex(1, 0), 0xEF);
  EXPECT_EQ(grey.getPixelIndex(2, 0), 0);
}

TEST(ReduceBitDepth, AOneBitSourceAskedForZeroBitsEndsBlackAndWhite) {
  Image image(9, 2, 1, FormatBmp);
  image.setPaletteColor(0, 200, 0, 0);
  image.setPaletteColor(1, 0, 0, 200);
  image.setPixelIndex(8, 1, 1);
  const RgbQuad given[2] = {colour(0xFF0000), colour(0x0000FF)};
  ASSERT_TRUE(image.reduceBitDepth(0, false, given));
  EXPECT_EQ(rgbOf(image.getPaletteColor(0)), 0x000000u);
  EXPECT_EQ(rgbOf(image.getPaletteColor(1)), 0xFFFFFFu);
  // Mapped with the given palette first: C80000 -> FF0000 (index 0), 0000C8 -> 0000FF (1).
  EXPECT_EQ(image.getPixelIndex(8, 1), 1);
  EXPECT_EQ(image.getPixelIndex(0, 0), 0);
}

TEST(ReduceBitDepth, PlanesAreCarried) {
  Image image(2, 2, 24, FormatBmp);
  ASSERT_TRUE(image.alphaCreate());
  image.alphaSet(1, 1, 77);
  image.info.alphaMax = 100;
  ASSERT_TRUE(image.reduceBitDepth(8, false, nullptr));
  EXPECT_EQ(image.alphaGet(1, 1), 77);
  EXPECT_EQ(image.info.alphaMax, 100);
}

// The row-wise mapping must give what the per-pixel accessors define.
TEST(ReduceBitDepth, MappingMatchesTheAccessorDefinition) {
  std::mt19937 random(7);
  for (uint32_t from : {24u, 8u, 4u}) {
    for (uint32_t to : {8u, 4u, 1u}) {
      if (to >= from) continue;
      Image image(37, 11, from, FormatBmp);
      for (uint32_t k = 0; k < image.paletteEntries(); ++k)
        image.setPaletteColor(k, uint8_t(random()), uint8_t(random()), uint8_t(random()));
      for (int32_t y = 0; y < 11; ++y)
        for (int32_t i = 0; i < image.info.rowBytes; ++i) image.pixelRow(y)[i] = uint8_t(random());
      Image reference(37, 11, to, FormatBmp);
      if (to == 1) {
        reference.setPaletteColor(1, 255, 255, 255);
      } else {
        reference.setStandardPalette();
      }
      for (int32_t y = 0; y < 11; ++y)
        for (int32_t x = 0; x < 37; ++x) reference.setPixelColor(x, y, image.getPixelColor(x, y));
      ASSERT_TRUE(image.reduceBitDepth(to, false, nullptr));
      EXPECT_EQ(0, std::memcmp(image.bitmapBlock, reference.bitmapBlock, reference.blockSize()))
          << from << " -> " << to;
    }
  }
}

// --- Error diffusion ----------------------------------------------------------------------------

TEST(ErrorDiffusion, FirstPixelsOfMidGrey) {
  // 808080 -> white, error -127: the next pixel gets trunc(-127 * 7 / 16) = -55, so it is
  // 494949 when converted -> black, error +73; the third gets trunc(73 * 7 / 16) = +31: 9F9F9F
  // -> white, error -96; the fourth gets -42: 565656 -> black.
  Row24 image({0x808080, 0x808080, 0x808080, 0x808080});
  ASSERT_TRUE(image.reduceBitDepth(1, true, nullptr));
  EXPECT_EQ(image.getPixelIndex(0, 0), 1);
  EXPECT_EQ(image.getPixelIndex(1, 0), 0);
  EXPECT_EQ(image.getPixelIndex(2, 0), 1);
  EXPECT_EQ(image.getPixelIndex(3, 0), 0);

  // Truncation toward zero, not flooring: B7 - 55 = 80 (white) where flooring would give 7F.
  Row24 edge({0x808080, 0xB7B7B7});
  ASSERT_TRUE(edge.reduceBitDepth(1, true, nullptr));
  EXPECT_EQ(edge.getPixelIndex(1, 0), 1);
  Row24 below({0x808080, 0xB6B6B6});
  ASSERT_TRUE(below.reduceBitDepth(1, true, nullptr));
  EXPECT_EQ(below.getPixelIndex(1, 0), 0);
}

TEST(ErrorDiffusion, ErrorTravelsUpToTheNextStoredRowWithWeightsTwoFourOne) {
  // Column of two: (0,0) 808080 -> white, error -127; (0,1) gets trunc(-127 * 4 / 16) = -31.
  Image column(1, 2, 24, FormatBmp);
  column.setPixelColor(0, 0, colour(0x808080));
  column.setPixelColor(0, 1, colour(0x9F9F9F));  // 159 - 31 = 128 -> white
  ASSERT_TRUE(column.reduceBitDepth(1, true, nullptr));
  EXPECT_EQ(column.getPixelIndex(0, 1), 1);
  Image lower(1, 2, 24, FormatBmp);
  lower.setPixelColor(0, 0, colour(0x808080));
  lower.setPixelColor(0, 1, colour(0x9E9E9E));  // 158 - 31 = 127 -> black
  ASSERT_TRUE(lower.reduceBitDepth(1, true, nullptr));
  EXPECT_EQ(lower.getPixelIndex(0, 1), 0);

  // Diagonals: (1,0) 808080 sends trunc(-127 * 2 / 16) = -15 to (0,1) and -7 to (2,1).
  Image wide(3, 2, 24, FormatBmp);
  wide.setPixelColor(0, 0, colour(0x000000));
  wide.setPixelColor(1, 0, colour(0x808080));
  wide.setPixelColor(2, 0, colour(0x000000));  // receives -55: clamps at 0, still black
  wide.setPixelColor(0, 1, colour(0x8F8F8F));  // 143 - 15 = 128 -> white
  wide.setPixelColor(2, 1, colour(0x868686));  // 134 - 7 = 127 -> black, unless (2,0) adds
  ASSERT_TRUE(wide.reduceBitDepth(1, true, nullptr));
  EXPECT_EQ(wide.getPixelIndex(0, 0), 0);
  EXPECT_EQ(wide.getPixelIndex(1, 0), 1);
  EXPECT_EQ(wide.getPixelIndex(2, 0), 0);
  EXPECT_EQ(wide.getPixelIndex(0, 1), 1);
  EXPECT_EQ(wide.getPixelIndex(2, 1), 0);
}

TEST(ErrorDiffusion, MidGreyAreaBecomesAPatternOfBothColours) {
  Image image(16, 16, 24, FormatBmp);
  for (int32_t y = 0; y < 16; ++y)
    for (int32_t x = 0; x < 16; ++x) image.setPixelRGB(x, y, 0x808080);
  ASSERT_TRUE(image.reduceBitDepth(1, true, nullptr));
  int white = 0;
  for (int32_t y = 0; y < 16; ++y)
    for (int32_t x = 0; x < 16; ++x) white += image.getPixelIndex(x, y);
  EXPECT_GT(white, 64);
  EXPECT_LT(white, 192);
}

TEST(ErrorDiffusion, PaletteSourcesSnapPushedColoursToTheirOwnEntries) {
  // 8-bit source with only two colours: black and 808080 (index 1). The pushed error turns a
  // neighbour into a colour that snaps back to one of those before it is read.
  Image image(2, 1, 8, FormatBmp);
  image.setPaletteColor(1, 0x80, 0x80, 0x80);
  for (uint32_t k = 2; k < 256; ++k) image.setPaletteColor(k, 0x80, 0x80, 0x80);
  image.setPixelIndex(0, 0, 1);
  image.setPixelIndex(1, 0, 1);
  ASSERT_TRUE(image.reduceBitDepth(1, true, nullptr));
  // (0,0) 808080 -> white; (1,0) becomes 494949, which snaps to 808080 (3 × 55² beats 3 × 73²),
  // so it is white too.
  EXPECT_EQ(image.getPixelIndex(0, 0), 1);
  EXPECT_EQ(image.getPixelIndex(1, 0), 1);
}

}  // namespace
}  // namespace skm

namespace skm {
namespace {

TEST(ReduceBitDepthEscape, StoppedConversionStillReplacesThePicture) {
  Image image(8, 4, 24, FormatBmp);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 8; ++x) image.setPixelRGB(x, y, 0xFFFFFF);
  image.info.escape = 1;
  ASSERT_TRUE(image.reduceBitDepth(8, true, nullptr));
  ASSERT_EQ(image.bitCount(), 8);
  for (std::size_t i = 0; i < image.header.sizeImage; ++i) ASSERT_EQ(image.pixels[i], 0) << i;
  EXPECT_EQ(image.info.escape, 0);
}

}  // namespace
}  // namespace skm

namespace skm {
namespace {

// The diffusion written out with the per-pixel accessors, step by step as documented.
void referenceDiffusion(Image& source, Image& result) {
  for (int32_t y = 0; y < source.height(); ++y)
    for (int32_t x = 0; x < source.width(); ++x) {
      const RgbQuad c = source.getPixelColor(x, y);
      result.setPixelColor(x, y, c);
      const RgbQuad q = result.getPixelColor(x, y);
      const int eR = c.red - q.red, eG = c.green - q.green, eB = c.blue - q.blue;
      const int offsets[4][3] = {{1, 0, 7}, {-1, 1, 2}, {0, 1, 4}, {1, 1, 1}};
      for (const auto& o : offsets) {
        const RgbQuad n = source.getPixelColor(x + o[0], y + o[1]);
        auto add = [&](int channel, int e) {
          return uint8_t(std::clamp(channel + o[2] * e / 16, 0, 255));
        };
        source.setPixelColor(x + o[0], y + o[1],
                             RgbQuad{add(n.blue, eB), add(n.green, eG), add(n.red, eR), 0});
      }
    }
}

TEST(ErrorDiffusion, MatchesTheAccessorDefinition) {
  std::mt19937 random(5);
  for (uint32_t from : {24u, 8u}) {
    for (uint32_t to : {1u, 4u, 8u}) {
      if (to >= from) continue;
      Image image(29, 13, from, FormatBmp);
      for (uint32_t k = 0; k < image.paletteEntries(); ++k)
        image.setPaletteColor(k, uint8_t(random()), uint8_t(random()), uint8_t(random()));
      for (int32_t y = 0; y < 13; ++y)
        for (int32_t i = 0; i < image.info.rowBytes; ++i) image.pixelRow(y)[i] = uint8_t(random());
      image.info.backgroundColor = RgbQuad{9, 200, 31, 0};
      Image copy;
      ASSERT_TRUE(copy.copy(image));
      Image reference(29, 13, to, FormatBmp);
      if (to == 1) {
        reference.setPaletteColor(1, 255, 255, 255);
      } else {
        reference.setStandardPalette();
      }
      referenceDiffusion(copy, reference);
      ASSERT_TRUE(image.reduceBitDepth(to, true, nullptr));
      EXPECT_EQ(0, std::memcmp(image.bitmapBlock, reference.bitmapBlock, reference.blockSize()))
          << from << " -> " << to;
    }
  }
}

}  // namespace
}  // namespace skm
