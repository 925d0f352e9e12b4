#include "convert/FilePath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "convert/FileError.h"
#include "convert/Package.h"
#include "convert/SourceGesture.h"

namespace skm {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// Names beyond any single code page: Cyrillic, accented Latin, CJK and one outside the BMP.
const std::string kCyrillic = "\xD0\xB6\xD0\xB5\xD1\x81\xD1\x82";  // жест
const std::string kAccented = "caf\xC3\xA9";                       // café
const std::string kCjk = "\xE6\xB3\xA2";                           // 波
const std::string kEmoji = "\xF0\x9F\x98\x80";                     // U+1F600

TEST(Utf8Utf16, ConvertsEveryPlaneBothWays) {
  const std::string text = "a" + kCyrillic + kAccented + kCjk + kEmoji;
  const std::u16string expected = u"a\u0436\u0435\u0441\u0442caf\u00e9\u6ce2\xD83D\xDE00";
  EXPECT_EQ(utf16FromUtf8(text), expected);
  EXPECT_EQ(utf8FromUtf16(expected), text);
  EXPECT_EQ(utf16FromUtf8(""), u"");
}

TEST(DeviceNames, WindowsDevicesInAnyCaseWithAnyExtension) {
  for (const char* name : {"CON", "con.skm", "Aux.SKM", "nul.x.trn", "prn", "COM1.skm", "lpt9",
                           "com\xC2\xB9.skm", "CONIN$", "conout$.txt", "AUX .skm"}) {
    EXPECT_TRUE(isWindowsDeviceName(name)) << name;
  }
  for (const char* name : {"COM0.skm", "LPT10", "cons.skm", "xaux.skm", "COM", "lpt", ".con",
                           "wave.skm", "com\xC2\xB4.skm", ""}) {
    EXPECT_FALSE(isWindowsDeviceName(name)) << name;
  }
}

TEST(Utf8Utf16, UnpairedSurrogatesSurviveTheRoundTrip) {
  // Windows accepts them in file names; such a file must open again under the name we listed.
  const std::u16string lone = u"x\xD800y\xDC00";
  const std::string encoded = utf8FromUtf16(lone);
  EXPECT_EQ(encoded, "x\xED\xA0\x80y\xED\xB0\x80");
  EXPECT_EQ(utf16FromUtf8(encoded), lone);
  // A high surrogate at the very end stays unpaired.
  EXPECT_EQ(utf16FromUtf8(utf8FromUtf16(u"\xD83D")), u"\xD83D");
}

TEST(Utf8Utf16, MalformedBytesBecomeReplacementCharacters) {
  EXPECT_EQ(utf16FromUtf8("a\x80z"), u"a\uFFFDz");                  // stray continuation
  EXPECT_EQ(utf16FromUtf8("a\xC3"), u"a\uFFFD");                    // cut short at the end
  EXPECT_EQ(utf16FromUtf8("\xC3z"), u"\uFFFDz");                    // cut short by ASCII
  EXPECT_EQ(utf16FromUtf8("\xC0\xAF"), u"\uFFFD\uFFFD");            // overlong '/'
  EXPECT_EQ(utf16FromUtf8("\xE0\x80\xAF"), u"\uFFFD\uFFFD\uFFFD");  // overlong '/'
  EXPECT_EQ(utf16FromUtf8("\xF4\x90\x80\x80"), std::u16string(4, u'\uFFFD'));  // past U+10FFFF
  EXPECT_EQ(utf16FromUtf8("\xF5\x80"), u"\uFFFD\uFFFD");
  EXPECT_EQ(utf16FromUtf8("\xFF"), u"\uFFFD");
}

class Utf8Paths : public ::testing::Test {
 protected:
  std::string in(const std::string& name) const { return utf8FromPath(dir.path()) + "/" + name; }
  test::TempDir dir;
};

TEST_F(Utf8Paths, OpenListRenameAndRemoveByUtf8Name) {
  const std::vector<std::string> names = {kCyrillic + ".skm", kAccented + ".skm", kCjk + ".skm",
                                          kEmoji + ".skm"};
  for (const std::string& name : names) {
    std::FILE* file = openFile(in(name), "wb");
    ASSERT_NE(file, nullptr) << name;
    EXPECT_GE(std::fputs(name.c_str(), file), 0);
    std::fclose(file);
  }
  std::vector<std::string> listed;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    listed.push_back(utf8FromPath(entry.path().filename()));
  }
  std::sort(listed.begin(), listed.end());
  std::vector<std::string> sorted = names;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(listed, sorted);

  // What was written under one spelling reads back under the listed one.
  std::FILE* file = openFile(in(listed.front()), "rb");
  ASSERT_NE(file, nullptr);
  char buffer[32] = {};
  std::fread(buffer, 1, sizeof buffer - 1, file);
  std::fclose(file);
  EXPECT_EQ(std::string(buffer), listed.front());

  const std::string renamed = in(kCjk + kCyrillic + ".trn");
  fs::rename(pathFromUtf8(in(names[0])), pathFromUtf8(renamed));
  EXPECT_TRUE(fs::is_regular_file(pathFromUtf8(renamed)));
  EXPECT_EQ(removeFile(renamed), 0);
  EXPECT_FALSE(fs::exists(pathFromUtf8(renamed)));
  EXPECT_NE(removeFile(renamed), 0);
  EXPECT_EQ(openFile(in("missing-" + kCjk), "rb"), nullptr);
}

TEST_F(Utf8Paths, PackagesAndSourcesUnderNamesBeyondTheCodePage) {
  const std::string folder = in(kCyrillic + " " + kCjk);
  ASSERT_TRUE(fs::create_directory(pathFromUtf8(folder)));
  const std::string package = folder + "/" + kAccented + ".trn";
  const Bytes button = {'B', 'M'}, animation = {'G', 'I', 'F'}, sound = {'R'};
  const PackageParts parts{"0123456789abcdef0123456789abcdef", button, animation, sound, "n"};
  writePackage(package, parts);
  std::FILE* file = openFile(package, "rb");
  ASSERT_NE(file, nullptr);
  Bytes got(256);
  got.resize(std::fread(got.data(), 1, got.size(), file));
  std::fclose(file);
  EXPECT_EQ(got, buildPackageBytes(parts));
  // Only the package: the temporary file was renamed, not copied.
  EXPECT_EQ(test::listFolder(pathFromUtf8(folder)).size(), 1u);

  // A source gesture: magic, version, an empty name, then the fixed fields and no blobs.
  Bytes source = {'S', 'K', 'M', 'G', '0', '1', '0', '0', 0};
  source.resize(source.size() + 4 + 2 + 3 + 3 + 28 + 8, 0);
  const std::string sourcePath = folder + "/" + kEmoji + kCjk + ".skm";
  file = openFile(sourcePath, "wb");
  ASSERT_NE(file, nullptr);
  std::fwrite(source.data(), 1, source.size(), file);
  std::fclose(file);
  SourceGesture gesture;
  EXPECT_EQ(gesture.read(sourcePath), 1);
  EXPECT_EQ(gesture.version, "0100");
  SourceGesture folderAsSource;
  EXPECT_EQ(folderAsSource.read(folder), 0);
}

}  // namespace
}  // namespace skm
