#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bmp_test_support.h"
#include "codecs/GifCodec.h"
#include "codecs/ImageFile.h"

namespace skm {
namespace {

namespace fs = std::filesystem;

// A 4 x 3 8-bit picture at 96 dpi whose pixels are their own coordinates.
void makePicture(Image& image, uint8_t seed) {
  image.create(4, 3, 8, FormatBmp);
  image.setXDpi(96);
  image.setYDpi(96);
  image.setPaletteColor(seed, 10, 20, 30);
  for (int32_t y = 0; y < 3; ++y) {
    for (int32_t x = 0; x < 4; ++x) image.setPixelIndex(x, y, uint8_t(seed + x + 4 * y));
  }
}

std::vector<uint8_t> bmpBytes(uint8_t seed) {
  Image image;
  makePicture(image, seed);
  return test::encodeImage(image);
}

// Two 1 x 1 frames over a black and white table: frame 0 is index 0, frame 1 index 1.
const std::vector<uint8_t> TwoFrameGif = {
    'G',  'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0,  // screen, 2-entry global table
    0,    0,   0,   255, 255, 255,                          //
    0x2C, 0,   0,   0,   0,   1,   0, 1, 0, 0, 2,    2, 0x44, 0x01, 0,  // frame 0: clear, 0, end
    0x2C, 0,   0,   0,   0,   1,   0, 1, 0, 0, 2,    2, 0x4C, 0x01, 0,  // frame 1: clear, 1, end
    0x3B};

class ImageFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    makePicture(image, 1);
    image.info.transparentIndex = 5;
    image.info.frameIndex = 3;
    image.setLastError(ImageError::Damaged, "earlier message");
    block = image.bitmapBlock;
  }

  void expectPictureKept() {
    EXPECT_EQ(image.bitmapBlock, block);
    EXPECT_EQ(image.width(), 4);
    EXPECT_EQ(image.getPixelIndex(3, 2), 1 + 3 + 8);
    EXPECT_EQ(image.info.transparentIndex, 5);
    EXPECT_EQ(image.info.frameIndex, 3);
  }

  static fs::path tempPath(const std::string& name) {
    return fs::temp_directory_path() / ("skm_imagefile_" + std::to_string(::getpid()) + "_" + name);
  }

  Image image;
  const uint8_t* block = nullptr;
};

TEST_F(ImageFileTest, UnknownFormatTypeChangesNothingButTheMessage) {
  const std::vector<uint8_t> bmp = bmpBytes(7);
  for (int type : {2, -1, 99}) {
    SCOPED_TRACE(type);
    image.setLastError(ImageError::None, "");
    EXPECT_FALSE(loadFromMemory(image, bmp.data(), int32_t(bmp.size()), type));
    EXPECT_STREQ(image.lastError(), "Unsupported operation for this format");
    EXPECT_EQ(image.lastErrorKind(), ImageError::Unsupported);
    expectPictureKept();

    image.setLastError(ImageError::None, "");
    test::OutStream out;
    EXPECT_FALSE(saveToStream(image, out.stream, type));
    EXPECT_STREQ(image.lastError(), "Unsupported operation for this format");
    EXPECT_EQ(out.stream.size, 0);
  }
}

TEST_F(ImageFileTest, FailedLoadKeepsThePictureAndTakesTheDecodersMessage) {
  const uint8_t notGif[] = {'P', 'N', 'G', ' ', 'n', 'o', 't', ' ', 'G', 'I', 'F', 0, 0, 0, 0};
  EXPECT_FALSE(loadFromMemory(image, notGif, sizeof notGif, FormatGif));
  EXPECT_STREQ(image.lastError(), GifNotGifMessage);
  expectPictureKept();

  EXPECT_FALSE(loadFromMemory(image, notGif, 10, FormatBmp));
  EXPECT_STREQ(image.lastError(), "Not a BMP");
  expectPictureKept();

  EXPECT_FALSE(loadFromMemory(image, nullptr, 100, FormatBmp));
  EXPECT_STREQ(image.lastError(), "Not a BMP");
  EXPECT_FALSE(loadFromMemory(image, notGif, 0, FormatBmp));
  EXPECT_FALSE(loadFromMemory(image, notGif, -5, FormatBmp));
  expectPictureKept();
}

TEST_F(ImageFileTest, BmpLoadTakesEverySettingFromTheDecoder) {
  const std::vector<uint8_t> bmp = bmpBytes(40);
  ASSERT_TRUE(loadFromMemory(image, bmp.data(), int32_t(bmp.size()), FormatBmp));
  EXPECT_NE(image.bitmapBlock, block);
  EXPECT_EQ(image.getPixelIndex(3, 2), 40 + 3 + 8);
  EXPECT_EQ(image.getPaletteColor(40).red, 10);
  EXPECT_EQ(image.info.formatType, FormatBmp);
  EXPECT_EQ(image.info.frameIndex, 0);
  EXPECT_EQ(image.info.transparentIndex, -1);
  EXPECT_EQ(image.info.xDpi, 96);
  EXPECT_STREQ(image.lastError(), "");
}

TEST_F(ImageFileTest, GifLoadKeepsTheRequestedFrameIndex) {
  image.info.frameIndex = 1;
  ASSERT_TRUE(loadFromMemory(image, TwoFrameGif.data(), int32_t(TwoFrameGif.size()), FormatGif))
      << image.lastError();
  EXPECT_EQ(image.info.formatType, FormatGif);
  EXPECT_EQ(image.info.frameIndex, 1);
  EXPECT_EQ(image.getPixelIndex(0, 0), 1);

  Image first;
  ASSERT_TRUE(loadFromMemory(first, TwoFrameGif.data(), int32_t(TwoFrameGif.size()), FormatGif));
  EXPECT_EQ(first.info.frameIndex, 0);
  EXPECT_EQ(first.getPixelIndex(0, 0), 0);
}

TEST_F(ImageFileTest, SaveIntoAMissingFolderFailsWithoutAMessage) {
  const fs::path path = tempPath("missing") / "button.bmp";
  EXPECT_FALSE(save(image, path.string().c_str(), FormatBmp));
  EXPECT_STREQ(image.lastError(), "earlier message");
  EXPECT_FALSE(fs::exists(path));
}

TEST_F(ImageFileTest, SaveWritesTheSameBytesAsTheStreamAndLeavesTheMessage) {
  const fs::path path = tempPath("button.bmp");
  ASSERT_TRUE(save(image, path.string().c_str(), FormatBmp));
  EXPECT_STREQ(image.lastError(), "earlier message");
  test::OutStream out;
  ASSERT_TRUE(saveToStream(image, out.stream, FormatBmp));
  std::vector<uint8_t> written(fs::file_size(path));
  std::FILE* f = std::fopen(path.string().c_str(), "rb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fread(written.data(), 1, written.size(), f), written.size());
  std::fclose(f);
  fs::remove(path);
  EXPECT_EQ(written, out.bytes());
  EXPECT_EQ(written.size(), 14u + 40 + 1024 + 12);

  Image back;
  ASSERT_TRUE(loadFromMemory(back, written.data(), int32_t(written.size()), FormatBmp));
  ASSERT_EQ(back.blockSize(), image.blockSize());
  EXPECT_EQ(0, std::memcmp(back.bitmapBlock, image.bitmapBlock, image.blockSize()));
}

#ifdef __linux__
TEST_F(ImageFileTest, SaveOntoAFullDiskFails) {
  // The bytes fit the file buffer, so the loss shows only when the file is closed.
  EXPECT_FALSE(save(image, "/dev/full", FormatBmp));
  Image large(300, 300, 24, FormatBmp);
  EXPECT_FALSE(save(large, "/dev/full", FormatBmp));
}
#endif

TEST_F(ImageFileTest, GifSaveOfATrueColourPictureFailsAndLeavesAnEmptyFile) {
  Image colour(5, 5, 24, FormatBmp);
  const fs::path path = tempPath("colour.gif");
  EXPECT_FALSE(save(colour, path.string().c_str(), FormatGif));
  EXPECT_STREQ(colour.lastError(), "GIF Images must be 8 bit or less");
  ASSERT_TRUE(fs::exists(path));
  EXPECT_EQ(fs::file_size(path), 0u);
  fs::remove(path);
  EXPECT_TRUE(colour.isValid());
}

TEST_F(ImageFileTest, SaveToFileLeavesTheFileOpen) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  ASSERT_TRUE(saveToFile(image, f, FormatBmp));
  EXPECT_EQ(std::fputc('!', f), '!');
  EXPECT_EQ(std::ftell(f), long(14 + 40 + 1024 + 12 + 1));
  EXPECT_EQ(std::fclose(f), 0);
}

}  // namespace
}  // namespace skm
