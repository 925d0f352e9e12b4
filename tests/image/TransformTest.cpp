#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>

#include "image/Image.h"

namespace skm {
namespace {

uint32_t rgbOf(RgbQuad c) {
  return (uint32_t(c.red) << 16) | (uint32_t(c.green) << 8) | c.blue;
}

// A palette with 256 distinct colours, so every colour maps back to its own index.
void setDistinctPalette(Image& image) {
  for (uint32_t k = 0; k < image.paletteEntries(); ++k)
    image.setPaletteColor(k, uint8_t(k), uint8_t(255 - k), uint8_t(k / 2));
}

void setGreyPalette(Image& image) {
  for (uint32_t k = 0; k < image.paletteEntries(); ++k)
    image.setPaletteColor(k, uint8_t(k), uint8_t(k), uint8_t(k));
}

void fillRandom(Image& image, uint32_t seed) {
  std::mt19937 random(seed);
  for (uint32_t k = 0; k < image.paletteEntries(); ++k)
    image.setPaletteColor(k, uint8_t(random()), uint8_t(random()), uint8_t(random()));
  for (int32_t y = 0; y < image.height(); ++y)
    for (std::size_t i = 0; i < std::size_t(image.info.rowBytes); ++i)
      image.pixelRow(y)[i] = uint8_t(random());
  // Fill bytes of the rows are left random on purpose: no transform may copy them as pixels.
}

bool fillBytesAreZero(const Image& image) {
  const std::size_t used = (std::size_t(image.width()) * image.bitCount() + 7) / 8;
  for (int32_t y = 0; y < image.height(); ++y)
    for (std::size_t i = used; i < std::size_t(image.info.rowBytes); ++i)
      if (image.pixelRow(y)[i] != 0) return false;
  return true;
}

// --- Crop ---------------------------------------------------------------------------------------

class StripCrop : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(strip.isValid());
    setDistinctPalette(strip);
    for (int32_t y = 0; y < 20; ++y)
      for (int32_t x = 0; x < 100; ++x) strip.setPixelIndex(x, y, uint8_t(x + 100 * (y & 1)));
    strip.info.transparentIndex = 12;
    strip.info.backgroundColor = RgbQuad{1, 2, 3, 4};
    strip.info.frameDelay = 50;
  }
  Image strip{100, 20, 8, FormatGif};
};

TEST_F(StripCrop, FrameHoldsItsColumnsWhicheverWayTheEdgesCome) {
  for (auto [left, right] : {std::pair{20, 40}, std::pair{40, 20}}) {
    Image frame;
    ASSERT_TRUE(strip.crop(left, 0, right, 20, &frame));
    ASSERT_EQ(frame.width(), 20);
    ASSERT_EQ(frame.height(), 20);
    for (int32_t y = 0; y < 20; ++y)
      for (int32_t x = 0; x < 20; ++x)
        ASSERT_EQ(frame.getPixelIndex(x, y), 20 + x + 100 * (y & 1)) << x << "," << y;
  }
  EXPECT_TRUE(strip.isValid());
  EXPECT_EQ(strip.width(), 100);
}

TEST_F(StripCrop, KeepsPaletteTransparencyAndBackgroundButNotTheRest) {
  Image frame;
  strip.setLastError(ImageError::Damaged, "old");
  ASSERT_TRUE(strip.crop(0, 0, 10, 20, &frame));
  EXPECT_EQ(0, std::memcmp(frame.palette(), strip.palette(), 1024));
  EXPECT_EQ(frame.info.transparentIndex, 12);
  EXPECT_EQ(rgbOf(frame.info.backgroundColor), 0x030201u);
  EXPECT_EQ(frame.info.backgroundColor.reserved, 4);
  EXPECT_EQ(frame.info.frameDelay, 0u);
  EXPECT_EQ(frame.info.formatType, FormatGif);
  EXPECT_STREQ(frame.lastError(), "");
  EXPECT_EQ(frame.info.xDpi, 72);
}

TEST_F(StripCrop, EmptyOrOutsideRectanglesFailAndChangeNothing) {
  Image frame(3, 3, 8, FormatBmp);
  uint8_t* block = frame.bitmapBlock;
  EXPECT_FALSE(strip.crop(20, 0, 20, 20, &frame));
  EXPECT_FALSE(strip.crop(0, 5, 10, 5, &frame));
  EXPECT_FALSE(strip.crop(-10, 0, -5, 20, &frame));  // both clamp to 0
  EXPECT_FALSE(strip.crop(100, 0, 130, 20, &frame));
  EXPECT_EQ(frame.bitmapBlock, block);
  Image empty;
  EXPECT_FALSE(empty.crop(0, 0, 1, 1, &frame));
}

TEST_F(StripCrop, EdgesAreClampedToThePicture) {
  Image frame;
  ASSERT_TRUE(strip.crop(90, -5, 130, 99, &frame));
  EXPECT_EQ(frame.width(), 10);
  EXPECT_EQ(frame.height(), 20);
  EXPECT_EQ(frame.getPixelIndex(9, 1), 199);
}

TEST_F(StripCrop, WithoutDestinationTheResultReplacesTheSource) {
  ASSERT_TRUE(strip.crop(5, 0, 8, 20, nullptr));
  EXPECT_EQ(strip.width(), 3);
  EXPECT_EQ(strip.getPixelIndex(0, 0), 5);
  EXPECT_EQ(strip.info.frameDelay, 0u);
}

TEST(Crop, TopPictureRowsAreTheHighestStoredRows) {
  Image image(10, 20, 24, FormatBmp);
  for (int32_t y = 0; y < 20; ++y)
    for (int32_t x = 0; x < 10; ++x) image.setPixelRGB(x, y, uint32_t(y << 8 | x));
  Image top;
  ASSERT_TRUE(image.crop(0, 0, 10, 5, &top));
  ASSERT_EQ(top.height(), 5);
  for (int32_t y = 0; y < 5; ++y)
    EXPECT_EQ(rgbOf(top.getPixelColor(3, y)), uint32_t(3 << 16 | (15 + y) << 8)) << y;
  // Bottom and top given the other way round select the same rows.
  Image same;
  ASSERT_TRUE(image.crop(0, 5, 10, 0, &same));
  EXPECT_EQ(0, std::memcmp(same.bitmapBlock, top.bitmapBlock, top.blockSize()));
  // Picture rows 5..7 are stored rows 12..14.
  Image middle;
  ASSERT_TRUE(image.crop(2, 5, 4, 8, &middle));
  EXPECT_EQ(middle.width(), 2);
  EXPECT_EQ(rgbOf(middle.getPixelColor(0, 0)), uint32_t(2 << 16 | 12 << 8));
  EXPECT_EQ(rgbOf(middle.getPixelColor(1, 2)), uint32_t(3 << 16 | 14 << 8));
}

TEST(Crop, PackedDepthsAtOddOffsetsAndNoFillBytesCopied) {
  for (uint32_t bits : {1u, 4u, 8u, 24u}) {
    Image source(37, 9, bits, FormatBmp);
    fillRandom(source, bits);
    Image part;
    ASSERT_TRUE(source.crop(3, 2, 36, 7, &part)) << bits;
    ASSERT_EQ(part.width(), 33);
    ASSERT_EQ(part.height(), 5);
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 33; ++x)
        ASSERT_EQ(rgbOf(part.getPixelColor(x, y)), rgbOf(source.getPixelColor(x + 3, y + 2)))
            << bits << ": " << x << "," << y;
    if (bits < 24) {
      for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 33; ++x)
          ASSERT_EQ(part.getPixelIndex(x, y), source.getPixelIndex(x + 3, y + 2));
    }
    EXPECT_TRUE(fillBytesAreZero(part)) << bits;
  }
}

// --- Resample: arguments ------------------------------------------------------------------------

TEST(Resample, SameSizeLeavesTheImageAndZeroOrNegativeSizesFail) {
  Image image(16, 16, 8, FormatBmp);
  image.info.frameDelay = 9;
  uint8_t* block = image.bitmapBlock;
  EXPECT_TRUE(image.resample(16, 16, 1));
  EXPECT_EQ(image.bitmapBlock, block);
  EXPECT_FALSE(image.resample(0, 16, 1));
  EXPECT_FALSE(image.resample(16, 0, 0));
  EXPECT_FALSE(image.resample(-4, 8, 1));
  EXPECT_FALSE(image.resample(8, -4, 0));
  EXPECT_EQ(image.bitmapBlock, block);
  EXPECT_EQ(image.width(), 16);
  Image empty;
  EXPECT_FALSE(empty.resample(4, 4, 1));
}

TEST(Resample, ResultTooLargeFailsAndChangesNothing) {
  Image image(4, 4, 24, FormatBmp);
  uint8_t* block = image.bitmapBlock;
  EXPECT_FALSE(image.resample(20000, 20000, 1));
  EXPECT_EQ(image.bitmapBlock, block);
  EXPECT_EQ(image.width(), 4);
}

// --- Resample: nearest neighbour ----------------------------------------------------------------

TEST(ResampleNearest, HalvingTakesEvenColumnsAndRows) {
  Image image(32, 32, 8, FormatGif);
  setDistinctPalette(image);
  for (int32_t y = 0; y < 32; ++y)
    for (int32_t x = 0; x < 32; ++x) image.setPixelIndex(x, y, uint8_t(x + 7 * y));
  image.info.transparentIndex = 3;
  image.info.frameDelay = 20;
  ASSERT_TRUE(image.resample(16, 16, 1));
  ASSERT_EQ(image.width(), 16);
  ASSERT_EQ(image.bitCount(), 8);
  for (int32_t y = 0; y < 16; ++y)
    for (int32_t x = 0; x < 16; ++x)
      ASSERT_EQ(image.getPixelIndex(x, y), uint8_t(2 * x + 14 * y)) << x << "," << y;
  EXPECT_EQ(image.info.transparentIndex, 3);
  EXPECT_EQ(image.info.frameDelay, 20u);
  EXPECT_EQ(image.info.formatType, FormatGif);
}

TEST(ResampleNearest, TwentyToSixteenSkipsEveryFifthColumn) {
  Image image(20, 20, 24, FormatBmp);
  for (int32_t y = 0; y < 20; ++y)
    for (int32_t x = 0; x < 20; ++x) image.setPixelRGB(x, y, uint32_t(x | y << 8));
  ASSERT_TRUE(image.resample(16, 16, 1));
  const int32_t expected[16] = {0, 1, 2, 3, 5, 6, 7, 8, 10, 11, 12, 13, 15, 16, 17, 18};
  for (int32_t i = 0; i < 16; ++i)
    for (int32_t j = 0; j < 16; ++j)
      ASSERT_EQ(rgbOf(image.getPixelColor(j, i)), uint32_t(expected[j] << 16 | expected[i] << 8));
  EXPECT_TRUE(fillBytesAreZero(image));
}

TEST(ResampleNearest, DuplicateColoursCollapseToTheLowerIndex) {
  Image image(2, 1, 8, FormatGif);
  setDistinctPalette(image);
  image.setPaletteColor(9, 1, 2, 3);
  image.setPaletteColor(4, 1, 2, 3);
  image.setPixelIndex(0, 0, 9);
  image.setPixelIndex(1, 0, 4);
  image.info.transparentIndex = 9;
  ASSERT_TRUE(image.resample(4, 1, 1));
  for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(image.getPixelIndex(x, 0), 4);
  EXPECT_EQ(image.info.transparentIndex, 9);
}

TEST(ResampleNearest, PackedDepthsMatchTheAccessorDefinition) {
  for (uint32_t bits : {1u, 4u, 8u, 24u}) {
    Image image(23, 17, bits, FormatBmp);
    fillRandom(image, 100 + bits);
    if (bits == 8) image.setPaletteColor(200, 0, 0, 0);  // duplicate of a lower entry
    Image original;
    ASSERT_TRUE(original.copy(image));
    ASSERT_TRUE(image.resample(41, 9, 1));
    const float xScale = 23.0f / 41.0f;
    const float yScale = 17.0f / 9.0f;
    for (int32_t i = 0; i < 9; ++i)
      for (int32_t j = 0; j < 41; ++j) {
        const RgbQuad c =
            original.getPixelColor(int32_t(float(j) * xScale), int32_t(float(i) * yScale));
        if (bits < 24) {
          ASSERT_EQ(image.getPixelIndex(j, i), image.nearestIndex(c)) << bits;
        } else {
          ASSERT_EQ(rgbOf(image.getPixelColor(j, i)), rgbOf(c));
        }
      }
    EXPECT_TRUE(fillBytesAreZero(image)) << bits;
  }
}

// Palettes drawn from a few colours, so most entries repeat a lower one (as in real buttons),
// with reserved bytes that differ between equal colours: every index, sampled once, must land
// on the entry setPixelColor would choose.
TEST(ResampleNearest, EveryIndexOfARepeatingPaletteMapsLikeNearestIndex) {
  std::mt19937 random(77);
  for (uint32_t bits : {1u, 4u, 8u}) {
    for (int trial = 0; trial < 20; ++trial) {
      const uint32_t entries = 1u << bits;
      Image image(int32_t(entries), 1, bits, FormatGif);
      const uint32_t kinds = 1 + random() % (trial < 10 ? 4u : entries);
      for (uint32_t k = 0; k < entries; ++k) {
        const uint32_t kind = uint32_t(random() % kinds);
        image.setPaletteColor(k, uint8_t(kind * 40), uint8_t(kind * 7), uint8_t(kind & 1),
                              uint8_t(random()));
        image.setPixelIndex(int32_t(k), 0, uint8_t(k));
      }
      Image original;
      ASSERT_TRUE(original.copy(image));
      ASSERT_TRUE(image.resample(int32_t(entries) * 2, 1, 1));
      for (uint32_t k = 0; k < entries; ++k) {
        const uint8_t want = image.nearestIndex(original.getPaletteColor(k));
        ASSERT_EQ(image.getPixelIndex(int32_t(2 * k), 0), want) << bits << " bits, index " << k;
        ASSERT_EQ(image.getPixelIndex(int32_t(2 * k + 1), 0), want) << bits << " bits, index " << k;
      }
    }
  }
}

TEST(ResampleNearest, AlphaFollowsTheNearestPixelAndSelectionIsDropped) {
  Image image(4, 4, 24, FormatBmp);
  ASSERT_TRUE(image.alphaCreate());
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x) image.alphaSet(x, y, uint8_t(10 * y + x));
  ASSERT_TRUE(image.resample(2, 2, 1));
  EXPECT_EQ(image.info.colorType, 4);
  EXPECT_EQ(image.alphaGet(0, 0), 0);
  EXPECT_EQ(image.alphaGet(1, 0), 2);
  EXPECT_EQ(image.alphaGet(1, 1), 22);
  EXPECT_EQ(image.selection, nullptr);
}

// --- Resample: box filter -----------------------------------------------------------------------

TEST(ResampleBox, HalvingGivesTruncatedMeansOfEachBlock) {
  Image image(4, 4, 24, FormatBmp);
  // Stored rows, blue channel; green = blue + 1, red = 255 - blue.
  const uint8_t blue[4][4] = {
      {10, 11, 100, 200}, {11, 11, 51, 52}, {0, 0, 255, 255}, {0, 3, 254, 255}};
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x) {
      const uint8_t b = blue[y][x];
      image.setPixelColor(x, y, RgbQuad{b, uint8_t(b + 1), uint8_t(255 - b), 0});
    }
  ASSERT_TRUE(image.resample(2, 2, 0));
  ASSERT_EQ(image.width(), 2);
  // (10+11+11+11)/4 = 10.75; (100+200+51+52)/4 = 100.75; (0+0+0+3)/4 = 0.75;
  // (255+255+254+255)/4 = 254.75.
  const uint8_t expected[2][2] = {{10, 100}, {0, 254}};
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 2; ++x) {
      const RgbQuad c = image.getPixelColor(x, y);
      EXPECT_EQ(c.blue, expected[y][x]) << x << "," << y;
    }
  // Green is blue + 1 per pixel: 11.75, 101.75, 1.75.
  EXPECT_EQ(image.getPixelColor(0, 0).green, 11);
  EXPECT_EQ(image.getPixelColor(1, 0).green, 101);
  EXPECT_EQ(image.getPixelColor(0, 1).green, 1);
  // Red: 255 - mean, truncated: 244.25, 154.25, 254.25, 0.25.
  EXPECT_EQ(image.getPixelColor(0, 0).red, 244);
  EXPECT_EQ(image.getPixelColor(1, 0).red, 154);
  EXPECT_EQ(image.getPixelColor(0, 1).red, 254);
  EXPECT_EQ(image.getPixelColor(1, 1).red, 0);
  EXPECT_TRUE(fillBytesAreZero(image));
}

TEST(ResampleBox, ThreeToTwoWeighsSharedPixelsByArea) {
  Image image(3, 3, 24, FormatBmp);
  const uint8_t value[3][3] = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}};
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 3; ++x)
      image.setPixelColor(x, y, RgbQuad{value[y][x], uint8_t(value[y][x] + 1), 0, 0});
  ASSERT_TRUE(image.resample(2, 2, 0));
  // Scale 1.5, c = 2250. Result (0,0) = (1000*10 + 500*20 + 500*40 + 250*50) / 2250 = 23.3;
  // (1,0) = (500*20 + 1000*30 + 250*50 + 500*60) / 2250 = 36.7;
  // (0,1) = (500*40 + 250*50 + 1000*70 + 500*80) / 2250 = 63.3;
  // (1,1) = (250*50 + 500*60 + 500*80 + 1000*90) / 2250 = 76.7.
  EXPECT_EQ(image.getPixelColor(0, 0).blue, 23);
  EXPECT_EQ(image.getPixelColor(1, 0).blue, 36);
  EXPECT_EQ(image.getPixelColor(0, 1).blue, 63);
  EXPECT_EQ(image.getPixelColor(1, 1).blue, 76);
  EXPECT_EQ(image.getPixelColor(0, 0).green, 24);
  EXPECT_EQ(image.getPixelColor(1, 1).green, 77);
  EXPECT_EQ(image.getPixelColor(1, 1).red, 0);
}

TEST(ResampleBox, UniformPicturesStayUniformAtAwkwardScales) {
  for (auto [w, h, nw, nh] :
       {std::array{97, 61, 13, 7}, std::array{1024, 3, 1000, 2}, std::array{640, 480, 639, 479}}) {
    Image image(w, h, 24, FormatBmp);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) image.setPixelRGB(x, y, 0x336699);
    ASSERT_TRUE(image.resample(nw, nh, 0));
    ASSERT_EQ(image.width(), nw);
    for (int32_t y = 0; y < nh; ++y)
      for (int32_t x = 0; x < nw; ++x) {
        const RgbQuad c = image.getPixelColor(x, y);
        // Truncated weights may lose a unit; they must never wrap or leave a pixel black.
        ASSERT_NEAR(c.red, 0x99, 1) << w << ":" << x << "," << y;
        ASSERT_NEAR(c.green, 0x66, 1);
        ASSERT_NEAR(c.blue, 0x33, 1);
      }
  }
}

// --- Resample: bilinear -------------------------------------------------------------------------

TEST(ResampleBilinear, GrowingInterpolatesAndRepeatsTheLastRowAndColumn) {
  Image image(2, 2, 24, FormatBmp);
  image.setPixelColor(0, 0, RgbQuad{0, 0, 0, 0});
  image.setPixelColor(1, 0, RgbQuad{101, 0, 0, 0});
  image.setPixelColor(0, 1, RgbQuad{200, 0, 0, 0});
  image.setPixelColor(1, 1, RgbQuad{40, 0, 0, 0});
  ASSERT_TRUE(image.resample(4, 4, 0));
  // Scale 0.5: columns sample x0 = 0, 0, 1, 1 with fx = 0, .5, 0, .5 (x1 stops at 1).
  const uint8_t expected[4][4] = {
      {0, 50, 101, 101},  // (0 + 101) / 2 = 50.5
      {100, 85, 70, 70},  // left (0 + 200) / 2, right (101 + 40) / 2 = 70.5
      {200, 120, 40, 40},
      {200, 120, 40, 40}};
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x)
      EXPECT_EQ(image.getPixelColor(x, y).blue, expected[y][x]) << x << "," << y;
  EXPECT_TRUE(fillBytesAreZero(image));
}

TEST(ResampleBilinear, PaletteImagesInterpolateColoursAndMapToTheNearestEntry) {
  Image image(2, 1, 8, FormatGif);
  setGreyPalette(image);
  image.setPixelIndex(0, 0, 0);
  image.setPixelIndex(1, 0, 100);
  // Shrinking a palette image is bilinear too; here it grows to 3: x = 0, 0.667, 1.333.
  ASSERT_TRUE(image.resample(3, 1, 0));
  EXPECT_EQ(image.getPixelIndex(0, 0), 0);
  EXPECT_EQ(image.getPixelIndex(1, 0), 66);
  EXPECT_EQ(image.getPixelIndex(2, 0), 100);

  Image small(4, 4, 8, FormatGif);
  setGreyPalette(small);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x) small.setPixelIndex(x, y, uint8_t(10 * y + x));
  ASSERT_TRUE(small.resample(2, 2, 0));
  EXPECT_EQ(small.getPixelIndex(1, 1), 22);  // scale 2 samples (2, 2) exactly
}

TEST(ResampleBilinear, ShrinkingInOneDirectionOnlyIsBilinear) {
  Image image(4, 2, 24, FormatBmp);
  for (int32_t x = 0; x < 4; ++x) {
    image.setPixelColor(x, 0, RgbQuad{uint8_t(40 * x), 0, 0, 0});
    image.setPixelColor(x, 1, RgbQuad{uint8_t(40 * x), 0, 0, 0});
  }
  ASSERT_TRUE(image.resample(2, 4, 0));
  // A box filter would average columns (0 + 40) / 2; bilinear samples x = 0 and 2.
  EXPECT_EQ(image.getPixelColor(0, 0).blue, 0);
  EXPECT_EQ(image.getPixelColor(1, 3).blue, 80);
}

}  // namespace
}  // namespace skm

namespace skm {
namespace {

TEST(ResampleEscape, StoppedRowsAreLeftZeroNotStale) {
  for (int mode : {0, 1}) {
    Image image(8, 8, 24, FormatBmp);
    for (int32_t y = 0; y < 8; ++y)
      for (int32_t x = 0; x < 8; ++x) image.setPixelRGB(x, y, 0xFFFFFF);
    image.info.escape = 1;
    ASSERT_TRUE(image.resample(12, 12, mode));
    ASSERT_EQ(image.width(), 12);
    for (std::size_t i = 0; i < image.header.sizeImage; ++i) ASSERT_EQ(image.pixels[i], 0) << i;
  }
}

}  // namespace
}  // namespace skm
