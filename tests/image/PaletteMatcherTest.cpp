#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "image/Image.h"
#include "image/ImageInternal.h"

namespace skm {
namespace {

// Channel values on both sides of every cell edge of the matcher, plus a spread between.
std::vector<uint8_t> probeValues() {
  std::vector<uint8_t> values;
  for (int v = 0; v < 256; ++v)
    if (v % 16 == 0 || v % 16 == 15 || v % 7 == 3) values.push_back(uint8_t(v));
  return values;
}

void expectSameAsNearestIndex(const Image& image) {
  PaletteMatcher matcher(image);
  const std::vector<uint8_t> values = probeValues();
  for (uint8_t r : values)
    for (uint8_t g : values)
      for (uint8_t b : values) {
        const RgbQuad c{b, g, r, 0};
        ASSERT_EQ(matcher(c), image.nearestIndex(c)) << int(r) << "," << int(g) << "," << int(b);
      }
}

TEST(PaletteMatcher, AgreesWithNearestIndexOnTheStandardPalettes) {
  Image eight(1, 1, 8, FormatBmp);
  eight.setStandardPalette();
  expectSameAsNearestIndex(eight);
  Image four(1, 1, 4, FormatBmp);
  four.setStandardPalette();
  expectSameAsNearestIndex(four);
}

TEST(PaletteMatcher, AgreesWithNearestIndexOnTiesAndDuplicates) {
  std::mt19937 random(11);
  Image image(1, 1, 8, FormatBmp);
  // Few distinct colours, repeated at many indices, on a coarse grid that makes ties common.
  for (uint32_t k = 0; k < 256; ++k) {
    const uint32_t pick = random() % 12;
    image.setPaletteColor(k, uint8_t(pick * 20), uint8_t((pick % 3) * 100), uint8_t(pick * 8));
  }
  expectSameAsNearestIndex(image);
  for (uint32_t k = 0; k < 256; ++k)
    image.setPaletteColor(k, uint8_t(random()), uint8_t(random()), uint8_t(random()));
  expectSameAsNearestIndex(image);
  Image mono(1, 1, 1, FormatBmp);
  mono.setPaletteColor(0, 10, 10, 10);
  mono.setPaletteColor(1, 10, 10, 10);
  expectSameAsNearestIndex(mono);
}

TEST(PaletteMatcher, ImagesWithoutPaletteGiveZero) {
  Image truecolour(1, 1, 24, FormatBmp);
  PaletteMatcher matcher(truecolour);
  EXPECT_EQ(matcher(RgbQuad{1, 2, 3, 0}), 0);
}

}  // namespace
}  // namespace skm
