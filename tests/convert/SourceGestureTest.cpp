#include "convert/SourceGesture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "TestFiles.h"
#include "convert/FileError.h"

namespace skm {
namespace {

using Bytes = std::vector<uint8_t>;

// Loops rather than vector::insert, which trips GCC 12's bounds warnings here.
void append(Bytes& out, const Bytes& b) {
  for (uint8_t x : b) out.push_back(x);
}

// Builds source gesture files field by field, with defaults for a small valid gesture.
struct GestureFile {
  Bytes version = {'0', '1', '0', '0'};
  Bytes name = {'w', 'a', 'v', 'e'};
  Bytes flags = {0, 0, 0, 9};  // FlagSound | FlagLoop
  Bytes frameWidth = {0x00, 0x40};
  Bytes value24 = {0x01, 0x02, 0x03};
  Bytes tail = {7, 200, 0x80};  // byteField1, byteField2, switchField
  Bytes button = {'B', '1', '2'};
  Bytes strip = {'S', '1', '2', '3', '4'};
  Bytes sound = {'W', 'V'};
  bool writeSound = true;
  Bytes trailing;

  static void blob(Bytes& out, const Bytes& b) {
    uint32_t n = uint32_t(b.size());
    append(out, {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
    append(out, b);
  }

  Bytes bytes() const {
    Bytes out = {'S', 'K', 'M', 'G'};
    append(out, version);
    out.push_back(uint8_t(name.size()));
    append(out, name);
    for (const Bytes* b : {&flags, &frameWidth, &value24, &tail}) append(out, *b);
    for (int i = 0; i < 28; ++i) out.push_back(uint8_t(0xA0 + i));
    blob(out, button);
    blob(out, strip);
    if (writeSound) blob(out, sound);
    append(out, trailing);
    return out;
  }
};

Bytes blobBytes(const Blob& b) {
  return b.data ? Bytes(b.data, b.data + b.size) : Bytes();
}

void expectDefaults(const SourceGesture& g) {
  EXPECT_EQ(g.version, "0100");
  EXPECT_EQ(g.name, "");
  EXPECT_EQ(g.flags, 0u);
  EXPECT_EQ(g.frameWidth, 0);
  EXPECT_EQ(g.value24, 0u);
  EXPECT_EQ(g.byteField1, 0u);
  EXPECT_EQ(g.byteField2, 0u);
  EXPECT_EQ(g.switchField, 0u);
  for (const Blob* b : {&g.button, &g.strip, &g.sound}) {
    EXPECT_EQ(b->data, nullptr);
    EXPECT_EQ(b->size, 0u);
  }
}

class SourceGestureTest : public ::testing::Test {
 protected:
  // Reads bytes through a real file, the way the conversion job does.
  int readBytes(const Bytes& bytes) {
    std::string path = dir.file("g.skm");
    test::writeFile(path, bytes);
    return gesture.read(path);
  }

  test::TempDir dir;
  SourceGesture gesture;
};

TEST_F(SourceGestureTest, ReadsEveryFieldOfAFullFile) {
  GestureFile f;
  f.trailing = {1, 2, 3, 4, 5, 6, 7, 8, 9};  // ignored after the last blob
  ASSERT_EQ(readBytes(f.bytes()), 1);
  EXPECT_EQ(gesture.path, dir.file("g.skm"));
  EXPECT_EQ(gesture.version, "0100");
  EXPECT_EQ(gesture.getName(), "wave");
  EXPECT_EQ(gesture.flags, FlagSound | FlagLoop);
  EXPECT_EQ(gesture.frameWidth, 64);
  EXPECT_EQ(gesture.value24, 197121u);
  EXPECT_EQ(gesture.byteField1, 7u);
  EXPECT_EQ(gesture.byteField2, 200u);
  EXPECT_EQ(gesture.switchField, 1u);
  EXPECT_EQ(blobBytes(gesture.button), f.button);
  EXPECT_EQ(blobBytes(gesture.strip), f.strip);
  EXPECT_EQ(blobBytes(gesture.sound), f.sound);

  SourceGesture fromMemory;
  Bytes bytes = f.bytes();
  ASSERT_EQ(fromMemory.readFromMemory(bytes.data(), bytes.size()), 1);
  EXPECT_EQ(fromMemory.getName(), "wave");
  EXPECT_EQ(blobBytes(fromMemory.sound), f.sound);
  EXPECT_EQ(fromMemory.path, "");
}

TEST_F(SourceGestureTest, EmptyNamePutsTheFlagsAtOffsetNine) {
  GestureFile f;
  f.name.clear();
  f.flags = {0x12, 0x34, 0x56, 0x79};  // bit 3 set: a sound follows
  Bytes bytes = f.bytes();
  ASSERT_EQ(bytes[8], 0);
  ASSERT_EQ(bytes[9], 0x12);
  ASSERT_EQ(readBytes(bytes), 1);
  EXPECT_EQ(gesture.name, "");
  EXPECT_EQ(gesture.flags, 0x12345679u);
  EXPECT_EQ(gesture.frameWidth, 64);
  EXPECT_EQ(blobBytes(gesture.sound), f.sound);
}

TEST_F(SourceGestureTest, ZeroBytesCutVersionAndNameButNotTheirLength) {
  GestureFile f;
  f.version = {'0', '1', 0, 0};
  f.name = {'a', 'b', 0, 'c', 'd'};
  ASSERT_EQ(readBytes(f.bytes()), 1);
  EXPECT_EQ(gesture.version, "01");
  EXPECT_EQ(gesture.name, "ab");
  // The fields after the name are still found at 9 + 5.
  EXPECT_EQ(gesture.flags, 9u);
  EXPECT_EQ(blobBytes(gesture.button), f.button);
}

TEST_F(SourceGestureTest, LongestNameIs255Bytes) {
  GestureFile f;
  f.name.assign(255, 'n');
  ASSERT_EQ(readBytes(f.bytes()), 1);
  EXPECT_EQ(gesture.name, std::string(255, 'n'));
  EXPECT_EQ(blobBytes(gesture.strip), f.strip);
}

TEST_F(SourceGestureTest, FrameWidthIsSignedSixteenBits) {
  const std::pair<Bytes, int32_t> cases[] = {{{0xFF, 0xFF}, -1},
                                             {{0x00, 0x40}, 64},
                                             {{0x80, 0x00}, -32768},
                                             {{0x7F, 0xFF}, 32767},
                                             {{0x01, 0x00}, 256}};
  for (const auto& [bytes, expected] : cases) {
    GestureFile f;
    f.frameWidth = bytes;
    SourceGesture g;
    Bytes file = f.bytes();
    ASSERT_EQ(g.readFromMemory(file.data(), file.size()), 1);
    EXPECT_EQ(g.frameWidth, expected);
  }
}

TEST_F(SourceGestureTest, Value24IsLeastSignificantByteFirst) {
  GestureFile f;
  f.value24 = {0xFF, 0x00, 0x80};
  ASSERT_EQ(readBytes(f.bytes()), 1);
  EXPECT_EQ(gesture.value24, 0x8000FFu);
}

TEST_F(SourceGestureTest, SwitchFieldIsZeroOrOne) {
  for (uint8_t c : {0x00, 0x01, 0x80, 0xFF}) {
    GestureFile f;
    f.tail[2] = c;
    SourceGesture g;
    Bytes file = f.bytes();
    ASSERT_EQ(g.readFromMemory(file.data(), file.size()), 1);
    EXPECT_EQ(g.switchField, c ? 1u : 0u) << int(c);
  }
}

TEST_F(SourceGestureTest, SoundBlobFollowsOnlyBitThreeOfTheBigEndianFlags) {
  GestureFile with;
  with.flags = {0, 0, 0, 8};
  ASSERT_EQ(readBytes(with.bytes()), 1);
  EXPECT_EQ(gesture.flags, 8u);
  EXPECT_EQ(blobBytes(gesture.sound), with.sound);

  // Little-endian 8 is bit 27: the sound in the file is not read.
  GestureFile without;
  without.flags = {8, 0, 0, 0};
  gesture.reset();
  ASSERT_EQ(readBytes(without.bytes()), 1);
  EXPECT_EQ(gesture.flags, 0x08000000u);
  EXPECT_EQ(gesture.sound.data, nullptr);
  EXPECT_EQ(gesture.sound.size, 0u);
}

TEST_F(SourceGestureTest, MissingSoundIsFineWhenTheFlagIsClear) {
  GestureFile f;
  f.flags = {0, 0, 0, 1};
  f.writeSound = false;
  ASSERT_EQ(readBytes(f.bytes()), 1);
  EXPECT_EQ(gesture.sound.size, 0u);
  EXPECT_EQ(blobBytes(gesture.strip), f.strip);
}

TEST_F(SourceGestureTest, ZeroLengthBlobIsEmptyAndTheNextFollowsAtOnce) {
  GestureFile f;
  f.button.clear();
  f.sound.clear();
  ASSERT_EQ(readBytes(f.bytes()), 1);
  EXPECT_EQ(gesture.button.data, nullptr);
  EXPECT_EQ(gesture.button.size, 0u);
  EXPECT_EQ(blobBytes(gesture.strip), f.strip);
  EXPECT_EQ(gesture.sound.data, nullptr);
  EXPECT_EQ(gesture.sound.size, 0u);
}

TEST_F(SourceGestureTest, NonGestureFilesReturnZeroAndKeepTheDefaults) {
  EXPECT_EQ(gesture.read(""), 0);
  EXPECT_EQ(gesture.path, "");
  expectDefaults(gesture);

  EXPECT_EQ(gesture.read(dir.file("missing.skm")), 0);
  EXPECT_EQ(gesture.path, dir.file("missing.skm"));
  expectDefaults(gesture);

  EXPECT_EQ(gesture.read(dir.path().string()), 0);  // a folder
  expectDefaults(gesture);

  Bytes wrongMagic = GestureFile().bytes();
  wrongMagic[3] = 'X';
  EXPECT_EQ(readBytes(wrongMagic), 0);
  EXPECT_EQ(gesture.path, dir.file("g.skm"));
  expectDefaults(gesture);

  for (Bytes shortFile : {Bytes{}, Bytes{'S'}, Bytes{'S', 'K', 'M'}}) {
    EXPECT_EQ(readBytes(shortFile), 0);
    expectDefaults(gesture);
    EXPECT_EQ(gesture.readFromMemory(shortFile.data(), shortFile.size()), 0);
  }
  EXPECT_EQ(gesture.readFromMemory(nullptr, 100), 0);
  expectDefaults(gesture);
}

// Cutting a valid file anywhere gives 0 (inside the magic) or a FileError naming the damage;
// through a file and through memory alike, and never a crash.
TEST_F(SourceGestureTest, TruncationAtEveryOffsetIsReportedAsDamage) {
  Bytes full = GestureFile().bytes();
  for (size_t cut = 0; cut < full.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    Bytes part(full.begin(), full.begin() + cut);
    SourceGesture fromFile, fromMemory;
    if (cut < 4) {
      EXPECT_EQ(readBytes(part), 0);
      EXPECT_EQ(fromMemory.readFromMemory(part.data(), part.size()), 0);
      continue;
    }
    test::writeFile(dir.file("cut.skm"), part);
    try {
      fromFile.read(dir.file("cut.skm"));
      ADD_FAILURE() << "no FileError";
    } catch (const FileError& e) {
      EXPECT_NE(std::string(e.what()).find("runs past the end of the file"), std::string::npos)
          << e.what();
      // The caller names the file and says "damaged file"; the message only says where.
      EXPECT_EQ(std::string(e.what()).find("damaged"), std::string::npos) << e.what();
    }
    EXPECT_THROW(fromMemory.readFromMemory(part.data(), part.size()), FileError);
  }
}

TEST_F(SourceGestureTest, FieldsReadBeforeDamageStaySet) {
  GestureFile f;
  Bytes bytes = f.bytes();
  bytes.resize(bytes.size() - 3);  // inside the sound
  EXPECT_THROW(readBytes(bytes), FileError);
  EXPECT_EQ(gesture.name, "wave");
  EXPECT_EQ(gesture.frameWidth, 64);
  EXPECT_EQ(blobBytes(gesture.button), f.button);
  EXPECT_EQ(blobBytes(gesture.strip), f.strip);
  EXPECT_EQ(gesture.sound.data, nullptr);
}

TEST_F(SourceGestureTest, HugeBlobLengthInASmallFileIsDamageNotAnAllocation) {
  GestureFile f;
  Bytes bytes = f.bytes();
  size_t lengthAt = 4 + 4 + 1 + f.name.size() + 4 + 2 + 3 + 3 + 28;
  for (uint32_t length : {0xFFFFFFFFu, 0x80000000u, uint32_t(bytes.size())}) {
    bytes[lengthAt] = uint8_t(length >> 24);
    bytes[lengthAt + 1] = uint8_t(length >> 16);
    bytes[lengthAt + 2] = uint8_t(length >> 8);
    bytes[lengthAt + 3] = uint8_t(length);
    SourceGesture g;
    try {
      readBytes(bytes);
      ADD_FAILURE() << "no FileError for length " << length;
    } catch (const FileError& e) {
      EXPECT_NE(std::string(e.what()).find("the button picture runs past"), std::string::npos)
          << e.what();
    }
  }
}

TEST_F(SourceGestureTest, SetBlobCopiesAndResetReleases) {
  uint8_t source[3] = {1, 2, 3};
  gesture.setBlob(gesture.sound, source, 3);
  source[0] = 9;
  EXPECT_EQ(blobBytes(gesture.sound), (Bytes{1, 2, 3}));

  gesture.setBlob(gesture.sound, nullptr, 3);
  EXPECT_EQ(gesture.sound.data, nullptr);
  EXPECT_EQ(gesture.sound.size, 0u);
  gesture.setBlob(gesture.sound, source, 0);
  EXPECT_EQ(gesture.sound.data, nullptr);

  ASSERT_EQ(readBytes(GestureFile().bytes()), 1);
  gesture.reset();
  expectDefaults(gesture);
  EXPECT_EQ(gesture.path, "");
}

TEST_F(SourceGestureTest, ReadDoesNotResetFirst) {
  ASSERT_EQ(readBytes(GestureFile().bytes()), 1);
  GestureFile noSound;
  noSound.flags = {0, 0, 0, 0};
  noSound.name = {'x'};
  ASSERT_EQ(readBytes(noSound.bytes()), 1);
  EXPECT_EQ(gesture.name, "x");
  // The previous file's sound stays until the caller resets.
  EXPECT_EQ(blobBytes(gesture.sound), GestureFile().sound);
}

TEST_F(SourceGestureTest, UnreadableFilesGiveTheSystemsReason) {
  EXPECT_EQ(gesture.read(dir.file("missing.skm")), 0);
  EXPECT_EQ(gesture.readError, std::strerror(ENOENT));
  EXPECT_EQ(gesture.read(dir.path().string()), 0);
  EXPECT_EQ(gesture.readError, "is a folder");
  ASSERT_EQ(readBytes(GestureFile().bytes()), 1);
  EXPECT_EQ(gesture.readError, "");
}

#ifndef _WIN32
// A FIFO cannot seek or tell its length; it is read to its end like any stream.
TEST_F(SourceGestureTest, ReadsAFifoWithoutSeeking) {
  GestureFile f;
  Bytes bytes = f.bytes();
  std::string fifo = dir.file("pipe.skm");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] {
    int fd = open(fifo.c_str(), O_WRONLY);
    // Two writes, so the reader must go on past the first.
    std::size_t half = bytes.size() / 2;
    EXPECT_EQ(write(fd, bytes.data(), half), ssize_t(half));
    EXPECT_EQ(write(fd, bytes.data() + half, bytes.size() - half), ssize_t(bytes.size() - half));
    close(fd);
  });
  int result = gesture.read(fifo);
  writer.join();
  ASSERT_EQ(result, 1) << gesture.readError;
  EXPECT_EQ(gesture.name, "wave");
  EXPECT_EQ(blobBytes(gesture.strip), f.strip);
}
#endif

}  // namespace
}  // namespace skm
