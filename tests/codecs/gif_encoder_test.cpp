#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "gif_test_support.h"

namespace skm {
namespace {

using gif_test::codecLzw;
using gif_test::decodeBytes;
using gif_test::fillImage;
using gif_test::indexAt;
using gif_test::OutStream;
using gif_test::plainHashedLzw;
using gif_test::ReferenceStats;
using gif_test::subBlockSizes;

std::vector<uint8_t> encodeOne(GifCodec& codec) {
  OutStream out;
  EXPECT_TRUE(codec.encode(&out.stream)) << codec.lastError();
  return out.bytes();
}

std::vector<uint8_t> encodeFrames(GifCodec& codec, std::vector<Image*> frames) {
  OutStream out;
  EXPECT_TRUE(codec.encodeAnimation(&out.stream, frames.data(), int(frames.size())))
      << codec.lastError();
  return out.bytes();
}

std::vector<uint8_t> slice(const std::vector<uint8_t>& v, std::size_t at, std::size_t n) {
  return std::vector<uint8_t>(v.begin() + long(at), v.begin() + long(at + n));
}

// Codes of one image's LZW data, read the way every GIF decoder reads them, with their widths.
std::vector<std::pair<int, int>> readCodes(const std::vector<uint8_t>& data, int minimumSize) {
  std::vector<std::pair<int, int>> codes;
  const int clear = 1 << minimumSize;
  int width = minimumSize + 1;
  int slot = clear + 2;
  bool afterClear = true;
  uint64_t acc = 0;
  int bits = 0;
  std::size_t at = 0;
  for (;;) {
    while (bits < width && at < data.size()) {
      acc |= uint64_t(data[at++]) << bits;
      bits += 8;
    }
    if (bits < width) break;
    const int code = int(acc & ((1u << width) - 1));
    acc >>= width;
    bits -= width;
    codes.emplace_back(code, width);
    if (code == clear) {
      width = minimumSize + 1;
      slot = clear + 2;
      afterClear = true;
      continue;
    }
    if (code == clear + 1) break;
    if (!afterClear && slot < 4096) ++slot;
    afterClear = false;
    if (slot == (1 << width) && width < 12) ++width;
  }
  return codes;
}

TEST(GifEncoder, TinyImageExactBytes) {
  Image source;
  fillImage(source, 2, 2, 1, [](int, int) { return 0; });
  source.setPaletteColor(1, 0xFF, 0xEE, 0xDD);
  GifCodec codec;
  codec.shareFrom(&source);
  const std::vector<uint8_t> expected = {
      'G',  'I',  'F',  '8',  '7',  'a',  2,    0, 2, 0, 0x80, 0, 0,  // screen
      0,    0,    0,    0xFF, 0xEE, 0xDD,                             // table
      0x21, 0xF9, 4,    0,    0,    0,    0xFF, 0,                    // graphic control
      0x2C, 0,    0,    0,    0,    2,    0,    2, 0, 0,              // descriptor
      2,    2,    0x84, 0x51, 0,                                      // codes 4 0 6 0 5
      0x3B};
  EXPECT_EQ(encodeOne(codec), expected);
}

TEST(GifEncoder, CodeSizesAndScreenPerDepth) {
  struct Case {
    uint32_t bits;
    uint8_t packed;
    int minimumSize;
    std::size_t entries;
  };
  for (Case c : {Case{1, 0x80, 2, 2}, Case{4, 0xE3, 4, 16}, Case{8, 0xE7, 8, 256}}) {
    Image source;
    fillImage(source, 7, 5, c.bits, [&](int x, int y) { return (x * y) % (1 << c.bits); });
    GifCodec codec;
    codec.shareFrom(&source);
    const auto file = encodeOne(codec);
    EXPECT_EQ(file[10], c.packed);
    const std::size_t table = 13;
    EXPECT_EQ(file[table + 3 * (c.entries - 1)], uint8_t(c.entries - 1));  // red of last entry
    const std::size_t gce = table + 3 * c.entries;
    EXPECT_EQ(file[gce], 0x21);
    std::size_t data = gce + 8 + 10;
    ASSERT_EQ(file[data], c.minimumSize);
    std::vector<uint8_t> lzw;
    subBlockSizes(file, data, &lzw);
    const auto codes = readCodes(lzw, c.minimumSize);
    ASSERT_GE(codes.size(), 2u);
    EXPECT_EQ(codes.front(), std::make_pair(1 << c.minimumSize, c.minimumSize + 1));
    EXPECT_EQ(codes.back().first, (1 << c.minimumSize) + 1);
    EXPECT_EQ(file[data], 0x3B);
    EXPECT_EQ(data + 1, file.size());
  }
}

TEST(GifEncoder, GraphicControlBytes) {
  Image source;
  fillImage(source, 3, 3, 8, [](int x, int) { return x; });
  source.info.frameDelay = 20;
  GifCodec codec;
  codec.setDisposalMethod(2);
  auto file = encodeFrames(codec, {&source});
  const std::size_t gce = 13 + 768 + 19;
  EXPECT_EQ(slice(file, gce, 8), (std::vector<uint8_t>{0x21, 0xF9, 4, 0x08, 0x14, 0, 0xFF, 0}));
  source.info.transparentIndex = 5;
  file = encodeFrames(codec, {&source});
  EXPECT_EQ(slice(file, gce, 8), (std::vector<uint8_t>{0x21, 0xF9, 4, 0x09, 0x14, 0, 0x05, 0}));
  // Disposal is kept to three bits; the delay is written little-endian.
  codec.setDisposalMethod(9);
  source.info.frameDelay = 0x0203;
  file = encodeFrames(codec, {&source});
  EXPECT_EQ(slice(file, gce, 8), (std::vector<uint8_t>{0x21, 0xF9, 4, 0x05, 0x03, 0x02, 5, 0}));
}

TEST(GifEncoder, LoopBlockAndAnimationLayout) {
  Image a;
  Image b;
  fillImage(a, 4, 3, 4, [](int x, int y) { return x + y; });
  fillImage(b, 2, 2, 4, [](int x, int) { return 15 - x; });
  b.info.xOffset = 1;
  b.info.yOffset = 0x102;
  for (int loops : {0, 1}) {
    GifCodec codec;
    codec.setLoopCount(loops);
    const auto file = encodeFrames(codec, {&a, &b});
    EXPECT_EQ(slice(file, 0, 6), (std::vector<uint8_t>{'G', 'I', 'F', '8', '7', 'a'}));
    std::vector<uint8_t> netscape = {0x21, 0xFF, 0x0B};
    for (char ch : std::string("NETSCAPE2.0")) netscape.push_back(uint8_t(ch));
    for (uint8_t v : {3, 1, loops, 0, 0}) netscape.push_back(v);
    std::size_t at = 13 + 48;
    EXPECT_EQ(slice(file, at, 19), netscape);
    at += 19;
    EXPECT_EQ(file[at], 0x21);
    at += 8;
    EXPECT_EQ(slice(file, at, 10), (std::vector<uint8_t>{0x2C, 0, 0, 0, 0, 4, 0, 3, 0, 0}));
    at += 10;
    subBlockSizes(file, at);
    at += 8;
    EXPECT_EQ(slice(file, at, 10), (std::vector<uint8_t>{0x2C, 1, 0, 2, 1, 2, 0, 2, 0, 0}));
    at += 10;
    subBlockSizes(file, at);
    EXPECT_EQ(file[at], 0x3B);
    EXPECT_EQ(at + 1, file.size());
  }
  // A single-image encode has no loop block.
  GifCodec single;
  single.shareFrom(&a);
  const auto file = encodeOne(single);
  EXPECT_EQ(file[13 + 48], 0x21);
  EXPECT_EQ(file[13 + 48 + 1], 0xF9);
}

TEST(GifEncoder, FullTableEmitsClearAtTwelveBits) {
  std::mt19937 random(7);
  Image noise;
  fillImage(noise, 200, 120, 8, [&](int, int) { return int(random() & 255); });
  GifCodec codec;
  codec.shareFrom(&noise);
  const auto file = encodeOne(codec);
  std::size_t at = 13 + 768 + 8 + 10;
  std::vector<uint8_t> lzw;
  const auto sizes = subBlockSizes(file, at, &lzw);
  ASSERT_GT(sizes.size(), 3u);
  for (std::size_t i = 0; i + 1 < sizes.size(); ++i) ASSERT_EQ(sizes[i], 254) << i;
  EXPECT_LE(sizes.back(), 254);

  const auto codes = readCodes(lzw, 8);
  std::size_t clears = 0;
  for (std::size_t i = 1; i < codes.size(); ++i) {
    if (codes[i].first != 256) continue;
    ++clears;
    // Codes 258..4095 were all assigned: 3838 codes after the previous clear, then the pending
    // code, all at 12 bits by the end.
    EXPECT_EQ(codes[i].second, 12);
    EXPECT_EQ(codes[i - 1].second, 12);
    ASSERT_LT(i + 1, codes.size());
    EXPECT_EQ(codes[i + 1].second, 9);
  }
  EXPECT_GE(clears, 1u);
  EXPECT_EQ(codes[3840].first, 256);

  GifCodec back;
  ASSERT_TRUE(decodeBytes(back, file));
  for (int32_t y = 0; y < 120; ++y) {
    for (int32_t x = 0; x < 200; ++x) {
      ASSERT_EQ(indexAt(back, x, y), indexAt(noise, x, y));
    }
  }
}

TEST(GifEncoder, Comment) {
  Image source;
  fillImage(source, 2, 2, 1, [](int x, int) { return x; });
  GifCodec codec;
  const std::string text(300, 'c');
  codec.setCommentText(text.c_str());
  auto file = encodeFrames(codec, {&source});
  ASSERT_GE(file.size(), 260u);
  const std::size_t at = file.size() - 1 - 259;
  EXPECT_EQ(slice(file, at, 3), (std::vector<uint8_t>{0x21, 0xFE, 255}));
  EXPECT_EQ(file[at + 3 + 254], 'c');
  EXPECT_EQ(file[at + 258], 0);
  EXPECT_EQ(file.back(), 0x3B);

  // Even a comment text filling the whole array is cut to 255 bytes.
  std::memset(codec.commentText, 'd', sizeof codec.commentText);
  file = encodeFrames(codec, {&source});
  EXPECT_EQ(file[file.size() - 1 - 259 + 2], 255);

  GifCodec silent;
  file = encodeFrames(silent, {&source});
  EXPECT_EQ(file[file.size() - 2], 0);  // image data terminator, then the trailer
  GifCodec readBack;
  codec.setCommentText("hello");
  ASSERT_TRUE(decodeBytes(readBack, encodeFrames(codec, {&source})));
  EXPECT_STREQ(readBack.commentText, "hello");
}

TEST(GifEncoder, Failures) {
  Image source;
  fillImage(source, 3, 2, 4, [](int x, int) { return x; });
  Image colour(3, 2, 24, FormatBmp);

  GifCodec noStream;
  noStream.shareFrom(&colour);
  EXPECT_FALSE(noStream.encode(nullptr));
  EXPECT_STREQ(noStream.lastError(), "Can't open GIF for writing");

  GifCodec deep;
  deep.shareFrom(&colour);
  OutStream out;
  EXPECT_FALSE(deep.encode(&out.stream));
  EXPECT_STREQ(deep.lastError(), "GIF Images must be 8 bit or less");
  EXPECT_EQ(out.stream.size, 0);

  Image* frames[] = {&source, nullptr};
  GifCodec animation;
  EXPECT_FALSE(animation.encodeAnimation(nullptr, frames, 1));
  EXPECT_STREQ(animation.lastError(), "invalid file pointer");
  for (int count : {0, -1}) {
    EXPECT_FALSE(animation.encodeAnimation(&out.stream, frames, count));
    EXPECT_STREQ(animation.lastError(), "multipage GIF, no images!");
  }
  EXPECT_FALSE(animation.encodeAnimation(&out.stream, nullptr, 2));
  Image* firstMissing[] = {nullptr, &source};
  EXPECT_FALSE(animation.encodeAnimation(&out.stream, firstMissing, 2));
  EXPECT_STREQ(animation.lastError(), "multipage GIF, no images!");
  Image* withColour[] = {&source, &colour};
  EXPECT_FALSE(animation.encodeAnimation(&out.stream, withColour, 2));
  EXPECT_STREQ(animation.lastError(), "GIF Images must be 8 bit or less");
  EXPECT_EQ(out.stream.size, 0);

  // A missing later frame: everything before it stays written, no trailer.
  GifCodec complete;
  const auto whole = encodeFrames(complete, {&source});
  OutStream partial;
  GifCodec broken;
  EXPECT_FALSE(broken.encodeAnimation(&partial.stream, frames, 2));
  EXPECT_STREQ(broken.lastError(), "Bad image pointer");
  EXPECT_EQ(partial.bytes(), slice(whole, 0, whole.size() - 1));
}

TEST(GifEncoder, WriteErrorsAreReported) {
  Image source;
  fillImage(source, 30, 20, 8, [](int x, int y) { return x ^ y; });
  ByteStream unopened;
  unopened.attachFile(nullptr);
  GifCodec single;
  single.shareFrom(&source);
  EXPECT_FALSE(single.encode(&unopened));
  EXPECT_STREQ(single.lastError(), "Write Error in GIF file");
  Image* frames[] = {&source, &source};
  GifCodec animation;
  EXPECT_FALSE(animation.encodeAnimation(&unopened, frames, 2));
  EXPECT_STREQ(animation.lastError(), "Write Error in GIF file");

  std::FILE* full = std::fopen("/dev/full", "wb");
  if (full == nullptr) GTEST_SKIP() << "no /dev/full";
  ByteStream stream;
  stream.attachFile(full);
  GifCodec toFull;
  EXPECT_FALSE(toFull.encodeAnimation(&stream, frames, 2));
  EXPECT_STREQ(toFull.lastError(), "Write Error in GIF file");
  std::fclose(full);
}

// Runs of one value (background 0 above all, long ones, ones across rows) and noise that fills
// the table: every case the codec's shortcut for runs has to agree with the plain hashing on.
TEST(GifEncoder, BytesMatchThePlainHashedCompressor) {
  std::mt19937 random(2024);
  ReferenceStats stats;
  int cases = 0;
  for (uint32_t bits : {1u, 4u, 8u}) {
    const int colors = 1 << bits;
    for (int pattern = 0; pattern < 6; ++pattern) {
      for (auto [w, h] : {std::pair{1, 1}, std::pair{48, 48}, std::pair{7, 300}, std::pair{480, 48},
                          std::pair{256, 256}}) {
        // A background value with blobs of others, runs of random lengths, or plain noise.
        const int background = pattern % 2 == 0 ? 0 : int(random() % unsigned(colors));
        std::vector<uint8_t> runs(std::size_t(w) * std::size_t(h));
        std::size_t at = 0;
        while (at < runs.size()) {
          const int value = pattern >= 4        ? int(random() % unsigned(colors))
                            : random() % 3 != 0 ? background
                                                : int(random() % unsigned(colors));
          const std::size_t length = pattern >= 4 ? 1 : 1 + random() % (pattern < 2 ? 300u : 12u);
          for (std::size_t k = 0; k < length && at < runs.size(); ++k) runs[at++] = uint8_t(value);
        }
        const int minimumSize = bits == 1 ? 2 : int(bits);
        ASSERT_EQ(codecLzw(runs, w, h, bits), plainHashedLzw(runs, minimumSize, stats))
            << bits << " bits, pattern " << pattern << ", " << w << " x " << h;
        ++cases;
      }
    }
  }
  EXPECT_EQ(cases, 90);
}

// One codec writes every frame of an animation: nothing of one frame's strings may leak into
// the next, whether that frame filled the table or used a few slots.
TEST(GifEncoder, AnimationFramesMatchThePlainHashedCompressor) {
  std::mt19937 random(99);
  std::vector<std::vector<uint8_t>> pixels;
  std::vector<Image> frames(6);
  std::vector<Image*> pointers;
  for (std::size_t f = 0; f < frames.size(); ++f) {
    // Sparse blobs on 0, then noise that fills the table, then blobs again.
    const bool noise = f == 2 || f == 3;
    std::vector<uint8_t> p(64 * 64);
    for (auto& v : p) v = uint8_t(noise ? random() % 256 : (random() % 9 == 0 ? random() % 5 : 0));
    fillImage(frames[f], 64, 64, 8, [&](int x, int y) { return p[std::size_t(y * 64 + x)]; });
    pixels.push_back(std::move(p));
    pointers.push_back(&frames[f]);
  }
  GifCodec codec;
  const auto file = encodeFrames(codec, pointers);
  std::size_t at = 13 + 768 + 19;  // screen, table, loop block
  for (std::size_t f = 0; f < frames.size(); ++f) {
    at += 8 + 10;  // graphic control, descriptor
    ASSERT_EQ(file[at], 8);
    std::vector<uint8_t> lzw;
    subBlockSizes(file, at, &lzw);
    ReferenceStats stats;
    EXPECT_EQ(lzw, plainHashedLzw(pixels[f], 8, stats)) << "frame " << f;
  }
  EXPECT_EQ(file[at], 0x3B);
}

// "0 then 0" has key 0, which the probe takes for an empty slot. Placed off its home slot (taken
// here by "16 then 1") it can be overwritten by a later string; the next "0 then 0" then gets a
// new code, and runs of 0 must start again from it.
TEST(GifEncoder, BytesMatchWhenZeroThenZeroDropsOut) {
  std::mt19937 random(5);
  int dropped = 0;
  for (int trial = 0; trial < 8; ++trial) {
    std::vector<uint8_t> pixels = {16, 1, 0, 0, 0, 0, 0, 0};
    // Noise without 0 fills much of the table, then runs of 0 between noise.
    while (pixels.size() < 2400) pixels.push_back(uint8_t(1 + random() % 255));
    while (pixels.size() < 64 * 64) {
      const std::size_t zeros = 1 + random() % 40;
      for (std::size_t k = 0; k < zeros; ++k) pixels.push_back(0);
      for (std::size_t k = random() % 4; k > 0; --k) pixels.push_back(uint8_t(1 + random() % 255));
    }
    pixels.resize(64 * 64);
    ReferenceStats stats;
    ASSERT_EQ(codecLzw(pixels, 64, 64, 8), plainHashedLzw(pixels, 8, stats)) << trial;
    if (stats.keyZeroLost > 0) ++dropped;
  }
  EXPECT_GT(dropped, 0);
}

// Frames of 48 x 48 dithered-looking noise over a few values with 0 among them, each opened by
// a string whose home slot is 0 ("16c then c"), so that "0 then 0" often lands off its home and
// the compressor has to hand the table generation to the hashed table. One workspace writes
// them all, as a converting thread does.
TEST(GifEncoder, BytesMatchWhereZeroThenZeroLandsOffItsHome) {
  std::mt19937 random(13);
  GifWorkspace workspace;
  int offHome = 0;
  int lost = 0;
  for (int frame = 0; frame < 300; ++frame) {
    const int values = 2 + int(random() % 40);
    std::vector<uint8_t> pixels(48 * 48);
    for (auto& v : pixels) v = uint8_t(random() % 3 == 0 ? 0 : random() % unsigned(values));
    const int c = int(random() % 16);
    pixels[std::size_t(random() % 64)] = uint8_t(16 * c);
    for (std::size_t k = 0; k < 40; ++k) {
      const std::size_t at = random() % (pixels.size() - 1);
      pixels[at] = uint8_t(16 * c);
      pixels[at + 1] = uint8_t(c);
    }
    ReferenceStats stats;
    ASSERT_EQ(codecLzw(pixels, 48, 48, 8, &workspace), plainHashedLzw(pixels, 8, stats))
        << "frame " << frame;
    offHome += stats.keyZeroOffHome > 0;
    lost += stats.keyZeroLost > 0;
  }
  // Both the hand-over and the overwriting it exists for were met.
  EXPECT_GT(offHome, 30);
  EXPECT_GT(lost, 3);
}

// The same on one big picture: blocks of such noise, many table generations, each with its
// chance of "0 then 0" off its home.
TEST(GifEncoder, BigPictureBytesMatchWhereZeroThenZeroLandsOffItsHome) {
  std::mt19937 random(17);
  const int32_t w = 640;
  const int32_t h = 480;
  std::vector<uint8_t> pixels(std::size_t(w) * std::size_t(h));
  for (std::size_t at = 0; at < pixels.size(); at += 2304) {
    const int values = 2 + int(random() % 40);
    const int c = int(random() % 16);
    for (std::size_t k = at; k < at + 2304 && k < pixels.size(); ++k) {
      pixels[k] = uint8_t(random() % 3 == 0 ? 0 : random() % unsigned(values));
      if (random() % 50 == 0 && k + 1 < pixels.size()) {
        pixels[k] = uint8_t(16 * c);
        pixels[++k] = uint8_t(c);
      }
    }
  }
  ReferenceStats stats;
  ASSERT_EQ(codecLzw(pixels, w, h, 8), plainHashedLzw(pixels, 8, stats));
  EXPECT_GT(stats.clears, 20);
  EXPECT_GT(stats.keyZeroOffHome, 3);
}

// Pixel values of every width from 1 to 8 bits, in the narrowest picture depth that holds them,
// on pictures big enough to fill the 4096 codes many times over: noise, runs, a mix, and noise
// on a bigger picture.
TEST(GifEncoder, BytesMatchAtEveryDepthThroughFullTableClears) {
  std::mt19937 random(31);
  GifWorkspace workspace;
  for (int depth = 1; depth <= 8; ++depth) {
    const uint32_t bits = depth == 1 ? 1u : depth <= 4 ? 4u : 8u;
    const int minimumSize = bits == 1 ? 2 : int(bits);
    const unsigned values = 1u << depth;
    for (int pattern = 0; pattern < 4; ++pattern) {
      const int32_t w = pattern < 3 ? 320 : 640;
      const int32_t h = pattern < 3 ? 200 : 480;
      std::vector<uint8_t> pixels(std::size_t(w) * std::size_t(h));
      std::size_t at = 0;
      while (at < pixels.size()) {
        const uint8_t value = uint8_t(random() % values);
        const std::size_t length = pattern == 0 || pattern == 3 ? 1
                                   : pattern == 1               ? 1 + random() % 30
                                                                : 1 + random() % 3;
        for (std::size_t k = 0; k < length && at < pixels.size(); ++k) pixels[at++] = value;
      }
      ReferenceStats stats;
      ASSERT_EQ(codecLzw(pixels, w, h, bits, &workspace),
                plainHashedLzw(pixels, minimumSize, stats))
          << depth << "-bit values, pattern " << pattern;
      if (pattern == 0 && depth >= 2) {
        EXPECT_GE(stats.clears, 2) << depth;
      }
    }
  }
}

// Animation frames of the same size go through the compressor two at a time. Each frame must
// still be the hashed compressor's, in every case that compressor has: dithered frames with
// full buckets, frames that open with strings whose home slot is 0 and then make "0 then 0"
// (where the pair hands a frame back), frames that fill the table, a frame left over, frames
// of different sizes, run-heavy frames beside noisy ones, and ramps whose last code goes out
// just before, at or after the step to 10-bit codes.
TEST(GifEncoder, AnimationFramesInPairsMatchThePlainHashedCompressor) {
  std::mt19937 random(41);
  enum Kind { Dithered, HomeZero, Filling, Runs, Ramp };
  struct Case {
    const char* name;
    std::vector<std::pair<int32_t, int32_t>> sizes;
    std::vector<Kind> kinds;
  };
  const std::pair<int32_t, int32_t> small{48, 48};
  const std::vector<Case> cases = {
      {"dithered", std::vector(10, small), std::vector(10, Dithered)},
      {"home zero", std::vector(40, small), std::vector(40, HomeZero)},
      {"filling", std::vector(3, std::pair<int32_t, int32_t>{128, 128}), std::vector(3, Filling)},
      {"sizes",
       {small, {40, 48}, {40, 48}, small, {1, 1}, {1, 1}, {128, 129}, {128, 129}},
       std::vector(8, Dithered)},
      {"runs beside noise",
       std::vector(6, small),
       {Runs, Dithered, Dithered, Runs, HomeZero, Dithered}},
      {"ramps", {{254, 1}, {254, 1}, {255, 1}, {255, 1}, {256, 1}, {256, 1}}, std::vector(6, Ramp)},
  };
  int offHome = 0;
  GifWorkspace workspace;
  for (const Case& c : cases) {
    std::vector<std::vector<uint8_t>> frames;
    for (std::size_t f = 0; f < c.sizes.size(); ++f) {
      std::vector<uint8_t> p(std::size_t(c.sizes[f].first) * std::size_t(c.sizes[f].second));
      const int values = 2 + int(random() % 40);
      for (std::size_t k = 0; k < p.size(); ++k) {
        uint8_t& v = p[k];
        switch (c.kinds[f]) {
          case Dithered:
            v = uint8_t(random() % 256 < 200 ? random() % 256 : random() % 4);
            break;
          case HomeZero:
            v = uint8_t(random() % 3 == 0 ? 0 : random() % unsigned(values));
            break;
          case Filling:
            v = uint8_t(random());
            break;
          case Runs:
            v = uint8_t(random() % 8 == 0 ? random() % 256 : 7);
            break;
          case Ramp:
            v = uint8_t(f % 2 == 0 ? k : 255 - k);
            break;
        }
      }
      if (c.kinds[f] == HomeZero) {
        const uint8_t v = uint8_t(random() % 16);
        for (std::size_t k = 0; k < 40; ++k) {
          const std::size_t at = random() % (p.size() - 1);
          p[at] = uint8_t(16 * v);
          p[at + 1] = v;
        }
      }
      frames.push_back(std::move(p));
    }
    const auto lzw = gif_test::codecAnimationLzw(frames, c.sizes, &workspace);
    for (std::size_t f = 0; f < frames.size(); ++f) {
      ReferenceStats stats;
      ASSERT_EQ(lzw[f], plainHashedLzw(frames[f], 8, stats)) << c.name << ", frame " << f;
      offHome += stats.keyZeroOffHome > 0;
    }
  }
  // Some pairs met the case where a frame is handed back.
  EXPECT_GT(offHome, 5);
}

// decode(encode(image)) gives back the image: size, indices, palette, delay and transparency.
TEST(GifRoundTrip, EveryDepth) {
  std::mt19937 random(11);
  for (uint32_t bits : {1u, 4u, 8u}) {
    for (auto [w, h] : {std::pair{1, 1}, std::pair{17, 3}, std::pair{33, 31}, std::pair{480, 48}}) {
      const int colors = 1 << bits;
      Image source;
      fillImage(source, w, h, bits, [&](int x, int y) {
        return (random() % 4 == 0) ? int(random() % unsigned(colors)) : (x / 3 + y) % colors;
      });
      source.info.frameDelay = 37;
      GifCodec codec;
      codec.shareFrom(&source);
      GifCodec back;
      ASSERT_TRUE(decodeBytes(back, encodeOne(codec)));
      ASSERT_EQ(back.bitCount(), bits);
      ASSERT_EQ(back.width(), w);
      ASSERT_EQ(back.height(), h);
      EXPECT_EQ(back.info.frameDelay, 37u);
      EXPECT_EQ(back.info.transparentIndex, -1);
      for (uint32_t i = 0; i < uint32_t(colors); ++i) {
        const RgbQuad p = back.getPaletteColor(i);
        const RgbQuad q = source.getPaletteColor(i);
        ASSERT_TRUE(p.red == q.red && p.green == q.green && p.blue == q.blue);
      }
      for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) ASSERT_EQ(indexAt(back, x, y), indexAt(source, x, y));
      }
    }
  }
}

TEST(GifRoundTrip, AnimationFrames) {
  std::vector<Image> frames(5);
  std::vector<Image*> pointers;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    fillImage(frames[i], 24, 16, 8, [&](int x, int y) { return int((x + y + 7 * i) % 200); });
    frames[i].info.frameDelay = 20;
    pointers.push_back(&frames[i]);
  }
  GifCodec codec;
  codec.setLoopCount(1);
  codec.setDisposalMethod(2);
  const auto file = encodeFrames(codec, pointers);
  for (int i = 0; i < 5; ++i) {
    GifCodec back;
    back.info.frameIndex = i;
    ASSERT_TRUE(decodeBytes(back, file));
    EXPECT_EQ(back.info.frameCount, 5);
    EXPECT_EQ(back.loopCount(), 1);
    EXPECT_EQ(back.disposalMethod(), 2);
    for (int32_t y = 0; y < 16; ++y) {
      for (int32_t x = 0; x < 24; ++x) {
        ASSERT_EQ(indexAt(back, x, y), indexAt(frames[std::size_t(i)], x, y));
      }
    }
  }
}

}  // namespace
}  // namespace skm
