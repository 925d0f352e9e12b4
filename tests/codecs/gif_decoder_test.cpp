#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "gif_test_support.h"

namespace skm {
namespace {

using gif_test::applicationBlock;
using gif_test::Bytes;
using gif_test::CodeWriter;
using gif_test::decodeBytes;
using gif_test::indexAt;
using gif_test::literalLzw;
using gif_test::xmpBlock;

std::vector<uint8_t> ramp(int32_t width, int32_t height, int modulo) {
  std::vector<uint8_t> pixels;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) pixels.push_back(uint8_t((x + 3 * y) % modulo));
  }
  return pixels;
}

// A one-frame file with a global table of `colors` entries (a power of two from 2 to 256).
Bytes singleFrame(int32_t width, int32_t height, int colors, const std::vector<uint8_t>& pixels,
                  const char* version = "GIF89a") {
  int sizeBits = 0;
  while ((2 << sizeBits) < colors) ++sizeBits;
  const int minimumSize = sizeBits + 1 < 2 ? 2 : sizeBits + 1;
  Bytes b;
  b.screen(uint32_t(width), uint32_t(height), 0x80 | uint32_t(sizeBits), version)
      .rampTable(uint32_t(colors));
  b.descriptor(0, 0, uint32_t(width), uint32_t(height), 0)
      .imageData(uint32_t(minimumSize), literalLzw(pixels, minimumSize));
  return b;
}

void expectPixels(const Image& image, int32_t width, int32_t height,
                  const std::vector<uint8_t>& pixels) {
  ASSERT_EQ(image.width(), width);
  ASSERT_EQ(image.height(), height);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      ASSERT_EQ(indexAt(image, x, y), pixels[std::size_t(y * width + x)]) << x << "," << y;
    }
  }
}

TEST(GifDecoder, SignatureAndVersions) {
  const auto pixels = ramp(5, 3, 4);
  for (const char* version : {"GIF87a", "GIF89a"}) {
    GifCodec codec;
    EXPECT_TRUE(decodeBytes(codec, singleFrame(5, 3, 4, pixels, version).u8(0x3B).data));
    expectPixels(codec, 5, 3, pixels);
    EXPECT_EQ(codec.info.formatType, FormatGif);
    EXPECT_EQ(codec.info.frameCount, 1);
  }
  GifCodec wrong;
  EXPECT_FALSE(decodeBytes(wrong, singleFrame(5, 3, 4, pixels, "GIF7xa").data));
  EXPECT_STREQ(wrong.lastError(), GifNotGifMessage);
  GifCodec shortFile;
  EXPECT_FALSE(decodeBytes(shortFile, {'G', 'I', 'F', '8', '9', 'a', 1, 0}));
  EXPECT_STREQ(shortFile.lastError(), GifNoImageMessage);
  GifCodec none;
  EXPECT_FALSE(none.decode(nullptr));
}

TEST(GifDecoder, ReadsFromFileStreams) {
  const auto pixels = ramp(6, 4, 16);
  Bytes b = singleFrame(6, 4, 16, pixels);
  b.descriptor(0, 0, 6, 4, 0).imageData(4, literalLzw(ramp(6, 4, 5), 4)).u8(0x3B);
  std::FILE* file = std::tmpfile();
  if (file == nullptr) GTEST_SKIP() << "no temporary file";
  std::fwrite(b.data.data(), 1, b.data.size(), file);
  for (int frame : {0, 1}) {
    std::rewind(file);
    ByteStream stream;
    stream.attachFile(file);
    GifCodec codec;
    codec.info.frameIndex = frame;
    ASSERT_TRUE(codec.decode(&stream)) << frame;
    EXPECT_EQ(codec.info.frameCount, 2);
    expectPixels(codec, 6, 4, frame == 0 ? pixels : ramp(6, 4, 5));
  }
  std::fclose(file);
}

TEST(GifDecoder, FileWithoutImageFails) {
  Bytes b;
  b.screen(4, 4, 0x80).rampTable(2).u8(0x3B);
  GifCodec codec;
  EXPECT_FALSE(decodeBytes(codec, b.data));
  EXPECT_EQ(codec.info.frameCount, 0);
  EXPECT_STREQ(codec.lastError(), GifNoImageMessage);
}

TEST(GifDecoder, DepthFollowsColourCount) {
  struct Case {
    int colors;
    uint16_t bits;
  };
  for (Case c : {Case{2, 1}, Case{4, 4}, Case{16, 4}, Case{32, 8}, Case{256, 8}}) {
    const auto pixels = ramp(13, 7, c.colors);
    GifCodec codec;
    ASSERT_TRUE(decodeBytes(codec, singleFrame(13, 7, c.colors, pixels).u8(0x3B).data));
    EXPECT_EQ(codec.bitCount(), c.bits) << c.colors;
    expectPixels(codec, 13, 7, pixels);
    for (int i = 0; i < c.colors; ++i) {
      const RgbQuad q = codec.getPaletteColor(uint32_t(i));
      EXPECT_EQ(q.red, i);
      EXPECT_EQ(q.green, 255 - i);
      EXPECT_EQ(q.blue, uint8_t(2 * i));
    }
    EXPECT_EQ(codec.info.transparentIndex, -1);
  }
}

TEST(GifDecoder, SizeComesFromImageDescriptor) {
  const auto pixels = ramp(3, 2, 4);
  Bytes b;
  b.screen(40, 30, 0x81).rampTable(4).descriptor(7, 9, 3, 2, 0).imageData(2, literalLzw(pixels, 2));
  GifCodec codec;
  ASSERT_TRUE(decodeBytes(codec, b.u8(0x3B).data));
  expectPixels(codec, 3, 2, pixels);
}

TEST(GifDecoder, TransparencyFillsUnusedEntriesWithWhite) {
  // 64-entry table, transparent index 7: entries 64..255 become white.
  const auto pixels = ramp(8, 8, 64);
  Bytes b;
  b.screen(8, 8, 0x85).rampTable(64).graphicControl(0x01, 10, 7);
  b.descriptor(0, 0, 8, 8, 0).imageData(6, literalLzw(pixels, 6)).u8(0x3B);
  GifCodec codec;
  ASSERT_TRUE(decodeBytes(codec, b.data));
  EXPECT_EQ(codec.bitCount(), 8);
  EXPECT_EQ(codec.info.transparentIndex, 7);
  EXPECT_EQ(codec.info.frameDelay, 10u);
  EXPECT_EQ(codec.getPaletteColor(63).red, 63);
  for (uint32_t i = 64; i < 256; ++i) {
    const RgbQuad q = codec.getPaletteColor(i);
    ASSERT_TRUE(q.red == 255 && q.green == 255 && q.blue == 255) << i;
  }
  expectPixels(codec, 8, 8, pixels);
}

TEST(GifDecoder, FullTableWithoutWhiteGetsWhiteLastEntry) {
  const auto pixels = ramp(4, 4, 256);
  auto build = [&](bool withWhite) {
    Bytes b;
    b.screen(4, 4, 0x87);
    for (uint32_t i = 0; i < 256; ++i) b.list({i, i / 2, 7});
    if (withWhite) b.data[13 + 3 * 40] = b.data[13 + 3 * 40 + 1] = b.data[13 + 3 * 40 + 2] = 255;
    b.graphicControl(0x01, 0, 3).descriptor(0, 0, 4, 4, 0).imageData(8, literalLzw(pixels, 8));
    return b.u8(0x3B).data;
  };
  GifCodec noWhite;
  ASSERT_TRUE(decodeBytes(noWhite, build(false)));
  RgbQuad last = noWhite.getPaletteColor(255);
  EXPECT_TRUE(last.red == 255 && last.green == 255 && last.blue == 255);
  EXPECT_EQ(noWhite.getPaletteColor(254).red, 254);

  GifCodec hasWhite;
  ASSERT_TRUE(decodeBytes(hasWhite, build(true)));
  last = hasWhite.getPaletteColor(255);
  EXPECT_EQ(last.red, 255);
  EXPECT_EQ(last.green, 127);
  EXPECT_EQ(last.blue, 7);

  // Without transparency the table is taken as it is.
  Bytes plain;
  plain.screen(4, 4, 0x87);
  for (uint32_t i = 0; i < 256; ++i) plain.list({i, i / 2, 7});
  plain.descriptor(0, 0, 4, 4, 0).imageData(8, literalLzw(pixels, 8)).u8(0x3B);
  GifCodec opaque;
  ASSERT_TRUE(decodeBytes(opaque, plain.data));
  EXPECT_EQ(opaque.getPaletteColor(255).green, 127);
}

TEST(GifDecoder, InterlacedRowsLandInTheirPictureRows) {
  for (int32_t height : {1, 2, 3, 4, 5, 9, 17}) {
    // Rows arrive in pass order; row r carries the value r + 1 in every pixel.
    std::vector<int32_t> order;
    const int32_t starts[4] = {0, 4, 2, 1};
    const int32_t steps[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
      for (int32_t r = starts[pass]; r < height; r += steps[pass]) order.push_back(r);
    }
    ASSERT_EQ(int32_t(order.size()), height);
    const int32_t width = 6;
    std::vector<uint8_t> stream;
    for (int32_t r : order) stream.insert(stream.end(), std::size_t(width), uint8_t(r + 1));
    Bytes b;
    b.screen(uint32_t(width), uint32_t(height), 0x84).rampTable(32);
    b.descriptor(0, 0, uint32_t(width), uint32_t(height), 0x40).imageData(5, literalLzw(stream, 5));
    GifCodec codec;
    ASSERT_TRUE(decodeBytes(codec, b.u8(0x3B).data)) << height;
    for (int32_t y = 0; y < height; ++y) {
      for (int32_t x = 0; x < width; ++x) {
        ASSERT_EQ(indexAt(codec, x, y), y + 1) << "height " << height << " row " << y;
      }
    }
  }
}

TEST(GifDecoder, InterlacedLinesAfterLastPassAreDropped) {
  const int32_t width = 4;
  const int32_t height = 3;
  // Rows 0, 2, 1 then three surplus lines.
  std::vector<uint8_t> stream;
  for (uint8_t v : {1, 3, 2, 9, 9, 9}) stream.insert(stream.end(), std::size_t(width), v);
  Bytes b;
  b.screen(width, height, 0x83).rampTable(16);
  b.descriptor(0, 0, width, height, 0x40).imageData(4, literalLzw(stream, 4)).u8(0x3B);
  GifCodec codec;
  ASSERT_TRUE(decodeBytes(codec, b.data));
  for (int32_t y = 0; y < height; ++y) EXPECT_EQ(indexAt(codec, 0, y), y + 1);
}

TEST(GifDecoder, ExtraRowsEndTheFrameAndScanningResumesPastTheNextByte) {
  // A 2x1 frame whose data holds two rows in its first sub-block. The frame ends when the second
  // row arrives; the scan resumes one byte past the next sub-block's size byte (3B here, which
  // would end the file if it were read as a block introducer).
  CodeWriter writer;
  writer.put(4, 3);
  for (uint32_t p : {1, 0, 1, 1}) writer.put(p, 3);
  const auto first = writer.finish();
  Bytes b;
  b.screen(2, 1, 0x80).list({0, 0, 0, 255, 255, 255});
  b.descriptor(0, 0, 2, 1, 0).u8(2).u8(uint32_t(first.size())).append(first);
  b.u8(0x3B);
  for (int i = 0; i < 0x3B; ++i) b.u8(0x40);
  b.u8(0);
  const auto second = ramp(2, 2, 2);
  b.descriptor(0, 0, 2, 2, 0).imageData(2, literalLzw(second, 2)).u8(0x3B);

  GifCodec codec;
  ASSERT_TRUE(decodeBytes(codec, b.data));
  EXPECT_EQ(codec.info.frameCount, 2);
  expectPixels(codec, 2, 1, {1, 0});
  GifCodec next;
  next.info.frameIndex = 1;
  ASSERT_TRUE(decodeBytes(next, b.data));
  expectPixels(next, 2, 2, second);
}

// Local table of 4 entries on frame 0 only; frame 1 has none and must use the global table.
TEST(GifDecoder, FrameWithoutLocalTableUsesGlobalTable) {
  const auto pixels = ramp(3, 3, 2);
  Bytes b;
  b.screen(3, 3, 0x80).list({10, 20, 30, 40, 50, 60});
  b.descriptor(0, 0, 3, 3, 0x81).list({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  b.imageData(2, literalLzw(pixels, 2));
  b.descriptor(0, 0, 3, 3, 0).imageData(2, literalLzw(pixels, 2)).u8(0x3B);
  GifCodec frame0;
  ASSERT_TRUE(decodeBytes(frame0, b.data));
  EXPECT_EQ(frame0.bitCount(), 4);
  EXPECT_EQ(frame0.getPaletteColor(3).red, 10);
  GifCodec frame1;
  frame1.info.frameIndex = 1;
  ASSERT_TRUE(decodeBytes(frame1, b.data));
  EXPECT_EQ(frame1.bitCount(), 1);
  EXPECT_EQ(frame1.getPaletteColor(1).red, 40);
  EXPECT_EQ(frame1.getPaletteColor(1).blue, 60);
}

TEST(GifDecoder, ApplicationExtensions) {
  const auto pixels = ramp(4, 2, 4);
  auto netscape = [](uint32_t introducer, uint32_t firstSize) {
    std::vector<uint32_t> v = {introducer, 0xFF, 11};
    for (char c : std::string("NETSCAPE2.0")) v.push_back(uint8_t(c));
    v.push_back(firstSize);
    for (uint32_t i = 0; i < firstSize; ++i) v.push_back(i == 0 ? 1 : i == 1 ? 5 : 0);
    v.push_back(0);
    return v;
  };
  auto build = [&](const std::vector<uint32_t>& ext) {
    Bytes b;
    b.screen(4, 2, 0x81).rampTable(4);
    for (uint32_t v : ext) b.u8(v);
    b.descriptor(0, 0, 4, 2, 0).imageData(2, literalLzw(pixels, 2)).u8(0x3B);
    return b.data;
  };
  GifCodec looped;
  ASSERT_TRUE(decodeBytes(looped, build(netscape(0x21, 3))));
  EXPECT_EQ(looped.loopCount(), 5);
  expectPixels(looped, 4, 2, pixels);

  // A first sub-block of 4 bytes is no loop block: it is stepped over.
  GifCodec other;
  ASSERT_TRUE(decodeBytes(other, build(netscape(0x21, 4))));
  EXPECT_EQ(other.loopCount(), 0);
  expectPixels(other, 4, 2, pixels);

  // The same block with its introducer patched to FF is stepped over byte by byte.
  GifCodec patched;
  ASSERT_TRUE(decodeBytes(patched, build(netscape(0xFF, 4))));
  expectPixels(patched, 4, 2, pixels);

  // A block cut short after the image leaves the decoded frame in place.
  Bytes after;
  after.screen(4, 2, 0x81).rampTable(4).descriptor(0, 0, 4, 2, 0);
  after.imageData(2, literalLzw(pixels, 2));
  after.list({0x21, 0xFF, 11, 'N', 'E'});
  GifCodec tail;
  ASSERT_TRUE(decodeBytes(tail, after.data));
  expectPixels(tail, 4, 2, pixels);
}

TEST(GifDecoder, MetadataBlocksAreSteppedOver) {
  std::vector<uint8_t> profile(255);
  for (std::size_t i = 0; i < profile.size(); ++i) profile[i] = uint8_t(0x21 + i % 27);
  const std::vector<std::vector<uint8_t>> blocks = {
      xmpBlock(),
      applicationBlock("ICCRGBG1012", {profile, {0x3B}}),
      applicationBlock("EMPTYAPP1.0", {}),
      {0x21, 0xFF, 0x00},
      applicationBlock("UNKNOWN", {{0x2C, 0x3B, 0x21}, {0x01}}),
      applicationBlock("NETSCAPE2.0", {{0x02, 0x10, 0x00, 0x00, 0x00}}),
  };
  const auto loop = applicationBlock("NETSCAPE2.0", {{0x01, 0x07, 0x00}});
  const auto pixels = ramp(5, 3, 4);
  for (std::size_t k = 0; k < blocks.size(); ++k) {
    for (bool before : {true, false}) {
      Bytes b;
      b.screen(5, 3, 0x81).rampTable(4);
      if (before) b.append(blocks[k]);
      b.append(loop).graphicControl(0x01, 9, 2);
      if (before) b.append(blocks[k]);
      b.descriptor(0, 0, 5, 3, 0).imageData(2, literalLzw(pixels, 2));
      if (!before) b.append(blocks[k]).append(blocks[k]);
      b.descriptor(0, 0, 5, 3, 0).imageData(2, literalLzw(ramp(5, 3, 3), 2)).u8(0x3B);
      for (int frame : {0, 1}) {
        GifCodec codec;
        codec.info.frameIndex = frame;
        ASSERT_TRUE(decodeBytes(codec, b.data)) << k << " before " << before << " frame " << frame;
        EXPECT_EQ(codec.info.frameCount, 2) << k;
        EXPECT_EQ(codec.loopCount(), 7) << k;
        EXPECT_EQ(codec.info.transparentIndex, 2) << k;
        EXPECT_EQ(codec.info.frameDelay, 9u) << k;
        expectPixels(codec, 5, 3, frame == 0 ? pixels : ramp(5, 3, 3));
      }
    }
  }
}

TEST(GifDecoder, UnknownBytesBetweenBlocksAreSkipped) {
  const auto pixels = ramp(3, 3, 4);
  Bytes b;
  b.screen(3, 3, 0x81).rampTable(4).list({0x00, 0xFF, 0x13, 0x99});
  b.descriptor(0, 0, 3, 3, 0).imageData(2, literalLzw(pixels, 2)).u8(0x3B);
  GifCodec codec;
  ASSERT_TRUE(decodeBytes(codec, b.data));
  expectPixels(codec, 3, 3, pixels);
}

TEST(GifDecoder, CommentsAndGraphicControl) {
  const auto pixels = ramp(2, 2, 4);
  Bytes b;
  b.screen(2, 2, 0x81).rampTable(4);
  b.list({0x21, 0xFE, 255});
  for (int i = 0; i < 255; ++i) b.u8('a' + i % 26);
  b.u8(45);
  for (int i = 0; i < 45; ++i) b.u8('Z');
  b.u8(0);
  b.graphicControl(0x09, 0x1234, 3);
  b.descriptor(0, 0, 2, 2, 0).imageData(2, literalLzw(pixels, 2)).u8(0x3B);
  GifCodec codec;
  ASSERT_TRUE(decodeBytes(codec, b.data));
  EXPECT_EQ(std::strlen(codec.commentText), 255u);
  EXPECT_EQ(codec.commentText[254], 'a' + 254 % 26);
  EXPECT_EQ(codec.info.frameDelay, 0x1234u);
  EXPECT_EQ(codec.disposalMethod(), 2);
  EXPECT_EQ(codec.info.transparentIndex, 3);

  // A graphic control block of the wrong size ends the scan; an empty comment is well formed
  // and the image after it is read.
  for (const auto& [ext, decodes] : std::vector<std::pair<std::vector<uint32_t>, bool>>{
           {{0x21, 0xF9, 5, 0, 0, 0, 0, 0, 0}, false},
           {{0x21, 0xFE, 0}, true},
           {{0x21, 0xFE, 0, 0x21, 0xFE, 0}, true}}) {
    Bytes e;
    e.screen(2, 2, 0x81).rampTable(4);
    for (uint32_t v : ext) e.u8(v);
    e.descriptor(0, 0, 2, 2, 0).imageData(2, literalLzw(pixels, 2)).u8(0x3B);
    GifCodec after;
    EXPECT_EQ(decodeBytes(after, e.data), decodes);
    if (decodes) expectPixels(after, 2, 2, pixels);
  }
}

TEST(GifDecoder, RequestedFrameAndDisposalComposition) {
  // Frame 0: 4x3 of index 1. Frame 1 (do-not-dispose): 2x1 at (1, 1) with index 2 and a
  // transparent pixel, composed onto frame 0.
  Bytes b;
  b.screen(4, 3, 0x81).rampTable(4);
  b.descriptor(0, 0, 4, 3, 0).imageData(2, literalLzw(std::vector<uint8_t>(12, 1), 2));
  b.graphicControl(0x05, 7, 3).descriptor(1, 1, 2, 1, 0).imageData(2, literalLzw({2, 3}, 2));
  b.u8(0x3B);
  GifCodec first;
  ASSERT_TRUE(decodeBytes(first, b.data));
  EXPECT_EQ(first.info.frameCount, 2);
  expectPixels(first, 4, 3, std::vector<uint8_t>(12, 1));
  // The pre-scan has read the whole file's extensions.
  EXPECT_EQ(first.info.frameDelay, 7u);

  GifCodec second;
  second.info.frameIndex = 1;
  ASSERT_TRUE(decodeBytes(second, b.data));
  ASSERT_EQ(second.width(), 4);
  ASSERT_EQ(second.height(), 3);
  EXPECT_EQ(indexAt(second, 1, 1), 2);
  EXPECT_EQ(indexAt(second, 2, 1), 1);  // transparent: frame 0 shows through
  EXPECT_EQ(indexAt(second, 3, 1), 1);
  EXPECT_EQ(indexAt(second, 0, 0), 1);

  for (int index : {2, -1}) {
    GifCodec missing;
    missing.info.frameIndex = index;
    EXPECT_FALSE(decodeBytes(missing, b.data)) << index;
  }
}

TEST(GifDecoder, TruncatedAndMalformedData) {
  const auto pixels = ramp(5, 4, 4);
  // Data cut after 7 pixels without an end code: decoded pixels kept, the rest zero.
  std::vector<uint8_t> part(pixels.begin(), pixels.begin() + 7);
  Bytes cut;
  cut.screen(5, 4, 0x81).rampTable(4).descriptor(0, 0, 5, 4, 0);
  cut.imageData(2, literalLzw(part, 2, false)).u8(0x3B);
  GifCodec codec;
  ASSERT_TRUE(decodeBytes(codec, cut.data));
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(indexAt(codec, i % 5, i / 5), i < 7 ? pixels[std::size_t(i)] : 0) << i;
  }

  // Every prefix of a file decodes or fails without harm.
  const auto whole = singleFrame(9, 5, 16, ramp(9, 5, 16)).u8(0x3B).data;
  for (std::size_t n = 0; n < whole.size(); ++n) {
    GifCodec partial;
    decodeBytes(partial, std::vector<uint8_t>(whole.begin(), whole.begin() + long(n)));
  }
}

TEST(GifDecoder, EveryByteBeyondTheDecodedPixelsIsZero) {
  // Cut data at each depth, on a width whose rows carry fill bytes: no byte of the rows may come
  // from anywhere but the data.
  for (int colors : {2, 16, 256}) {
    const auto pixels = ramp(5, 4, colors);
    const uint32_t sizeBits = colors == 2 ? 0 : colors == 16 ? 3 : 7;
    const int minimumSize = colors == 2 ? 2 : int(sizeBits) + 1;
    std::vector<uint8_t> part(pixels.begin(), pixels.begin() + 7);
    Bytes cut;
    cut.screen(5, 4, 0x80 | sizeBits).rampTable(uint32_t(colors));
    cut.descriptor(0, 0, 5, 4, 0)
        .imageData(uint32_t(minimumSize), literalLzw(part, minimumSize, false));
    cut.u8(0x3B);
    GifCodec codec;
    ASSERT_TRUE(decodeBytes(codec, cut.data)) << colors;
    Image expected(5, 4, codec.bitCount(), FormatGif);
    for (int i = 0; i < 7; ++i) expected.setPixelIndex(i % 5, 3 - i / 5, pixels[std::size_t(i)]);
    ASSERT_EQ(codec.blockSize(), expected.blockSize()) << colors;
    for (int32_t y = 0; y < 4; ++y)
      for (int32_t x = 0; x < 5; ++x)
        EXPECT_EQ(indexAt(codec, x, y), indexAt(expected, x, y)) << colors << ": " << x << "," << y;
    // Packed rows that were written keep what packing left past the last pixel; rows the data
    // never reached, and whole-byte rows, are zero to the last byte.
    const std::size_t rows = std::size_t(codec.info.rowBytes) * (colors == 256 ? 4 : 2);
    EXPECT_EQ(0, std::memcmp(codec.pixels, expected.pixels, rows)) << colors;
  }
}

TEST(GifDecoder, LargeFrameCutShortIsZeroAfterItsData) {
  // Past the size whose rows are cleared behind the decoder: the picture comes zeroed whole.
  const std::vector<uint8_t> part = {1, 2, 3, 4, 5};
  Bytes cut;
  cut.screen(700, 400, 0x87).rampTable(256).descriptor(0, 0, 700, 400, 0);
  cut.imageData(8, literalLzw(part, 8, false)).u8(0x3B);
  GifCodec codec;
  ASSERT_TRUE(decodeBytes(codec, cut.data));
  ASSERT_EQ(codec.width(), 700);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(indexAt(codec, i, 0), part[std::size_t(i)]);
  const std::size_t rows = std::size_t(codec.info.rowBytes) * 400;
  const std::size_t topRow = std::size_t(codec.info.rowBytes) * 399;
  for (std::size_t i = 0; i < rows; ++i) {
    if (i >= topRow && i < topRow + 5) continue;
    ASSERT_EQ(codec.pixels[i], 0) << i;
  }
}

TEST(GifDecoder, CodesBeyondTheTableAreTolerated) {
  // Codes past the next free slot and repeated such codes make the tables refer to themselves;
  // the decoder must finish without running away.
  CodeWriter writer;
  writer.put(4, 3);
  writer.put(1, 3);
  writer.put(7, 3);  // beyond the next free slot (6)
  for (int i = 0; i < 40; ++i) writer.put(uint32_t(6 + i % 2), i < 1 ? 3 : 4);
  writer.put(5, 4);
  Bytes b;
  b.screen(8, 8, 0x81).rampTable(4).descriptor(0, 0, 8, 8, 0).imageData(2, writer.finish());
  b.u8(0x3B);
  GifCodec codec;
  EXPECT_TRUE(decodeBytes(codec, b.data));
  EXPECT_EQ(codec.width(), 8);
}

// A run of literals long enough for the decoder's fast loop, then codes that read back the
// table it left, and literals enough for the fast loop, not the general step, to read those.
TEST(GifDecoder, TableLeftByAFastRunReadsRight) {
  struct Case {
    const char* what;
    std::vector<uint32_t> codes;
    std::vector<uint8_t> pixels;
  };
  const uint32_t next = 258 + 40;  // one entry for each literal after the first
  const Case cases[] = {
      // The next free code (50 50), then one past it: astray from there, spelt through the
      // chains, which must find that entry's last byte (50) when it is read back.
      {"entry made after the run", {next, next + 2, next}, {50, 50, 50, 50, 50, 50, 50}},
      // The loop knows the next free code one code ahead, which a clear must forget: after it,
      // 298 is past the next free code and reads as the previous string plus its first byte.
      {"code known ahead, then a clear", {256, 7, next}, {7, 7, 7}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CodeWriter writer;
    std::vector<uint8_t> pixels;
    writer.put(256, 9);
    for (uint32_t p = 10; p <= 50; ++p) {
      writer.put(p, 9);
      pixels.push_back(uint8_t(p));
    }
    for (uint32_t code : c.codes) writer.put(code, 9);
    pixels.insert(pixels.end(), c.pixels.begin(), c.pixels.end());
    for (uint32_t p = 1; p <= 12; ++p) {
      writer.put(p, 9);
      pixels.push_back(uint8_t(p));
    }
    writer.put(257, 9);
    const int32_t width = int32_t(pixels.size());
    Bytes b;
    b.screen(uint32_t(width), 1, 0x87).rampTable(256).descriptor(0, 0, uint32_t(width), 1, 0);
    b.imageData(8, writer.finish()).u8(0x3B);
    GifCodec codec;
    ASSERT_TRUE(decodeBytes(codec, b.data));
    expectPixels(codec, width, 1, pixels);
  }
}

// Some encoders keep using the full table instead of clearing it at once; the codes after it
// add nothing until the clear that comes later, and a new table starts from there.
TEST(GifDecoder, FullTableKeptUntilALateClear) {
  const int32_t width = 300, height = 200;
  const std::size_t clearAt = 45000;
  std::vector<uint8_t> pixels;
  uint32_t seed = 7;
  for (int32_t i = 0; i < width * height; ++i) {
    seed = seed * 1103515245u + 12345u;
    // Mostly noise, with runs of a slow ramp for strings longer than a copy step.
    pixels.push_back(uint8_t(((seed >> 16) % 10 < 7 ? seed >> 8 : uint32_t(i / 40)) % 4));
  }
  std::map<std::pair<int, int>, int> table;
  // Four colours: codes start at 3 bits, the clear code is 4 and the end code 5.
  int next = 6, size = 3, fills = 0;
  CodeWriter writer;
  writer.put(4, size);
  int w = pixels[0];
  for (std::size_t at = 1; at < pixels.size(); ++at) {
    const auto found = table.find({w, pixels[at]});
    if (found != table.end() && at != clearAt) {
      w = found->second;
      continue;
    }
    writer.put(uint32_t(w), size);
    if (at == clearAt) {
      writer.put(4, size);
      table.clear();
      next = 6;
      size = 3;
    } else if (next < 4096) {
      table[{w, pixels[at]}] = next++;
      if (next > (1 << size) && size < 12) ++size;
      fills += next == 4096;
    }
    w = pixels[at];
  }
  writer.put(uint32_t(w), size);
  writer.put(5, size);
  ASSERT_EQ(fills, 1) << "the table must fill before the clear";
  Bytes b;
  b.screen(uint32_t(width), uint32_t(height), 0x81).rampTable(4);
  b.descriptor(0, 0, uint32_t(width), uint32_t(height), 0).imageData(2, writer.finish()).u8(0x3B);
  GifCodec codec;
  ASSERT_TRUE(decodeBytes(codec, b.data));
  expectPixels(codec, width, height, pixels);
}

TEST(GifDecoder, SelfReferringCodeEndsTheFrame) {
  // Code 7 arrives while 6 is the next free slot, so the next entry (7) gets 7 as its own
  // prefix; reading code 7 again would follow that link forever. The frame keeps the four pixels
  // decoded before it, and the file goes on.
  CodeWriter writer;
  writer.put(4, 3);
  writer.put(1, 3);  // 1
  writer.put(7, 3);  // 1 1 (entry 6)
  writer.put(1, 3);  // 1 (entry 7, prefix 7)
  writer.put(7, 4);
  writer.put(5, 4);
  Bytes b;
  b.screen(3, 2, 0x81).rampTable(4).descriptor(0, 0, 3, 2, 0).imageData(2, writer.finish());
  const auto pixels = ramp(3, 2, 4);
  b.descriptor(0, 0, 3, 2, 0).imageData(2, literalLzw(pixels, 2)).u8(0x3B);
  GifCodec codec;
  ASSERT_TRUE(decodeBytes(codec, b.data));
  EXPECT_EQ(codec.info.frameCount, 2);
  expectPixels(codec, 3, 2, {1, 1, 1, 1, 0, 0});
  GifCodec next;
  next.info.frameIndex = 1;
  ASSERT_TRUE(decodeBytes(next, b.data));
  expectPixels(next, 3, 2, pixels);
}

// A requested frame that yields no pixel at all is refused with the reason; the frames after it
// are still found and decode.
TEST(GifDecoder, FramesWithoutPixelsAreRefused) {
  auto codes = [](std::initializer_list<uint32_t> list) {
    CodeWriter writer;
    for (uint32_t c : list) writer.put(c, 3);
    return writer.finish();
  };
  struct Case {
    const char* what;
    uint32_t width, height, minimumSize;
    std::vector<uint8_t> lzw;  // sub-blocked; empty: the data is only its terminator
    const char* message;
  };
  const auto data = literalLzw(std::vector<uint8_t>(20, 3), 2);
  const Case cases[] = {
      {"0 x 5", 0, 5, 2, data, GifNoPixelsMessage},
      {"5 x 0", 5, 0, 2, data, GifNoPixelsMessage},
      {"0 x 0", 0, 0, 2, data, GifNoPixelsMessage},
      {"code size 0", 3, 2, 0, {0x44, 0x01}, GifUndecodableMessage},
      {"code size 1", 3, 2, 1, {0x46, 0x01}, GifUndecodableMessage},
      {"code size 10", 3, 2, 10, {0x00, 0x04, 0x01}, GifUndecodableMessage},
      {"code size 11", 3, 2, 11, {0x00, 0x08, 0x01}, GifUndecodableMessage},
      {"code size 12", 3, 2, 12, {0x00, 0x10, 0x01}, GifUndecodableMessage},
      {"code size 255", 3, 2, 255, {0x44, 0x01}, GifUndecodableMessage},
      {"first code past the next free slot", 3, 2, 2, codes({7, 1, 5}), GifUndecodableMessage},
      {"first code after a clear past it", 3, 2, 2, codes({4, 4, 6, 1, 5}), GifUndecodableMessage},
      {"end code first", 3, 2, 2, codes({5, 1}), GifNoPixelsMessage},
      {"clear then end", 3, 2, 2, codes({4, 5}), GifNoPixelsMessage},
      {"no data", 3, 2, 2, {}, GifNoPixelsMessage},
  };
  const auto pixels = ramp(3, 2, 4);
  for (const Case& c : cases) {
    Bytes b;
    b.screen(3, 2, 0x81).rampTable(4).descriptor(0, 0, c.width, c.height, 0);
    // Data that ends without an end code makes the scan resume one byte late: a spare byte.
    b.imageData(c.minimumSize, c.lzw).u8(0);
    b.descriptor(0, 0, 3, 2, 0).imageData(2, literalLzw(pixels, 2)).u8(0x3B);
    GifCodec refused;
    EXPECT_FALSE(decodeBytes(refused, b.data)) << c.what;
    EXPECT_STREQ(refused.lastError(), c.message) << c.what;
    EXPECT_EQ(refused.info.frameCount, 2) << c.what;
    GifCodec next;
    next.info.frameIndex = 1;
    ASSERT_TRUE(decodeBytes(next, b.data)) << c.what;
    expectPixels(next, 3, 2, pixels);
  }
  // A file that ends at the start of the image data has nothing of it; one that ends inside
  // its first sub-block keeps what came.
  const auto whole = singleFrame(3, 2, 4, pixels).data;
  const std::size_t dataAt = 13 + 12 + 10;
  for (std::size_t n : {dataAt, dataAt + 1, dataAt + 2}) {
    GifCodec cut;
    EXPECT_FALSE(decodeBytes(cut, std::vector<uint8_t>(whole.begin(), whole.begin() + long(n))));
    EXPECT_STREQ(cut.lastError(), GifNoPixelsMessage) << n;
  }
  GifCodec part;
  ASSERT_TRUE(decodeBytes(part, std::vector<uint8_t>(whole.begin(), whole.begin() + dataAt + 3)));
  EXPECT_EQ(indexAt(part, 0, 0), pixels[0]);
}

// Data that does not open with a clear code: the first new entry extends the string of code 0,
// which was never written, so entry 6 is "0 3", not a piece of what the frame holds.
TEST(GifDecoder, DataWithoutLeadingClearExtendsStringZero) {
  CodeWriter writer;
  writer.put(3, 3);  // 3 (entry 6 = 0 then 3)
  writer.put(6, 3);  // 0 3 (entry 7 = 3 0; the width grows)
  writer.put(1, 4);  // 1 (entry 8 = 0 3 1)
  writer.put(8, 4);  // 0 3 1
  writer.put(5, 4);
  Bytes b;
  b.screen(8, 1, 0x81).rampTable(4).descriptor(0, 0, 8, 1, 0).imageData(2, writer.finish());
  b.u8(0x3B);
  GifCodec codec;
  ASSERT_TRUE(decodeBytes(codec, b.data));
  expectPixels(codec, 8, 1, {3, 0, 3, 1, 0, 3, 1, 0});
}

// One workspace decodes many pictures, as in a conversion run; what one picture left in the
// shared tables and read block must not reach the next, whose data here runs past its end.
TEST(GifDecoder, SharedWorkspaceDecodesLikeAFreshCodec) {
  GifWorkspace workspace;
  std::vector<std::vector<uint8_t>> files;
  files.push_back(singleFrame(97, 61, 256, ramp(97, 61, 251)).u8(0x3B).data);
  const auto whole = singleFrame(9, 5, 16, ramp(9, 5, 16)).u8(0x3B).data;
  for (std::size_t n = 20; n < whole.size(); n += 3) {
    files.emplace_back(whole.begin(), whole.begin() + long(n));
  }
  CodeWriter writer;
  writer.put(3, 3);
  writer.put(6, 3);
  files.push_back(Bytes().screen(4, 4, 0x81).rampTable(4).descriptor(0, 0, 4, 4, 0).data);
  files.back().push_back(2);
  files.back().push_back(1);
  files.back().push_back(writer.finish()[0]);
  for (std::size_t k = 0; k < files.size(); ++k) {
    GifCodec fresh;
    GifCodec shared(&workspace);
    const bool a = decodeBytes(fresh, files[k]);
    ASSERT_EQ(decodeBytes(shared, files[k]), a) << k;
    if (!a) continue;
    ASSERT_EQ(shared.height(), fresh.height()) << k;
    for (int32_t y = 0; y < fresh.height(); ++y) {
      ASSERT_EQ(
          std::memcmp(shared.pixelRow(y), fresh.pixelRow(y), std::size_t(fresh.info.rowBytes)), 0)
          << k << " row " << y;
    }
  }
}

TEST(GifDecoder, HugeDeclaredFrameIsRefused) {
  Bytes b;
  b.screen(65535, 65535, 0x87).rampTable(256).descriptor(0, 0, 65535, 65535, 0);
  b.imageData(8, literalLzw(std::vector<uint8_t>(5000, 9), 8)).u8(0x3B);
  GifCodec codec;
  EXPECT_FALSE(decodeBytes(codec, b.data));
  EXPECT_FALSE(codec.isValid());
}

}  // namespace
}  // namespace skm
