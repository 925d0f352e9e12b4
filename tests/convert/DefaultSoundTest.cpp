#include "convert/DefaultSound.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "TestFiles.h"

namespace skm {
namespace {

using Bytes = std::vector<uint8_t>;

uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint32_t le16(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}
std::string tag(const uint8_t* p) {
  return std::string(reinterpret_cast<const char*>(p), 4);
}

TEST(DefaultSound, HeaderFieldsAreAtTheirOffsets) {
  ASSERT_EQ(defaultSoundSize(), 8076u);
  const uint8_t* w = defaultSoundData();
  EXPECT_EQ(tag(w + 0), "RIFF");
  EXPECT_EQ(le32(w + 4), 8068u);
  EXPECT_EQ(tag(w + 8), "WAVE");
  EXPECT_EQ(tag(w + 12), "fmt ");
  EXPECT_EQ(le32(w + 16), 30u);
  EXPECT_EQ(le16(w + 20), 0x0055u);
  EXPECT_EQ(le16(w + 22), 1u);
  EXPECT_EQ(le32(w + 24), 8000u);
  EXPECT_EQ(le32(w + 28), 2000u);
  EXPECT_EQ(le16(w + 32), 1u);
  EXPECT_EQ(le16(w + 34), 0u);
  EXPECT_EQ(le16(w + 36), 12u);
  EXPECT_EQ(le16(w + 38), 1u);
  EXPECT_EQ(le32(w + 40), 2u);
  EXPECT_EQ(le16(w + 44), 144u);
  EXPECT_EQ(le16(w + 46), 1u);
  EXPECT_EQ(le16(w + 48), 1393u);
  EXPECT_EQ(tag(w + 50), "fact");
  EXPECT_EQ(le32(w + 54), 4u);
  EXPECT_EQ(le32(w + 58), 32020u);
  EXPECT_EQ(tag(w + 62), "data");
  EXPECT_EQ(le32(w + 66), 8005u);
  EXPECT_EQ(w[8075], 0);
}

// The data holds 144-byte MPEG-2.5 Layer III frames, 16 kbit/s, 8000 Hz, mono.
TEST(DefaultSound, DataIsWholeMpegFrames) {
  const uint8_t* data = defaultSoundData() + 70;
  int frames = 0;
  for (size_t at = 0; at + 4 <= 8005; at += 144, ++frames) {
    SCOPED_TRACE("frame at " + std::to_string(at));
    EXPECT_EQ(data[at], 0xFF);
    EXPECT_EQ(data[at + 1], 0xE3);    // MPEG-2.5, Layer III, no CRC
    EXPECT_EQ(data[at + 2], 0x28);    // 16 kbit/s, 8000 Hz, no padding
    EXPECT_EQ(data[at + 3] >> 6, 3);  // mono
  }
  EXPECT_EQ(frames, 56);
}

TEST(DefaultSound, EmbeddedBytesAreTheCommittedFile) {
  Bytes file = test::readFile(std::string(SKM_SOURCE_DIR) + "/convert/default_sound.wav");
  EXPECT_EQ(file, Bytes(defaultSoundData(), defaultSoundData() + defaultSoundSize()));
}

#ifndef _WIN32
TEST(DefaultSound, FfprobeReadsMonoMp3At8000HzInAWaveFile) {
  if (std::system("command -v ffprobe >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "ffprobe (Debian package ffmpeg) is not installed; skipped";
  test::TempDir dir;
  std::string path = dir.file("sound.wav");
  test::writeFile(path, Bytes(defaultSoundData(), defaultSoundData() + defaultSoundSize()));
  std::string command =
      "ffprobe -v error -show_entries stream=codec_name,sample_rate,channels "
      "-show_entries format=format_name -of default=noprint_wrappers=1 '" +
      path + "'";
  std::FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
  ASSERT_EQ(pclose(pipe), 0) << output;
  EXPECT_NE(output.find("codec_name=mp3\n"), std::string::npos) << output;
  EXPECT_NE(output.find("sample_rate=8000\n"), std::string::npos) << output;
  EXPECT_NE(output.find("channels=1\n"), std::string::npos) << output;
  EXPECT_NE(output.find("format_name=wav\n"), std::string::npos) << output;
}
#endif

}  // namespace
}  // namespace skm
