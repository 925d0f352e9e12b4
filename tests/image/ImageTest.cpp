#include "image/Image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace skm {
namespace {

uint32_t rgbOf(RgbQuad c) {
  return (uint32_t(c.red) << 16) | (uint32_t(c.green) << 8) | c.blue;
}

RgbQuad colour(uint32_t rrggbb) {
  return RgbQuad{uint8_t(rrggbb), uint8_t(rrggbb >> 8), uint8_t(rrggbb >> 16), 0};
}

uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// --- Layout -------------------------------------------------------------------------------------

TEST(ImageLayout, RowBytesArePaddedToFourForEveryDepth) {
  struct Case {
    int32_t width;
    uint32_t bits;
    int32_t rowBytes;
    uint32_t entries;
  };
  const Case cases[] = {{33, 1, 8, 2}, {32, 1, 4, 2},    {1, 1, 4, 2},   {9, 4, 8, 16},
                        {8, 4, 4, 16}, {10, 8, 12, 256}, {4, 8, 4, 256}, {3, 24, 12, 0},
                        {1, 24, 4, 0}, {5, 24, 16, 0}};
  for (const Case& c : cases) {
    Image image(c.width, 7, c.bits, FormatBmp);
    ASSERT_TRUE(image.isValid());
    EXPECT_EQ(image.info.rowBytes, c.rowBytes) << c.width << "x" << c.bits;
    EXPECT_EQ(image.paletteEntries(), c.entries);
    EXPECT_EQ(image.header.sizeImage, uint32_t(c.rowBytes) * 7);
    EXPECT_EQ(image.blockSize(), 40 + c.entries * 4 + std::size_t(c.rowBytes) * 7);
    EXPECT_EQ(image.pixels, image.bitmapBlock + 40 + c.entries * 4);
    EXPECT_EQ(image.pixelRow(3), image.pixels + 3 * c.rowBytes);
  }
}

TEST(ImageLayout, DepthIsNormalised) {
  const std::pair<uint32_t, uint16_t> cases[] = {{0, 1}, {1, 1}, {2, 4},  {3, 4},   {4, 4},
                                                 {5, 8}, {8, 8}, {9, 24}, {16, 24}, {32, 24}};
  for (auto [asked, got] : cases) {
    Image image(3, 3, asked, FormatGif);
    EXPECT_EQ(image.bitCount(), got) << asked;
    EXPECT_EQ(image.info.colorType, got == 24 ? 2 : 1);
    EXPECT_EQ(image.info.formatType, FormatGif);
  }
}

TEST(ImageLayout, CreateZeroesTheWholeBlockAndStoresTheHeaderLittleEndian) {
  Image image;
  image.setXDpi(96);
  ASSERT_NE(image.create(10, 3, 8, FormatBmp), nullptr);
  const uint8_t* b = image.bitmapBlock;
  EXPECT_EQ(le32(b + 0), 40u);
  EXPECT_EQ(le32(b + 4), 10u);
  EXPECT_EQ(le32(b + 8), 3u);
  EXPECT_EQ(b[12], 1);
  EXPECT_EQ(b[13], 0);
  EXPECT_EQ(b[14], 8);
  EXPECT_EQ(b[15], 0);
  EXPECT_EQ(le32(b + 16), 0u);
  EXPECT_EQ(le32(b + 20), 36u);
  EXPECT_EQ(le32(b + 24), 3780u);
  EXPECT_EQ(le32(b + 28), 2835u);
  EXPECT_EQ(le32(b + 32), 256u);
  EXPECT_EQ(le32(b + 36), 0u);
  for (std::size_t i = 40; i < image.blockSize(); ++i) ASSERT_EQ(b[i], 0) << i;

  // Rows a caller fills itself may come unzeroed, but header and palette are set as ever.
  ASSERT_NE(image.create(10, 3, 8, FormatBmp, false), nullptr);
  b = image.bitmapBlock;
  EXPECT_EQ(le32(b + 4), 10u);
  EXPECT_EQ(le32(b + 32), 256u);
  EXPECT_EQ(image.pixels, b + 40 + 1024);
  for (std::size_t i = 40; i < 40 + 1024; ++i) ASSERT_EQ(b[i], 0) << i;
}

TEST(ImageLayout, ConstructionDefaults) {
  Image image(FormatGif);
  EXPECT_FALSE(image.isValid());
  EXPECT_EQ(image.header.size, 40u);
  EXPECT_EQ(image.info.formatType, FormatGif);
  EXPECT_EQ(image.info.quality, 75);
  EXPECT_EQ(image.info.alphaMax, 255);
  EXPECT_EQ(image.info.transparentIndex, -1);
  EXPECT_EQ(image.info.flag1, 0);
  EXPECT_EQ(image.info.flag2, 1);
  EXPECT_EQ(image.info.xDpi, 72);
  EXPECT_EQ(image.header.xPelsPerMeter, 2835);
  EXPECT_EQ(image.header.yPelsPerMeter, 2835);
  EXPECT_EQ(image.palette(), nullptr);
  image.setYDpi(96);
  EXPECT_EQ(image.header.yPelsPerMeter, 3780);
}

TEST(ImageLayout, BlocksOverTheBoundAreRefusedLikeAllocationFailure) {
  Image image(16, 16, 8, FormatBmp);
  ASSERT_TRUE(image.alphaCreate());
  // 24 bits: 16384 × 4096 × 3 is 192 MiB plus the header, inside the bound.
  // 16384 × 5462 × 3 exceeds 256 MiB.
  EXPECT_EQ(image.create(16384, 5462, 24, FormatBmp), nullptr);
  EXPECT_FALSE(image.isValid());
  EXPECT_EQ(image.pixels, nullptr);
  EXPECT_EQ(image.alpha, nullptr);
  EXPECT_EQ(image.width(), 0);
  EXPECT_EQ(image.height(), 0);
  EXPECT_EQ(image.create(0x7FFFFFFF, 0x7FFFFFFF, 24, FormatBmp), nullptr);
  EXPECT_EQ(image.create(0x7FFFFFFF, 1, 24, FormatBmp), nullptr);
  EXPECT_EQ(image.create(-1, 5, 8, FormatBmp), nullptr);
  EXPECT_FALSE(image.isValid());
  // Exactly at the bound is fine: 40 + 1024 + rows.
  const int32_t height = int32_t((MaxImageBlockBytes - 40 - 1024) / 4096);
  ASSERT_NE(image.create(4096, height, 8, FormatBmp), nullptr);
  EXPECT_LE(image.blockSize(), MaxImageBlockBytes);
}

TEST(ImageLayout, RowBytesForReportsUnrepresentableSizes) {
  EXPECT_EQ(rowBytesFor(10, 8), 12u);
  EXPECT_EQ(rowBytesFor(-1, 8), 0u);
  EXPECT_EQ(rowBytesFor(0x7FFFFFFF, 24), 0u);
}

// --- Palettes -----------------------------------------------------------------------------------

TEST(ImagePalette, StandardSixteenColours) {
  Image image(2, 2, 4, FormatBmp);
  image.setStandardPalette();
  const uint32_t expected[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                 0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
  for (uint32_t i = 0; i < 16; ++i) {
    EXPECT_EQ(rgbOf(image.getPaletteColor(i)), expected[i]) << i;
    EXPECT_EQ(image.getPaletteColor(i).reserved, 0);
  }
  EXPECT_EQ(image.nearestIndex(colour(0xFFFFFF)), 15);
  EXPECT_EQ(image.nearestIndex(colour(0xC0C0C0)), 7);
}

TEST(ImagePalette, StandardTwoHundredFiftySixColoursSpotChecks) {
  Image image(2, 2, 8, FormatBmp);
  image.setStandardPalette();
  const std::pair<uint32_t, uint32_t> checks[] = {
      {0, 0x000000},   {7, 0xC0C0C0},   {8, 0xC0DCC0},   {9, 0xA6CAF0},   {10, 0xFFF0D4},
      {16, 0xFFAA00},  {21, 0x503200},  {22, 0xFFE3D4},  {33, 0x501900},  {40, 0xFE0000},
      {44, 0x730000},  {57, 0x500019},  {69, 0x500032},  {76, 0xFE00FE},  {82, 0xF0D4FF},
      {93, 0x320050},  {100, 0x5500FF}, {112, 0x0000FE}, {117, 0x000050}, {124, 0x0055FF},
      {135, 0x25AAFF}, {148, 0x00FEFE}, {160, 0x00FFAA}, {171, 0x25FF57}, {184, 0x00FE00},
      {190, 0xE3FFD4}, {207, 0xAAFF25}, {213, 0x325000}, {214, 0xFFFFD4}, {220, 0xFEFE00},
      {225, 0x505000}, {226, 0xF2F2F2}, {236, 0x7A7A7A}, {245, 0x0E0E0E}, {246, 0xFFFBF0},
      {247, 0xA0A0A4}, {248, 0x808080}, {249, 0xFF0000}, {250, 0x00FF00}, {251, 0xFFFF00},
      {252, 0x0000FF}, {253, 0xFF00FF}, {254, 0x00FFFF}, {255, 0xFFFFFF}};
  for (auto [index, rgb] : checks) EXPECT_EQ(rgbOf(image.getPaletteColor(index)), rgb) << index;
  for (uint32_t i = 226; i <= 245; ++i) {
    const uint32_t grey = 0xF2 - (i - 226) * 0x0C;
    EXPECT_EQ(rgbOf(image.getPaletteColor(i)), grey * 0x010101) << i;
  }
  for (uint32_t i = 0; i < 256; ++i) EXPECT_EQ(StandardPalette256[i].reserved, 0);
  EXPECT_EQ(image.nearestIndex(colour(0xFFFFFF)), 255);
  EXPECT_EQ(image.nearestIndex(colour(0x808080)), 248);
  EXPECT_EQ(image.nearestIndex(colour(0xFF0000)), 249);
}

TEST(ImagePalette, NearestIndexPrefersTheLowerIndexOnTies) {
  Image image(1, 1, 4, FormatBmp);
  image.setPaletteColor(3, 10, 20, 30);
  image.setPaletteColor(9, 10, 20, 30);
  EXPECT_EQ(image.nearestIndex(colour(0x0A141E)), 3);
  // Equal distances from two different entries: the lower wins.
  image.setPaletteColor(0, 255, 255, 255);
  for (uint32_t i = 1; i < 16; ++i) image.setPaletteColor(i, 255, 255, 255);
  image.setPaletteColor(5, 100, 0, 0);
  image.setPaletteColor(6, 0, 100, 0);
  EXPECT_EQ(image.nearestIndex(colour(0x323200)), 5);
  Image empty;
  EXPECT_EQ(empty.nearestIndex(colour(0x123456)), 0);
  Image truecolour(1, 1, 24, FormatBmp);
  EXPECT_EQ(truecolour.nearestIndex(colour(0x123456)), 0);
}

TEST(ImagePalette, AccessorsTakeAnEightBitIndexAndStayInRange) {
  Image image(1, 1, 8, FormatBmp);
  image.setPaletteColor(300, 1, 2, 3, 4);
  const RgbQuad e = image.getPaletteColor(44);
  EXPECT_EQ(e.red, 1);
  EXPECT_EQ(e.green, 2);
  EXPECT_EQ(e.blue, 3);
  EXPECT_EQ(e.reserved, 4);
  EXPECT_EQ(rgbOf(image.getPaletteColor(300)), 0x010203u);

  Image mono(1, 1, 1, FormatBmp);
  mono.setPaletteColor(2, 9, 9, 9);
  EXPECT_EQ(rgbOf(mono.getPaletteColor(2)), 0u);
  EXPECT_EQ(mono.palette()[1].red, 0);

  const uint8_t red[4] = {1, 2, 3, 4};
  const uint8_t green[4] = {5, 6, 7, 8};
  mono.setPaletteColor(1, 0, 0, 0, 77);
  mono.setPaletteRGB(4, red, green, nullptr);
  EXPECT_EQ(rgbOf(mono.getPaletteColor(0)), 0x010505u);
  EXPECT_EQ(rgbOf(mono.getPaletteColor(1)), 0x020606u);
  EXPECT_EQ(mono.getPaletteColor(1).reserved, 77);
  mono.setPaletteRGB(2, red, nullptr, nullptr);
  EXPECT_EQ(rgbOf(mono.getPaletteColor(1)), 0x020202u);

  Image four(1, 1, 4, FormatBmp);
  four.setPalette(StandardPalette256, 256);  // cut to 16 entries
  EXPECT_EQ(rgbOf(four.getPaletteColor(15)), 0xFFAA25u);
}

// --- Pixels -------------------------------------------------------------------------------------

TEST(ImagePixels, PackingOfOneAndFourBitRows) {
  Image mono(10, 2, 1, FormatBmp);
  mono.setPixelIndex(0, 1, 1);
  mono.setPixelIndex(9, 1, 3);
  EXPECT_EQ(mono.pixelRow(1)[0], 0x80);
  EXPECT_EQ(mono.pixelRow(1)[1], 0x40);
  EXPECT_EQ(mono.getPixelIndex(9, 1), 1);
  mono.setPixelIndex(0, 1, 0);
  EXPECT_EQ(mono.pixelRow(1)[0], 0x00);

  Image four(3, 1, 4, FormatBmp);
  four.setPixelIndex(0, 0, 0x1A);
  four.setPixelIndex(1, 0, 0x0B);
  four.setPixelIndex(2, 0, 0x0C);
  EXPECT_EQ(four.pixelRow(0)[0], 0xAB);
  EXPECT_EQ(four.pixelRow(0)[1], 0xC0);
  EXPECT_EQ(four.getPixelIndex(1, 0), 0x0B);
}

TEST(ImagePixels, OutsideReadsAndWrites) {
  Image image(4, 4, 8, FormatBmp);
  image.setStandardPalette();
  image.info.backgroundColor = colour(0x123456);
  EXPECT_EQ(image.getPixelIndex(-1, 0), 0);
  EXPECT_EQ(rgbOf(image.getPixelColor(4, 0)), 0x123456u);
  image.info.transparentIndex = 5;
  EXPECT_EQ(image.getPixelIndex(-1, 0), 5);
  EXPECT_EQ(rgbOf(image.getPixelColor(0, 4)), 0x800080u);
  image.setPixelIndex(4, 0, 9);
  image.setPixelColor(-1, 0, colour(0xFFFFFF));
  for (std::size_t i = 0; i < image.header.sizeImage; ++i) EXPECT_EQ(image.pixels[i], 0);

  Image truecolour(2, 2, 24, FormatBmp);
  truecolour.info.transparentIndex = 5;
  truecolour.info.backgroundColor = colour(0xABCDEF);
  truecolour.info.backgroundColor.reserved = 9;
  EXPECT_EQ(rgbOf(truecolour.getPixelColor(2, 2)), 0xABCDEFu);
  EXPECT_EQ(truecolour.getPixelIndex(0, 0), 0);
  truecolour.setPixelRGB(1, 0, 0x332211);  // COLORREF: red low
  EXPECT_EQ(truecolour.pixelRow(0)[3], 0x33);
  EXPECT_EQ(truecolour.pixelRow(0)[4], 0x22);
  EXPECT_EQ(truecolour.pixelRow(0)[5], 0x11);
  const RgbQuad c = truecolour.getPixelColor(1, 0);
  EXPECT_EQ(rgbOf(c), 0x112233u);
  EXPECT_EQ(c.reserved, 9);
}

TEST(ImagePixels, SetPixelColorOnAPaletteImagePicksTheNearestEntry) {
  Image image(2, 1, 8, FormatBmp);
  image.setStandardPalette();
  image.setPixelColor(0, 0, colour(0xFE0101));
  image.setPixelColor(1, 0, colour(0x7F7F80));
  EXPECT_EQ(image.getPixelIndex(0, 0), 40);
  EXPECT_EQ(image.getPixelIndex(1, 0), 248);
}

// --- Copy, transfer, share ----------------------------------------------------------------------

TEST(ImageOwnership, CopyDuplicatesBlockInfoAndPlanes) {
  Image source(3, 2, 8, FormatGif);
  source.setStandardPalette();
  source.setPixelIndex(2, 1, 77);
  source.info.transparentIndex = 4;
  source.info.frameDelay = 20;
  source.setLastError(ImageError::Damaged, "boom");
  source.setXDpi(96);
  ASSERT_TRUE(source.alphaCreate());
  source.alphaSet(1, 1, 200);

  Image copy;
  ASSERT_TRUE(copy.copy(source));
  ASSERT_NE(copy.bitmapBlock, source.bitmapBlock);
  EXPECT_EQ(0, std::memcmp(copy.bitmapBlock, source.bitmapBlock, source.blockSize()));
  EXPECT_EQ(copy.info.transparentIndex, 4);
  EXPECT_EQ(copy.info.frameDelay, 20u);
  EXPECT_STREQ(copy.lastError(), "boom");
  EXPECT_EQ(copy.header.xPelsPerMeter, 3780);
  ASSERT_NE(copy.alpha, nullptr);
  EXPECT_NE(copy.alpha, source.alpha);
  EXPECT_EQ(copy.alphaGet(1, 1), 200);

  Image paletteOnly;
  ASSERT_TRUE(paletteOnly.copy(source, false, false, false));
  EXPECT_EQ(paletteOnly.getPixelIndex(2, 1), 0);
  EXPECT_EQ(rgbOf(paletteOnly.getPaletteColor(255)), 0xFFFFFFu);
  EXPECT_EQ(paletteOnly.alpha, nullptr);
}

TEST(ImageOwnership, CopyInfoOnlyWhileEmpty) {
  Image source(1, 1, 8, FormatGif);
  source.info.frameDelay = 33;
  Image empty;
  empty.copyInfo(source);
  EXPECT_EQ(empty.info.frameDelay, 33u);
  Image full(1, 1, 8, FormatBmp);
  full.copyInfo(source);
  EXPECT_EQ(full.info.frameDelay, 0u);
}

TEST(ImageOwnership, TransferMovesEverythingAndEmptiesTheSource) {
  Image source(4, 4, 24, FormatGif);
  source.info.frameDelay = 7;
  ASSERT_TRUE(source.alphaCreate());
  uint8_t* block = source.bitmapBlock;
  uint8_t* plane = source.alpha;

  Image target(8, 8, 8, FormatBmp);
  target.transfer(source);
  EXPECT_EQ(target.bitmapBlock, block);
  EXPECT_EQ(target.alpha, plane);
  EXPECT_EQ(target.width(), 4);
  EXPECT_EQ(target.info.frameDelay, 7u);
  EXPECT_EQ(target.info.colorType, 4);
  EXPECT_FALSE(source.isValid());
  EXPECT_EQ(source.alpha, nullptr);
  EXPECT_EQ(source.header.width, 0);
  EXPECT_EQ(source.info.frameDelay, 0u);
  EXPECT_EQ(source.info.transparentIndex, 0);
}

TEST(ImageOwnership, SharedCopyFreesNothing) {
  Image source(4, 4, 8, FormatBmp);
  source.setPixelIndex(1, 1, 9);
  {
    Image shared;
    shared.shareFrom(&source);
    EXPECT_EQ(shared.bitmapBlock, source.bitmapBlock);
    EXPECT_EQ(shared.sharedFrom, &source);
    EXPECT_EQ(shared.getPixelIndex(1, 1), 9);
    shared.destroy();
  }
  ASSERT_TRUE(source.isValid());
  EXPECT_EQ(source.getPixelIndex(1, 1), 9);
}

// --- Overlay ------------------------------------------------------------------------------------

TEST(ImageOverlay, WithoutTransparencyEveryIndexIsCopied) {
  Image frame(3, 2, 8, FormatGif);
  Image source(3, 2, 8, FormatGif);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 3; ++x) source.setPixelIndex(x, y, uint8_t(250 + x + 3 * y));
  frame.overlay(source, 0, 0);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(frame.getPixelIndex(x, y), 250 + x + 3 * y);
}

TEST(ImageOverlay, TransparentIndicesLeaveTheTargetAndOffsetsShiftTheSource) {
  Image frame(3, 3, 8, FormatGif);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 3; ++x) frame.setPixelIndex(x, y, 1);
  Image source(4, 4, 8, FormatGif);
  source.info.transparentIndex = 7;
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x) source.setPixelIndex(x, y, uint8_t(10 * y + x));
  source.setPixelIndex(2, 1, 7);
  frame.overlay(source, 1, 1);
  // Rows min(3, 4-1) = 3, columns 3: frame (j, i) <- source (1 + j, 1 + i).
  EXPECT_EQ(frame.getPixelIndex(0, 0), 11);
  EXPECT_EQ(frame.getPixelIndex(1, 0), 1);  // transparent, target kept
  EXPECT_EQ(frame.getPixelIndex(2, 0), 13);
  EXPECT_EQ(frame.getPixelIndex(2, 2), 33);

  // Offsets past the source: everything reads as transparent, nothing changes.
  Image untouched(2, 2, 8, FormatGif);
  untouched.setPixelIndex(0, 0, 3);
  untouched.overlay(source, 10, 10);
  EXPECT_EQ(untouched.getPixelIndex(0, 0), 3);
  EXPECT_EQ(untouched.getPixelIndex(1, 1), 0);
}

// --- Planes -------------------------------------------------------------------------------------

TEST(ImagePlanes, AlphaAndSelection) {
  Image image(3, 2, 24, FormatBmp);
  EXPECT_EQ(image.alphaGet(0, 0), 0);
  ASSERT_TRUE(image.alphaCreate());
  EXPECT_EQ(image.info.colorType, 4);
  image.alphaSet(2, 1, 99);
  image.alphaSet(3, 1, 50);
  EXPECT_EQ(image.alpha[5], 99);
  EXPECT_EQ(image.alphaGet(3, 1), 0);
  image.info.alphaMax = 128;

  Image other(3, 2, 24, FormatBmp);
  ASSERT_TRUE(other.alphaCopy(image));
  EXPECT_EQ(other.alphaGet(2, 1), 99);
  EXPECT_EQ(other.info.alphaMax, 128);
  Image narrow(2, 2, 24, FormatBmp);
  EXPECT_FALSE(narrow.alphaCopy(image));

  image.alphaDelete();
  EXPECT_EQ(image.alpha, nullptr);
  EXPECT_EQ(image.info.colorType, 2);

  image.selectionClear();
  EXPECT_EQ(image.info.selectionBox[0], 3);
  EXPECT_EQ(image.info.selectionBox[3], 2);
  EXPECT_FALSE(other.selectionCopy(image));

  // create drops the planes of the old picture.
  ASSERT_NE(other.create(5, 5, 8, FormatBmp), nullptr);
  EXPECT_EQ(other.alpha, nullptr);
}

// --- Bit fields ---------------------------------------------------------------------------------

TEST(ImageBitFields, FiveFiveFiveExpandsEachChannelTimesEight) {
  Image image(3, 2, 24, FormatBmp);
  // Source rows of (3 + 1) / 2 × 4 = 8 bytes; 0x7FFF = white, 0x7C00 red, 0x001F blue,
  // 0x0421 = 1 in every channel.
  const uint16_t values[2][4] = {{0x7FFF, 0x7C00, 0x001F, 0}, {0x0421, 0x03E0, 0x0000, 0}};
  std::vector<uint8_t> data;
  for (auto& row : values)
    for (uint16_t v : row) {
      data.push_back(uint8_t(v));
      data.push_back(uint8_t(v >> 8));
    }
  image.expandBitFields(data.data(), 0x7C00, 0x03E0, 0x001F, 16);
  EXPECT_EQ(rgbOf(image.getPixelColor(0, 0)), 0xF8F8F8u);
  EXPECT_EQ(rgbOf(image.getPixelColor(1, 0)), 0xF80000u);
  EXPECT_EQ(rgbOf(image.getPixelColor(2, 0)), 0x0000F8u);
  EXPECT_EQ(rgbOf(image.getPixelColor(0, 1)), 0x080808u);
  EXPECT_EQ(rgbOf(image.getPixelColor(1, 1)), 0x00F800u);
}

TEST(ImageBitFields, FiveSixFiveAndInPlaceSixteenBitData) {
  Image image(2, 2, 24, FormatBmp);
  // Row stride 4 in the 16-bit data, 8 in the image: data placed in the image's own pixels.
  const uint16_t values[4] = {0xFFFF, 0xF800, 0x07E0, 0x0841};
  for (int i = 0; i < 4; ++i) {
    image.pixels[2 * i] = uint8_t(values[i]);
    image.pixels[2 * i + 1] = uint8_t(values[i] >> 8);
  }
  image.expandBitFields(image.pixels, 0xF800, 0x07E0, 0x001F, 16);
  EXPECT_EQ(rgbOf(image.getPixelColor(0, 0)), 0xF8FCF8u);
  EXPECT_EQ(rgbOf(image.getPixelColor(1, 0)), 0xF80000u);
  EXPECT_EQ(rgbOf(image.getPixelColor(0, 1)), 0x00FC00u);
  EXPECT_EQ(rgbOf(image.getPixelColor(1, 1)), 0x080808u);
}

TEST(ImageBitFields, ThirtyTwoBitTakesTheFirstThreeBytes) {
  Image image(2, 1, 24, FormatBmp);
  const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  image.expandBitFields(data, 0, 0, 0, 32);
  EXPECT_EQ(rgbOf(image.getPixelColor(0, 0)), 0x030201u);
  EXPECT_EQ(rgbOf(image.getPixelColor(1, 0)), 0x070605u);
  // Odd masks must not shift out of range.
  image.expandBitFields(data, 0xFFFFFFFF, 0, 0x1, 16);
  image.expandBitFields(data, 0, 0, 0, 24);
}

TEST(ImageErrors, LastErrorIsCutTo255Characters) {
  Image image;
  EXPECT_STREQ(image.lastError(), "");
  image.setLastError(ImageError::NotThisFormat, "Not a BMP");
  EXPECT_STREQ(image.lastError(), "Not a BMP");
  EXPECT_EQ(image.lastErrorKind(), ImageError::NotThisFormat);
  const std::string longText(400, 'x');
  image.setLastError(ImageError::Damaged, longText.c_str());
  EXPECT_EQ(std::strlen(image.lastError()), 255u);
}

}  // namespace
}  // namespace skm
