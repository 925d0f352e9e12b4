#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "bmp_test_support.h"
#include "codecs/BmpCodec.h"

namespace skm {
namespace {

using test::Bytes;
using test::decodeBytes;
using test::encodeImage;
using Row = std::vector<uint8_t>;

Row storedRow(const Image& image, int32_t y, std::size_t bytes) {
  return Row(image.pixelRow(y), image.pixelRow(y) + bytes);
}

void expectColour(const RgbQuad& c, uint8_t blue, uint8_t green, uint8_t red) {
  EXPECT_EQ(c.blue, blue);
  EXPECT_EQ(c.green, green);
  EXPECT_EQ(c.red, red);
}

// ---- Writing ----

TEST(BmpEncode, OneBitEightByTwoIsSeventyBytesWithOffsetSixtyTwo) {
  Image image(8, 2, 1, FormatBmp);
  image.setPaletteColor(1, 255, 255, 255);
  for (int32_t x = 0; x < 8; ++x) {
    image.setPixelIndex(x, 0, x % 2 == 0 ? 1 : 0);
    image.setPixelIndex(x, 1, x < 4 ? 1 : 0);
  }
  const std::vector<uint8_t> expected = {
      'B',  'M', 70, 0, 0,    0,   0,   0, 0,    0,    62, 0, 0,    0,  // file header
      40,   0,   0,  0, 8,    0,   0,   0, 2,    0,    0,  0, 1,    0,
      1,    0,  // size, width, height, planes, bits
      0,    0,   0,  0, 8,    0,   0,   0, 0x13, 0x0B, 0,  0, 0x13, 0x0B,
      0,    0,                               // compression, image size, ppm
      2,    0,   0,  0, 0,    0,   0,   0,   // colours used, important
      0,    0,   0,  0, 255,  255, 255, 0,   // palette
      0xAA, 0,   0,  0, 0xF0, 0,   0,   0};  // rows, bottom first
  EXPECT_EQ(encodeImage(image), expected);
}

TEST(BmpEncode, TwentyFourBitSixteenSquareHasExactHeaderAndRows) {
  Image image(16, 16, 24, FormatBmp);
  for (int32_t y = 0; y < 16; ++y) {
    for (int32_t x = 0; x < 16; ++x) image.setPixelRGB(x, y, uint32_t(x * 16 + (y << 8) + 0x50000));
  }
  const std::vector<uint8_t> bytes = encodeImage(image);
  ASSERT_EQ(bytes.size(), 822u);
  const std::vector<uint8_t> header = {
      'B',  'M',  0x36, 0x03, 0,    0,    0, 0, 0,  0, 0x36, 0, 0, 0,  // 822 bytes, offset 54
      40,   0,    0,    0,    16,   0,    0, 0, 16, 0, 0,    0, 1, 0, 24, 0,  //
      0,    0,    0,    0,    0x00, 0x03, 0, 0,  // no compression, 768 bytes
      0x13, 0x0B, 0,    0,    0x13, 0x0B, 0, 0, 0,  0, 0,    0, 0, 0, 0,  0};
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 54), header);
  EXPECT_EQ(0, std::memcmp(bytes.data() + 54, image.pixels, 768));
  EXPECT_EQ(bytes[54 + 3 * 5], 0x05);      // blue of (5, 0)
  EXPECT_EQ(bytes[54 + 3 * 5 + 2], 0x50);  // red of (5, 0)
}

TEST(BmpEncode, EightBitSixteenSquareIs1334BytesWithOffset1078) {
  Image image(16, 16, 8, FormatBmp);
  image.setStandardPalette();
  for (int32_t y = 0; y < 16; ++y) {
    for (int32_t x = 0; x < 16; ++x) image.setPixelIndex(x, y, uint8_t(y * 16 + x));
  }
  const std::vector<uint8_t> bytes = encodeImage(image);
  ASSERT_EQ(bytes.size(), 1334u);
  EXPECT_EQ(bytes[2] | bytes[3] << 8, 1334);
  EXPECT_EQ(bytes[10] | bytes[11] << 8, 1078);
  EXPECT_EQ(bytes[14 + 20] | bytes[14 + 21] << 8, 256);  // image size
  EXPECT_EQ(bytes[14 + 32] | bytes[14 + 33] << 8, 256);  // colours used
  EXPECT_EQ(0, std::memcmp(bytes.data() + 54, image.palette(), 1024));
  EXPECT_EQ(bytes[1078 + 17], 17);
}

TEST(BmpEncode, MissingStreamOrEmptyImageWritesNothing) {
  BmpCodec codec;
  EXPECT_FALSE(codec.encode(nullptr));
  EXPECT_STREQ(codec.lastError(), "");
  test::OutStream out;
  EXPECT_FALSE(codec.encode(&out.stream));
  EXPECT_EQ(out.stream.size, 0);
  EXPECT_STREQ(codec.lastError(), "");
}

TEST(BmpEncode, RoundTripKeepsSizeDepthPalettePixelsAndResolution) {
  for (uint32_t bits : {1u, 4u, 8u, 24u}) {
    SCOPED_TRACE(bits);
    Image image(13, 7, bits, FormatBmp);
    image.setXDpi(96);
    image.setYDpi(150);
    for (uint32_t i = 0; i < image.paletteEntries(); ++i) {
      image.setPaletteColor(i, uint8_t(i * 7), uint8_t(255 - i), uint8_t(i * 3));
    }
    for (int32_t y = 0; y < 7; ++y) {
      for (int32_t x = 0; x < 13; ++x) {
        if (bits == 24) {
          image.setPixelRGB(x, y, uint32_t(x * 19 + y * 0x1300 + (x * y) * 0x10000));
        } else {
          image.setPixelIndex(x, y, uint8_t(x * 3 + y * 5));
        }
      }
    }
    BmpCodec decoded;
    ASSERT_TRUE(decodeBytes(decoded, encodeImage(image)));
    EXPECT_EQ(decoded.width(), 13);
    EXPECT_EQ(decoded.height(), 7);
    EXPECT_EQ(decoded.bitCount(), bits);
    EXPECT_EQ(decoded.info.xDpi, 96);
    EXPECT_EQ(decoded.info.yDpi, 150);
    ASSERT_EQ(decoded.blockSize(), image.blockSize());
    EXPECT_EQ(0, std::memcmp(decoded.bitmapBlock, image.bitmapBlock, image.blockSize()));
  }
}

// ---- Reading: headers ----

TEST(BmpDecode, ShortOrMissingInputIsNotABmp) {
  BmpCodec codec;
  EXPECT_FALSE(codec.decode(nullptr));
  EXPECT_STREQ(codec.lastError(), "");
  EXPECT_FALSE(decodeBytes(codec, {'B', 'M', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
  EXPECT_STREQ(codec.lastError(), "Not a BMP");
  BmpCodec empty;
  EXPECT_FALSE(decodeBytes(empty, {}));
  EXPECT_STREQ(empty.lastError(), "Not a BMP");
}

TEST(BmpDecode, ShortInformationHeaderIsAnInfoError) {
  Bytes file;
  file.fileHeader(60, 54).infoHeader(2, 2, 8, 0);
  file.data.resize(14 + 39);
  BmpCodec codec;
  EXPECT_FALSE(decodeBytes(codec, file.data));
  EXPECT_STREQ(codec.lastError(), "Error reading BMP info");
}

TEST(BmpDecode, DataWithoutFileHeaderStartsWithInformationHeader) {
  Bytes file;
  file.infoHeader(2, 2, 8, 0).rampPalette(256).list({1, 2, 0, 0, 3, 4, 0, 0});
  BmpCodec codec;
  ASSERT_TRUE(decodeBytes(codec, file.data));
  EXPECT_EQ(codec.width(), 2);
  EXPECT_EQ(codec.bitCount(), 8);
  expectColour(codec.palette()[5], 5, 10, 15);
  EXPECT_EQ(storedRow(codec, 0, 2), (Row{1, 2}));
  EXPECT_EQ(storedRow(codec, 1, 2), (Row{3, 4}));
}

TEST(BmpDecode, ColoursUsedSixteenStillReadsWholePaletteAndFindsPixelsByOffset) {
  Bytes file;
  file.fileHeader(14 + 40 + 64 + 8, 14 + 40 + 64).infoHeader(2, 2, 8, 0, 16).rampPalette(16);
  file.list({1, 2, 0, 0, 3, 4, 0, 0});
  BmpCodec codec;
  ASSERT_TRUE(decodeBytes(codec, file.data));
  expectColour(codec.palette()[15], 15, 30, 45);
  // The 256-entry read runs on into the rows.
  expectColour(codec.palette()[16], 1, 2, 0);
  expectColour(codec.palette()[17], 3, 4, 0);
  EXPECT_EQ(storedRow(codec, 0, 2), (Row{1, 2}));
  EXPECT_EQ(storedRow(codec, 1, 2), (Row{3, 4}));
  EXPECT_EQ(codec.header.clrUsed, 256u);
}

TEST(BmpDecode, CoreHeaderWithThreeBytePaletteEntries) {
  Bytes file;
  file.fileHeader(0, 14 + 12 + 768).u32(12).u16(3).u16(2).u16(1).u16(8);
  for (uint32_t i = 0; i < 256; ++i) file.list({i, 255 - i, i / 2});
  file.list({7, 8, 9, 0, 200, 201, 202, 0});
  BmpCodec codec;
  ASSERT_TRUE(decodeBytes(codec, file.data));
  EXPECT_EQ(codec.width(), 3);
  EXPECT_EQ(codec.height(), 2);
  EXPECT_EQ(codec.bitCount(), 8);
  expectColour(codec.palette()[200], 200, 55, 100);
  EXPECT_EQ(codec.palette()[200].reserved, 0);
  EXPECT_EQ(storedRow(codec, 1, 3), (Row{200, 201, 202}));
  EXPECT_EQ(codec.info.xDpi, 0);
}

TEST(BmpDecode, TinyCoreFileShorterThanAnInformationHeader) {
  Bytes file;
  file.fileHeader(36, 32).u32(12).u16(1).u16(1).u16(1).u16(1);
  file.list({0, 0, 0, 255, 255, 255, 0x80, 0, 0, 0});
  ASSERT_EQ(file.size(), 36u);
  BmpCodec codec;
  ASSERT_TRUE(decodeBytes(codec, file.data));
  EXPECT_EQ(codec.getPixelIndex(0, 0), 1);
  expectColour(codec.palette()[1], 255, 255, 255);
}

TEST(BmpDecode, LongerHeaderPutsPaletteAfterTheWholeHeader) {
  Bytes file;
  file.fileHeader(0, 14 + 124 + 1024).infoHeader(2, 1, 8, 0, 256, 3780, 124).rampPalette(256);
  file.list({1, 2, 0, 0});
  BmpCodec codec;
  ASSERT_TRUE(decodeBytes(codec, file.data));
  expectColour(codec.palette()[1], 1, 2, 3);
  expectColour(codec.palette()[255], 255, 254, 253);
  EXPECT_EQ(storedRow(codec, 0, 2), (Row{1, 2}));
  EXPECT_EQ(codec.info.xDpi, 96);
  EXPECT_EQ(codec.header.size, 40u);
}

TEST(BmpDecode, PositionsAreRelativeToWhereTheStreamStood) {
  Bytes file;
  file.list({'J', 'U', 'N', 'K'});
  file.fileHeader(0, 14 + 40 + 8 + 3).infoHeader(1, 1, 1, 0).list({0, 0, 0, 0, 9, 9, 9, 0});
  file.list({0xEE, 0xEE, 0xEE, 0x80, 0, 0, 0});
  ByteStream in;
  in.attachMemory(file.data.data(), int32_t(file.size()));
  ASSERT_EQ(in.seek(4, 0), 0);
  BmpCodec codec;
  ASSERT_TRUE(codec.decode(&in));
  EXPECT_EQ(codec.getPixelIndex(0, 0), 1);
}

TEST(BmpDecode, ResolutionFromPixelsPerMetre) {
  for (auto [ppm, dpi] : {std::pair{0, 0}, {2835, 72}, {3780, 96}}) {
    Bytes file;
    file.fileHeader(0, 0).infoHeader(1, 1, 24, 0, 0, ppm).zeros(4);
    BmpCodec codec;
    ASSERT_TRUE(decodeBytes(codec, file.data));
    EXPECT_EQ(codec.info.xDpi, dpi);
    EXPECT_EQ(codec.info.yDpi, dpi);
    EXPECT_EQ(codec.header.xPelsPerMeter, ppm);
  }
}

TEST(BmpDecode, HostileSizesAreRefusedBeforeAllocation) {
  for (auto [w, h] : {std::pair{100000, 100000}, {-5, 2}, {2, INT_MIN}, {INT_MAX, 2}}) {
    SCOPED_TRACE(w);
    Bytes file;
    file.fileHeader(0, 0).infoHeader(w, h, 24, 0);
    BmpCodec codec;
    EXPECT_FALSE(decodeBytes(codec, file.data));
    EXPECT_STREQ(codec.lastError(), "Can't allocate memory");
    EXPECT_FALSE(codec.isValid());
  }
}

TEST(BmpDecode, CompressionChecksByDepth) {
  struct Case {
    uint32_t bits, compression;
    const char* message;
  };
  for (const Case& c :
       {Case{24, 1, "unknown compression"}, Case{8, 3, "compression type not supported"},
        Case{4, 4, "compression type not supported"}, Case{32, 0, "unknown compression"},
        Case{32, 1, "unknown compression"}}) {
    SCOPED_TRACE(c.message);
    Bytes file;
    file.fileHeader(0, 0).infoHeader(2, 2, c.bits, c.compression).zeros(2048);
    BmpCodec codec;
    EXPECT_FALSE(decodeBytes(codec, file.data));
    EXPECT_STREQ(codec.lastError(), c.message);
  }
}

// ---- Reading: pixel formats ----

TEST(BmpDecode, TruncatedRowsDecodeWithTheMissingPixelsZero) {
  Bytes file;
  file.fileHeader(0, 14 + 40 + 1024).infoHeader(4, 2, 8, 0).rampPalette(256).list({1, 2, 3, 4, 5});
  BmpCodec codec;
  ASSERT_TRUE(decodeBytes(codec, file.data));
  EXPECT_EQ(storedRow(codec, 0, 4), (Row{1, 2, 3, 4}));
  EXPECT_EQ(storedRow(codec, 1, 4), (Row{5, 0, 0, 0}));
}

TEST(BmpDecode, SixteenBitFiveFiveFiveByDefault) {
  Bytes file;
  file.fileHeader(0, 54).infoHeader(2, 1, 16, 0).u16(0x7FFF).u16(0x0421);
  BmpCodec codec;
  ASSERT_TRUE(decodeBytes(codec, file.data));
  EXPECT_EQ(codec.bitCount(), 24);
  EXPECT_EQ(storedRow(codec, 0, 8), (Row{0xF8, 0xF8, 0xF8, 8, 8, 8, 0, 0}));
}

TEST(BmpDecode, SixteenBitBitFieldsUseTheFileMasks) {
  Bytes file;
  file.fileHeader(0, 66).infoHeader(4, 1, 16, 3).u32(0xF800).u32(0x07E0).u32(0x001F);
  file.u16(0xFFFF).u16(0xF800).u16(0x07E0).u16(0x001F);
  BmpCodec codec;
  ASSERT_TRUE(decodeBytes(codec, file.data));
  EXPECT_EQ(storedRow(codec, 0, 12), (Row{0xF8, 0xFC, 0xF8, 0, 0, 0xF8, 0, 0xFC, 0, 0xF8, 0, 0}));

  Bytes fourBits;
  fourBits.fileHeader(0, 66).infoHeader(2, 1, 16, 3).u32(0x0F00).u32(0x00F0).u32(0x000F);
  fourBits.u16(0x0123).u16(0x0F00);
  BmpCodec other;
  ASSERT_TRUE(decodeBytes(other, fourBits.data));
  EXPECT_EQ(storedRow(other, 0, 8), (Row{0x30, 0x20, 0x10, 0, 0, 0xF0, 0, 0}));
}

TEST(BmpDecode, SixteenBitMasksInsideALongerHeader) {
  Bytes file;
  file.fileHeader(0, 14 + 108).infoHeader(1, 1, 16, 3, 0, 2835, 108);
  file.data[14 + 40] = 0x00;  // red 0xF800
  file.data[14 + 41] = 0xF8;
  file.data[14 + 44] = 0xE0;  // green 0x07E0
  file.data[14 + 45] = 0x07;
  file.data[14 + 48] = 0x1F;  // blue 0x001F
  file.u16(0x07E0).u16(0);
  BmpCodec codec;
  ASSERT_TRUE(decodeBytes(codec, file.data));
  EXPECT_EQ(storedRow(codec, 0, 4), (Row{0, 0xFC, 0, 0}));
}

TEST(BmpDecode, ThirtyTwoBitBitFields) {
  Bytes file;
  file.fileHeader(0, 66).infoHeader(2, 1, 32, 3).u32(0xFF0000).u32(0xFF00).u32(0xFF);
  file.list({0x10, 0x20, 0x30, 0xFF, 0x40, 0x50, 0x60, 0x00});
  BmpCodec codec;
  ASSERT_TRUE(decodeBytes(codec, file.data));
  EXPECT_EQ(codec.bitCount(), 24);
  EXPECT_EQ(storedRow(codec, 0, 8), (Row{0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0, 0}));

  Bytes rgba;
  rgba.fileHeader(0, 66).infoHeader(1, 1, 32, 3).u32(0xFF000000).u32(0xFF0000).u32(0xFF00);
  rgba.list({0xFF, 0x30, 0x20, 0x10});
  BmpCodec other;
  ASSERT_TRUE(decodeBytes(other, rgba.data));
  EXPECT_EQ(storedRow(other, 0, 3), (Row{0x30, 0x20, 0x10}));
}

TEST(BmpDecode, TopDownRowsAreStoredBottomUp) {
  Bytes file;
  file.fileHeader(0, 14 + 40 + 1024).infoHeader(3, -2, 8, 0).rampPalette(256);
  file.list({1, 2, 3, 0, 4, 5, 6, 0});
  BmpCodec codec;
  ASSERT_TRUE(decodeBytes(codec, file.data));
  EXPECT_EQ(codec.height(), 2);
  EXPECT_EQ(codec.header.height, 2);
  EXPECT_EQ(storedRow(codec, 1, 3), (Row{1, 2, 3}));
  EXPECT_EQ(storedRow(codec, 0, 3), (Row{4, 5, 6}));

  Bytes sixteen;
  sixteen.fileHeader(0, 54).infoHeader(1, -3, 16, 0).u16(0x7C00).u16(0).u16(0x03E0).u16(0);
  sixteen.u16(0x001F).u16(0);
  BmpCodec other;
  ASSERT_TRUE(decodeBytes(other, sixteen.data));
  EXPECT_EQ(storedRow(other, 2, 4), (Row{0, 0, 0xF8, 0}));
  EXPECT_EQ(storedRow(other, 1, 4), (Row{0, 0xF8, 0, 0}));
  EXPECT_EQ(storedRow(other, 0, 4), (Row{0xF8, 0, 0, 0}));
}

TEST(BmpDecode, TruncatedTopDownAndSixteenBitRowsLandInPlace) {
  Bytes file;
  file.fileHeader(0, 14 + 40 + 1024).infoHeader(4, -3, 8, 0).rampPalette(256);
  file.list({1, 2, 3, 4, 5, 6});
  BmpCodec codec;
  ASSERT_TRUE(decodeBytes(codec, file.data));
  EXPECT_EQ(storedRow(codec, 2, 4), (Row{1, 2, 3, 4}));
  EXPECT_EQ(storedRow(codec, 1, 4), (Row{5, 6, 0, 0}));
  EXPECT_EQ(storedRow(codec, 0, 4), (Row{0, 0, 0, 0}));

  Bytes sixteen;
  sixteen.fileHeader(0, 54).infoHeader(3, 3, 16, 0).u16(0x7FFF).u16(0).u16(0x001F).u16(0);
  sixteen.u16(0x03E0);
  BmpCodec other;
  ASSERT_TRUE(decodeBytes(other, sixteen.data));
  EXPECT_EQ(storedRow(other, 0, 12), (Row{0xF8, 0xF8, 0xF8, 0, 0, 0, 0xF8, 0, 0, 0, 0, 0}));
  EXPECT_EQ(storedRow(other, 1, 12), (Row{0, 0xF8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(storedRow(other, 2, 12), Row(12, 0));
}

// ---- Reading: run-length data ----

std::vector<uint8_t> runLengthFile(int32_t width, int32_t height, uint32_t bits,
                                   uint32_t compression, std::initializer_list<uint32_t> data) {
  const uint32_t paletteBytes = bits <= 8 ? (4u << bits) : 0;
  Bytes file;
  file.fileHeader(0, 14 + 40 + paletteBytes).infoHeader(width, height, bits, compression);
  file.rampPalette(paletteBytes / 4).list(data);
  return file.data;
}

TEST(BmpDecode, RunLengthEightExample) {
  BmpCodec codec;
  ASSERT_TRUE(decodeBytes(codec, runLengthFile(4, 2, 8, 1, {3, 5, 0, 0, 2, 7, 0, 1})));
  EXPECT_EQ(storedRow(codec, 0, 4), (Row{5, 5, 5, 0}));
  EXPECT_EQ(storedRow(codec, 1, 4), (Row{7, 7, 0, 0}));
}

TEST(BmpDecode, RunLengthFourRunsAndAbsoluteRunsWithPadding) {
  BmpCodec codec;
  ASSERT_TRUE(decodeBytes(codec, runLengthFile(8, 2, 4, 2,
                                               {5, 0x12, 0, 3, 0xAB, 0xC0, 0, 0,        //
                                                0, 5, 0x12, 0x34, 0x50, 0xEE, 4, 0x3F,  //
                                                0, 1})));
  EXPECT_EQ(storedRow(codec, 0, 4), (Row{0x12, 0x12, 0x1A, 0xBC}));
  // The last run reaches one pixel past the row end; that pixel is dropped.
  EXPECT_EQ(storedRow(codec, 1, 4), (Row{0x12, 0x34, 0x53, 0xF3}));
}

TEST(BmpDecode, RunLengthPixelsPastTheEdgesAreDropped) {
  BmpCodec codec;
  ASSERT_TRUE(
      decodeBytes(codec, runLengthFile(4, 2, 8, 1, {6, 9, 0, 0,          // run past the row end
                                                    0, 2, 1, 0,  1, 12,  // delta inside
                                                    0, 2, 5, 0,  1, 13,  // delta past the row end
                                                    0, 0, 2, 11,         // past the top row
                                                    0, 3, 1, 2,  3, 0,   // absolute, past the top
                                                    0, 1})));
  EXPECT_EQ(storedRow(codec, 0, 4), (Row{9, 9, 9, 9}));
  EXPECT_EQ(storedRow(codec, 1, 4), (Row{0, 12, 0, 0}));
}

TEST(BmpDecode, RunLengthDataEndingEarlyKeepsWhatWasDecoded) {
  BmpCodec codec;
  ASSERT_TRUE(decodeBytes(codec, runLengthFile(4, 2, 8, 1, {2, 7, 0, 0, 0, 4, 1, 2})));
  EXPECT_EQ(storedRow(codec, 0, 4), (Row{7, 7, 0, 0}));
  EXPECT_EQ(storedRow(codec, 1, 4), (Row{1, 2, 0, 0}));
  BmpCodec delta;
  ASSERT_TRUE(decodeBytes(delta, runLengthFile(4, 2, 8, 1, {1, 3, 0, 2, 1})));
  EXPECT_EQ(storedRow(delta, 0, 4), (Row{3, 0, 0, 0}));
}

TEST(BmpDecode, RunLengthOnOtherDepthsStaysInsideThePicture) {
  // RLE8 on a 1-bit picture: each value keeps its lowest bit.
  BmpCodec one;
  ASSERT_TRUE(decodeBytes(one, runLengthFile(9, 1, 1, 1, {20, 3, 0, 1})));
  EXPECT_EQ(storedRow(one, 0, 4), (Row{0xFF, 0x80, 0, 0}));
  // RLE4 on an 8-bit picture: one nibble per pixel byte.
  BmpCodec eight;
  ASSERT_TRUE(decodeBytes(eight, runLengthFile(3, 1, 8, 2, {5, 0x9A, 0, 1})));
  EXPECT_EQ(storedRow(eight, 0, 4), (Row{9, 10, 9, 0}));
}

TEST(BmpDecode, RunLengthTopDown) {
  BmpCodec codec;
  ASSERT_TRUE(decodeBytes(codec, runLengthFile(4, -2, 8, 1, {2, 7, 0, 0, 1, 5, 0, 1})));
  EXPECT_EQ(storedRow(codec, 1, 4), (Row{7, 7, 0, 0}));
  EXPECT_EQ(storedRow(codec, 0, 4), (Row{5, 0, 0, 0}));
}

}  // namespace
}  // namespace skm
