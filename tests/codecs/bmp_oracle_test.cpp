// Oracle tests: BMPs written by ImageMagick and Pillow decode here to the pixels Pillow reads from
// them, and the BMPs written here open in Pillow and ImageMagick with our pixels and resolution.
// Every test skips when a tool is missing.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "bmp_test_support.h"
#include "codecs/BmpCodec.h"

namespace skm {
namespace {

namespace fs = std::filesystem;

const char* const Python = "/usr/bin/python3";
const char* const Convert = "/usr/bin/convert";
const char* const Identify = "/usr/bin/identify";

std::string helperScript() {
  return std::string(SKM_SOURCE_DIR) + "/tests/codecs/bmp_oracle_helper.py";
}

std::string quoted(const std::string& text) {
  return "'" + text + "'";
}

bool runQuietly(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a command and returns its standard output, or nothing when it fails.
bool capture(const std::string& command, std::string& output) {
  output.clear();
  std::FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return false;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  return pclose(pipe) == 0;
}

std::vector<uint8_t> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool havePillow() {
  return access(Python, X_OK) == 0 && runQuietly(std::string(Python) + " -c 'import PIL'");
}
bool haveImageMagick() {
  return access(Convert, X_OK) == 0 && access(Identify, X_OK) == 0;
}

struct Variant {
  const char* name;
  const char* tool;  // "im": made by the command below; "py": by the helper; "flip": of source
  const char* source;
  const char* options;
  uint32_t bits;
  uint32_t compression;
  uint32_t headerSize;
  bool topDown;
};

// ImageMagick writes a 40-byte header for "bmp3:", a 124-byte one for "bmp:" and the OS/2 core
// header for "bmp2:". It cannot write RLE4 or 16-bit data without bit fields; the helper writes
// those by hand and checks them against Pillow.
const Variant Variants[] = {
    {"im_1", "im", "p2.ppm", "-type Bilevel bmp3:", 1, 0, 40, false},
    {"im_4", "im", "p16.ppm", "-type Palette -compress None bmp3:", 4, 0, 40, false},
    {"im_4_v5", "im", "p16.ppm", "-type Palette -compress None bmp:", 4, 0, 124, false},
    {"im_8", "im", "rich.ppm", "-type Palette -compress None bmp3:", 8, 0, 40, false},
    {"im_8_v5", "im", "rich.ppm", "-type Palette -compress None bmp:", 8, 0, 124, false},
    {"im_rle8", "im", "rich.ppm", "-type Palette -compress RLE bmp3:", 8, 1, 40, false},
    {"im_rle8_v5", "im", "rich.ppm", "-type Palette -compress RLE bmp:", 8, 1, 124, false},
    {"im_24", "im", "rich.ppm", "-type TrueColor bmp3:", 24, 0, 40, false},
    {"im_565", "im", "rich.ppm", "-define bmp:subtype=RGB565 bmp:", 16, 3, 124, false},
    {"im_555", "im", "rich.ppm", "-define bmp:subtype=RGB555 bmp:", 16, 3, 124, false},
    {"im_1555", "im", "rich.ppm", "-alpha on -define bmp:subtype=ARGB1555 bmp:", 16, 3, 124, false},
    {"im_32", "im", "rich.ppm", "-alpha on -type TrueColorAlpha bmp:", 32, 3, 124, false},
    {"im_core_1", "im", "p2.ppm", "-type Bilevel bmp2:", 1, 0, 12, false},
    {"im_core_4", "im", "p16.ppm", "-type Palette bmp2:", 4, 0, 12, false},
    {"im_core_8", "im", "rich.ppm", "-type Palette bmp2:", 8, 0, 12, false},
    {"im_core_24", "im", "rich.ppm", "-type TrueColor bmp2:", 24, 0, 12, false},
    {"pil_1", "py", "", "", 1, 0, 40, false},
    {"pil_p8", "py", "", "", 8, 0, 40, false},
    {"pil_24", "py", "", "", 24, 0, 40, false},
    {"py_rle4", "py", "", "", 4, 2, 40, false},
    {"py_rgb16", "py", "", "", 16, 0, 40, false},
    {"td_pil_24", "flip", "pil_24", "", 24, 0, 40, true},
    {"td_pil_p8", "flip", "pil_p8", "", 8, 0, 40, true},
    {"td_im_4", "flip", "im_4", "", 4, 0, 40, true},
    {"td_im_565", "flip", "im_565", "", 16, 3, 124, true},
    {"td_im_32", "flip", "im_32", "", 32, 3, 124, true},
};

class BmpOracle : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!havePillow() || !haveImageMagick()) return;
    char pattern[] = "/tmp/skm_bmp_oracle_XXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    folder_ = new fs::path(pattern);
    const std::string dir = folder_->string();
    made_ = runQuietly(std::string(Python) + " " + quoted(helperScript()) + " make " + quoted(dir));
    for (const Variant& v : Variants) {
      const std::string target = quoted(dir + "/" + v.name + ".bmp");
      if (std::string(v.tool) == "im") {
        made_ &= runQuietly(std::string(Convert) + " " + quoted(dir + "/" + v.source) + " " +
                            v.options + target);
      } else if (std::string(v.tool) == "flip") {
        made_ &= runQuietly(std::string(Python) + " " + quoted(helperScript()) + " flip " +
                            quoted(dir + "/" + v.source + ".bmp") + " " + target);
      }
    }
  }

  static void TearDownTestSuite() {
    if (folder_ != nullptr) fs::remove_all(*folder_);
    delete folder_;
    folder_ = nullptr;
  }

  void SetUp() override {
    if (!havePillow()) GTEST_SKIP() << "Pillow (/usr/bin/python3 with PIL) is not installed";
    if (!haveImageMagick()) GTEST_SKIP() << "ImageMagick (/usr/bin/convert) is not installed";
    ASSERT_NE(folder_, nullptr);
    ASSERT_TRUE(made_) << "generating the oracle files failed";
  }

  static fs::path file(const std::string& name) { return *folder_ / name; }

  // Pillow's reading of a BMP: RGB bytes with the top row first, plus size and resolution.
  struct PillowView {
    int width = 0, height = 0, xDpi = 0, yDpi = 0;
    std::vector<uint8_t> rgb;
  };
  static bool pillowReads(const fs::path& bmp, PillowView& view) {
    const fs::path raw = bmp.string() + ".pil.rgb";
    std::string out;
    if (!capture(std::string(Python) + " " + quoted(helperScript()) + " dump " +
                     quoted(bmp.string()) + " " + quoted(raw.string()),
                 out)) {
      return false;
    }
    std::istringstream(out) >> view.width >> view.height >> view.xDpi >> view.yDpi;
    view.rgb = readFile(raw);
    return true;
  }

  static inline fs::path* folder_ = nullptr;
  static inline bool made_ = false;
};

// Our picture as RGB bytes, top row first.
std::vector<uint8_t> rgbOf(const Image& image) {
  std::vector<uint8_t> rgb;
  for (int32_t y = image.height() - 1; y >= 0; --y) {
    for (int32_t x = 0; x < image.width(); ++x) {
      const RgbQuad c = image.getPixelColor(x, y);
      rgb.insert(rgb.end(), {c.red, c.green, c.blue});
    }
  }
  return rgb;
}

TEST_F(BmpOracle, FilesOfOtherWritersDecodeToTheirPixels) {
  for (const Variant& v : Variants) {
    SCOPED_TRACE(v.name);
    const std::vector<uint8_t> bytes = readFile(file(std::string(v.name) + ".bmp"));
    ASSERT_GT(bytes.size(), 30u);
    // The file is the variant it claims to be.
    const uint32_t headerSize = bytes[14] | bytes[15] << 8;
    ASSERT_EQ(headerSize, v.headerSize);
    if (headerSize == 12) {
      ASSERT_EQ(bytes[24], v.bits);
    } else {
      ASSERT_EQ(bytes[28], v.bits);
      ASSERT_EQ(bytes[30], v.compression);
      ASSERT_EQ(bytes[25] == 0xFF, v.topDown);
    }

    PillowView pillow;
    ASSERT_TRUE(pillowReads(file(std::string(v.name) + ".bmp"), pillow));
    BmpCodec codec;
    ASSERT_TRUE(test::decodeBytes(codec, bytes)) << codec.lastError();
    ASSERT_EQ(codec.width(), pillow.width);
    ASSERT_EQ(codec.height(), pillow.height);
    EXPECT_EQ(codec.bitCount(), v.bits > 8 ? 24u : v.bits);

    std::vector<uint8_t> ours = rgbOf(codec);
    ASSERT_EQ(ours.size(), pillow.rgb.size());
    if (v.bits == 16) {
      // We widen 5 and 6-bit values by shifting (31 gives 248); Pillow scales them. The bits
      // the file holds must agree.
      const bool sixBitGreen = std::string(v.name).find("565") != std::string::npos;
      for (std::size_t i = 0; i < ours.size(); ++i) {
        pillow.rgb[i] &= (i % 3 == 1 && sixBitGreen) ? 0xFC : 0xF8;
      }
    }
    EXPECT_EQ(ours, pillow.rgb);
    std::size_t distinct = 0;
    for (std::size_t i = 3; i < ours.size(); i += 3) distinct += ours[i] != ours[i - 3];
    EXPECT_GT(distinct, 0u) << "a flat picture proves little";
  }
}

void fillPattern(Image& image, uint32_t bits) {
  image.create(13, 7, bits, FormatBmp);
  image.setXDpi(96);
  image.setYDpi(150);
  for (uint32_t i = 0; i < image.paletteEntries(); ++i) {
    image.setPaletteColor(i, uint8_t(i * 37), uint8_t(255 - i * 5), uint8_t(i * 11));
  }
  for (int32_t y = 0; y < 7; ++y) {
    for (int32_t x = 0; x < 13; ++x) {
      if (bits == 24) {
        image.setPixelRGB(x, y, uint32_t(x * 19 | (y * 36) << 8 | ((x ^ y) * 20) << 16));
      } else {
        image.setPixelIndex(x, y, uint8_t(x * 3 + y * 7));
      }
    }
  }
}

bool writeBmp(Image& image, const fs::path& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  ByteStream stream;
  stream.attachFile(f);
  BmpCodec codec;
  codec.shareFrom(&image);
  const bool written = codec.encode(&stream);
  return std::fclose(f) == 0 && written;
}

TEST_F(BmpOracle, OurFilesOpenInPillowWithOurPixelsAndResolution) {
  for (uint32_t bits : {1u, 4u, 8u, 24u}) {
    SCOPED_TRACE(bits);
    Image image;
    fillPattern(image, bits);
    const fs::path path = file("ours_" + std::to_string(bits) + ".bmp");
    ASSERT_TRUE(writeBmp(image, path));
    PillowView pillow;
    ASSERT_TRUE(pillowReads(path, pillow));
    EXPECT_EQ(pillow.width, 13);
    EXPECT_EQ(pillow.height, 7);
    EXPECT_EQ(pillow.xDpi, 96);
    EXPECT_EQ(pillow.yDpi, 150);
    EXPECT_EQ(pillow.rgb, rgbOf(image));
  }
}

TEST_F(BmpOracle, OurFilesOpenInImageMagickWithOurPixelsAndResolution) {
  for (uint32_t bits : {1u, 4u, 8u, 24u}) {
    SCOPED_TRACE(bits);
    Image image;
    fillPattern(image, bits);
    const fs::path path = file("ours_im_" + std::to_string(bits) + ".bmp");
    const fs::path raw = path.string() + ".im.rgb";
    ASSERT_TRUE(writeBmp(image, path));
    std::string out;
    ASSERT_TRUE(
        capture(std::string(Identify) + " -format '%w %h %x %y %U' " + quoted(path.string()), out));
    int width = 0, height = 0;
    double xRes = 0, yRes = 0;
    std::string units;
    std::istringstream(out) >> width >> height >> xRes >> yRes >> units;
    EXPECT_EQ(width, 13);
    EXPECT_EQ(height, 7);
    EXPECT_EQ(units, "PixelsPerCentimeter");
    EXPECT_NEAR(xRes, 37.80, 0.005);  // 3780 pixels per metre, 96 dpi
    EXPECT_NEAR(yRes, 59.06, 0.005);  // 5906 pixels per metre, 150 dpi
    ASSERT_TRUE(runQuietly(std::string(Convert) + " " + quoted(path.string()) +
                           " -depth 8 rgb:" + quoted(raw.string())));
    EXPECT_EQ(readFile(raw), rgbOf(image));
  }
}

}  // namespace
}  // namespace skm
