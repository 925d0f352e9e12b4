#include "convert/Package.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "convert/DefaultSound.h"
#include "convert/FileError.h"
#include "convert/Md5.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace skm {
namespace {

using Bytes = std::vector<uint8_t>;

const std::string kId = "0123456789abcdef0123456789abcdef";

Bytes be32(uint32_t n) {
  return {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts)
    for (uint8_t b : p) out.push_back(b);
  return out;
}

Bytes text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

bool isLowerHex(const std::string& s) {
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

TEST(PackageBytes, LayoutIsExact) {
  Bytes button = text("BMx"), animation = text("GI"), sound = text("R");
  Bytes got = buildPackageBytes({kId, button, animation, sound, "abc"});
  Bytes expected = cat({{0x20},
                        text(kId),
                        be32(3),
                        button,
                        be32(2),
                        animation,
                        be32(1),
                        sound,
                        {0x00, 0x03},
                        text("abc")});
  EXPECT_EQ(got, expected);
  EXPECT_EQ(got.size(), 47u + 3 + 2 + 1 + 3);
  EXPECT_EQ(packageSize({kId, button, animation, sound, "abc"}), got.size());
}

TEST(PackageBytes, EmptyNameEndsTheFileAfterItsLength) {
  std::string id = makeGestureId("");
  ASSERT_EQ(id, "d41d8cd98f00b204e9800998ecf8427e");
  Bytes button(5, 1);
  Bytes got = buildPackageBytes({id, button, {}, {}, ""});
  ASSERT_EQ(got.size(), 47u + 5);
  EXPECT_EQ(got[0], 0x20);
  EXPECT_TRUE(isLowerHex(std::string(got.begin() + 1, got.begin() + 33)));
  EXPECT_EQ(Bytes(got.end() - 10, got.end()), cat({be32(0), be32(0), {0, 0}}));
}

TEST(PackageBytes, LengthsAreBigEndian) {
  Bytes animation(70000, 0x47);
  Bytes sound(defaultSoundData(), defaultSoundData() + defaultSoundSize());
  Bytes got = buildPackageBytes({kId, {}, animation, sound, "n"});
  EXPECT_EQ(Bytes(got.begin() + 37, got.begin() + 41), (Bytes{0x00, 0x01, 0x11, 0x70}));
  size_t soundLengthAt = 41 + 70000;
  EXPECT_EQ(Bytes(got.begin() + soundLengthAt, got.begin() + soundLengthAt + 4),
            (Bytes{0x00, 0x00, 0x1F, 0x8C}));
  EXPECT_EQ(Bytes(got.begin() + soundLengthAt + 4, got.begin() + soundLengthAt + 4 + 8076), sound);
  EXPECT_EQ(Bytes(got.end() - 3, got.end()), (Bytes{0x00, 0x01, 'n'}));
}

TEST(PackageBytes, RejectsAMalformedIdentifier) {
  EXPECT_THROW(buildPackageBytes({"abc", {}, {}, {}, "x"}), std::invalid_argument);
  EXPECT_THROW(buildPackageBytes({kId + "0", {}, {}, {}, "x"}), std::invalid_argument);
  std::string longName(65536, 'a');
  EXPECT_THROW(buildPackageBytes({kId, {}, {}, {}, longName}), std::invalid_argument);
}

TEST(PackageParse, RoundTripsAndCountsTrailingBytes) {
  Bytes button = text("button"), animation = text("anim"), sound = text("snd");
  Bytes bytes = buildPackageBytes({kId, button, animation, sound, "wave"});
  PackageView view = parsePackage(bytes);
  EXPECT_EQ(view.identifier, kId);
  EXPECT_EQ(Bytes(view.button.begin(), view.button.end()), button);
  EXPECT_EQ(Bytes(view.animation.begin(), view.animation.end()), animation);
  EXPECT_EQ(Bytes(view.sound.begin(), view.sound.end()), sound);
  EXPECT_EQ(view.name, "wave");
  EXPECT_EQ(view.trailingBytes, 0u);
  bytes.push_back(0);
  EXPECT_EQ(parsePackage(bytes).trailingBytes, 1u);
}

TEST(PackageParse, EveryTruncationAndAWrongFirstByteAreRejected) {
  Bytes bytes = buildPackageBytes({kId, text("b"), text("an"), text("snd"), "wave"});
  for (size_t cut = 0; cut < bytes.size(); ++cut)
    EXPECT_THROW(parsePackage(std::span<const uint8_t>(bytes.data(), cut)), FileError) << cut;
  // A length that points far past the end must not be trusted.
  Bytes huge = bytes;
  huge[33] = 0xFF;
  EXPECT_THROW(parsePackage(huge), FileError);
  bytes[0] = 'X';
  EXPECT_THROW(parsePackage(bytes), FileError);
}

class PackageFile : public ::testing::Test {
 protected:
  void write(const std::string& path, const Bytes& animation, const std::string& name = "abc") {
    writePackage(path, kId, button.data(), uint32_t(button.size()), animation.data(),
                 uint32_t(animation.size()), sound.data(), uint32_t(sound.size()), name);
  }
  Bytes expected(const Bytes& animation, const std::string& name = "abc") {
    return buildPackageBytes({kId, button, animation, sound, name});
  }

  test::TempDir dir;
  Bytes button = text("BM-button");
  Bytes sound = text("RIFF-sound");
};

TEST_F(PackageFile, WritesExactlyTheBuiltBytesAndNothingElse) {
  std::string path = dir.file("wave.trn");
  write(path, text("GIF89a"));
  EXPECT_EQ(test::readFile(path), expected(text("GIF89a")));
  Bytes file = test::readFile(path);
  EXPECT_EQ(Bytes(file.end() - 5, file.end()), (Bytes{0x00, 0x03, 'a', 'b', 'c'}));
  EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"wave.trn"});
}

TEST_F(PackageFile, OverwritingALongerFileLeavesExactlyTheNewLength) {
  std::string path = dir.file("wave.trn");
  write(path, Bytes(5000, 'x'));
  write(path, text("short"));
  Bytes file = test::readFile(path);
  EXPECT_EQ(file.size(), 47u + button.size() + 5 + sound.size() + 3);
  EXPECT_EQ(file, expected(text("short")));
  EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"wave.trn"});
}

TEST_F(PackageFile, MissingFolderOrAFolderInTheWayRaisesAndLeavesNoTrace) {
  std::string missing = dir.file("no-such-folder/wave.trn");
  try {
    write(missing, text("a"));
    ADD_FAILURE() << "no FileError";
  } catch (const FileError& e) {
    EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
  }

  EXPECT_THROW(write("", text("a")), FileError);
  EXPECT_THROW(write(dir.path().string() + "/", text("a")), FileError);

  std::filesystem::create_directory(dir.path() / "taken.trn");
  std::filesystem::path inside = dir.path() / "taken.trn" / "keep";
  test::writeFile(inside.string(), text("keep"));
  EXPECT_THROW(write(dir.file("taken.trn"), text("a")), FileError);
  EXPECT_EQ(test::readFile(inside.string()), text("keep"));
  EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"taken.trn"});
}

#ifndef _WIN32
// A small file system of its own, so a real write error can be caused. Needs root.
class MountedFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a small tmpfs; skipped";
    mountPoint = dir.path() / "mnt";
    std::filesystem::create_directory(mountPoint);
    if (!run("mount -t tmpfs -o size=64k tmpfs '" + mountPoint.string() + "'"))
      GTEST_SKIP() << "mounting a tmpfs is not permitted here; skipped";
    mounted = true;
  }
  void TearDown() override {
    if (mounted) run("umount '" + mountPoint.string() + "'");
  }
  static bool run(const std::string& command) {
    return std::system((command + " 2>/dev/null").c_str()) == 0;
  }
  void write(const std::string& path, const Bytes& animation) {
    Bytes button = text("BM"), sound = text("RIFF");
    writePackage(path, {kId, button, animation, sound, "abc"});
  }

  test::TempDir dir;
  std::filesystem::path mountPoint;
  bool mounted = false;
};

TEST_F(MountedFolder, FullDiskKeepsTheOldPackageAndLeavesNoTemporaryFile) {
  std::string path = (mountPoint / "wave.trn").string();
  write(path, Bytes(100, 'o'));
  Bytes old = test::readFile(path);
  // Fill what is left of the file system.
  {
    std::FILE* filler = std::fopen((mountPoint / "filler").c_str(), "wb");
    ASSERT_NE(filler, nullptr);
    Bytes block(1024, 0);
    while (std::fwrite(block.data(), 1, block.size(), filler) == block.size()) {
    }
    std::fclose(filler);
  }
  try {
    write(path, Bytes(100000, 'n'));
    ADD_FAILURE() << "no FileError on a full disk";
  } catch (const FileError& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(std::strerror(ENOSPC)), std::string::npos) << e.what();
  }
  EXPECT_EQ(test::readFile(path), old);
  EXPECT_EQ(test::listFolder(mountPoint), (std::vector<std::string>{"filler", "wave.trn"}));
}

TEST_F(MountedFolder, ReadOnlyFolderKeepsTheOldPackage) {
  std::string path = (mountPoint / "wave.trn").string();
  write(path, Bytes(100, 'o'));
  Bytes old = test::readFile(path);
  ASSERT_TRUE(run("mount -o remount,ro '" + mountPoint.string() + "'"));
  try {
    write(path, Bytes(10, 'n'));
    ADD_FAILURE() << "no FileError in a read-only folder";
  } catch (const FileError& e) {
    EXPECT_NE(std::string(e.what()).find(std::strerror(EROFS)), std::string::npos) << e.what();
  }
  EXPECT_EQ(test::readFile(path), old);
  EXPECT_EQ(test::listFolder(mountPoint), std::vector<std::string>{"wave.trn"});
}
#endif

}  // namespace
}  // namespace skm
