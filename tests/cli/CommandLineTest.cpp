#include "cli/CommandLine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "convert/FilePath.h"

namespace skm::cli {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

const std::string kCyrillic = "\xD0\xB6\xD0\xB5\xD1\x81\xD1\x82";       // жест
const std::string kCyrillicUpper = "\xD0\x96\xD0\x95\xD0\xA1\xD0\xA2";  // ЖЕСТ
const std::string kCjk = "\xE6\xB3\xA2";                                // 波
const std::string kEmoji = "\xF0\x9F\x98\x80";                          // U+1F600

TEST(Wildcard, StarAndQuestionMark) {
  EXPECT_TRUE(matchesWildcard("*.skm", "wave.skm", false));
  EXPECT_TRUE(matchesWildcard("*.skm", ".skm", false));
  EXPECT_FALSE(matchesWildcard("*.skm", "wave.skmx", false));
  EXPECT_FALSE(matchesWildcard("*.skm", "wave.skm.txt", false));
  EXPECT_TRUE(matchesWildcard("*", "", false));
  EXPECT_TRUE(matchesWildcard("**", "anything", false));
  EXPECT_FALSE(matchesWildcard("?", "", false));
  EXPECT_TRUE(matchesWildcard("w?ve.*", "wave.skm", false));
  EXPECT_FALSE(matchesWildcard("w?ve", "wve", false));
  // Backtracking over several stars.
  EXPECT_TRUE(matchesWildcard("a*b*c", "aXbYbZc", false));
  EXPECT_FALSE(matchesWildcard("a*b*c", "aXbYcZ", false));
  EXPECT_TRUE(matchesWildcard("*a*a*a*", "banana and a", false));
  EXPECT_FALSE(matchesWildcard("*a*a*a*a*a*", "aaaa", false));
}

TEST(Wildcard, QuestionMarkIsOneCharacterNotOneByte) {
  EXPECT_TRUE(matchesWildcard("?.skm", kCjk + ".skm", false));
  EXPECT_FALSE(matchesWildcard("???.skm", kCjk + ".skm", false));
  EXPECT_TRUE(matchesWildcard("?.skm", kEmoji + ".skm", false));
  EXPECT_TRUE(matchesWildcard("????", kCyrillic, false));
  EXPECT_TRUE(matchesWildcard(kCjk + "*", kCjk + kEmoji, false));
}

TEST(Wildcard, LetterCase) {
  EXPECT_TRUE(matchesWildcard("*.skm", "BOW.SKM", true));
  EXPECT_FALSE(matchesWildcard("*.skm", "BOW.SKM", false));
  EXPECT_TRUE(matchesWildcard("B?W.*", "bow.skm", true));
#ifdef _WIN32
  // Windows compares names by its upper-case table, beyond ASCII too.
  EXPECT_TRUE(matchesWildcard(kCyrillicUpper + "*", kCyrillic + ".skm", true));
  EXPECT_TRUE(matchesWildcard("CAF\xC3\x89.*", "caf\xC3\xA9.skm", true));
#endif
  EXPECT_FALSE(matchesWildcard(kCyrillicUpper + "*", kCyrillic + ".skm", false));
}

TEST(NameCaseKey, EqualExactlyForNamesOneFileSystemTakesForOne) {
  EXPECT_EQ(nameCaseKey("Wave.SKM"), nameCaseKey("wave.skm"));
  EXPECT_NE(nameCaseKey("wave1.skm"), nameCaseKey("wave.skm"));
  EXPECT_EQ(nameCaseKey(""), "");
#ifdef _WIN32
  EXPECT_EQ(nameCaseKey(kCyrillicUpper + ".trn"), nameCaseKey(kCyrillic + ".trn"));
  EXPECT_EQ(nameCaseKey("CAF\xC3\x89"), nameCaseKey("caf\xC3\xA9"));
  // Characters without case, and one outside the BMP, pass unchanged.
  EXPECT_EQ(nameCaseKey(kCjk + kEmoji), kCjk + kEmoji);
#else
  EXPECT_EQ(nameCaseKey(kCyrillicUpper), kCyrillicUpper);
#endif
}

class Expansion : public ::testing::Test {
 protected:
  Expansion() {
    std::random_device random;
    root = utf8FromPath(fs::temp_directory_path()) + "/skm-wildcards-" + std::to_string(random()) +
           "-" + kCyrillic;
    fs::create_directories(pathFromUtf8(root));
  }
  ~Expansion() override {
    std::error_code ec;
    fs::remove_all(pathFromUtf8(root), ec);
  }
  void touch(const std::string& name) {
    std::FILE* file = openFile(root + "/" + name, "wb");
    ASSERT_NE(file, nullptr) << name;
    std::fclose(file);
  }
  void folder(const std::string& name) { fs::create_directories(pathFromUtf8(root + "/" + name)); }

  std::string root;
};

TEST_F(Expansion, MatchesInNameOrderAndLeavesOtherArgumentsAlone) {
  for (const char* name : {"b.skm", "a.skm", "C.SKM", "x.skmx", "notes.txt"}) touch(name);
  touch(kCyrillic + ".skm");
  touch(kCjk + ".skm");
  const std::string r = root + "/";
  const Strings got = expandWildcardsIn({"-j", r + "*.skm", r + "notes.txt", "out"}, true);
  const Strings expected = {"-j",
                            r + "C.SKM",
                            r + "a.skm",
                            r + "b.skm",
                            r + kCyrillic + ".skm",
                            r + kCjk + ".skm",
                            r + "notes.txt",
                            "out"};
  EXPECT_EQ(got, expected);
  EXPECT_EQ(expandWildcardsIn({r + "?.skm"}, false),
            (Strings{r + "a.skm", r + "b.skm", r + kCjk + ".skm"}));
  EXPECT_EQ(expandWildcardsIn({r + "?.skm"}, true),
            (Strings{r + "C.SKM", r + "a.skm", r + "b.skm", r + kCjk + ".skm"}));
}

TEST_F(Expansion, APatternThatMatchesNothingStaysAsItIs) {
  touch("a.skm");
  const std::string r = root + "/";
  EXPECT_EQ(expandWildcardsIn({r + "*.gif", r + "a.skm"}, true),
            (Strings{r + "*.gif", r + "a.skm"}));
  EXPECT_EQ(expandWildcardsIn({r + "missing/*.skm"}, true), (Strings{r + "missing/*.skm"}));
}

TEST_F(Expansion, WildcardsInFolderComponents) {
  folder("g1");
  folder("g2");
  folder("other");
  touch("g1/a.skm");
  touch("g1/b.txt");
  touch("g2/c.skm");
  touch("other/d.skm");
  touch("gfile.skm");
  const std::string r = root + "/";
  EXPECT_EQ(expandWildcardsIn({r + "g*/*.skm"}, true), (Strings{r + "g1/a.skm", r + "g2/c.skm"}));
  // A literal rest after a wildcard folder keeps only the paths that exist.
  EXPECT_EQ(expandWildcardsIn({r + "g?/a.skm"}, true), (Strings{r + "g1/a.skm"}));
  // Folders match like files; a folder source is the converter's business.
  EXPECT_EQ(expandWildcardsIn({r + "g*"}, true), (Strings{r + "g1", r + "g2", r + "gfile.skm"}));
}

TEST_F(Expansion, OnlyWindowsExpands) {
  touch("a.skm");
  const Strings args = {root + "/*.skm"};
#ifdef _WIN32
  EXPECT_EQ(expandWildcards(args), (Strings{root + "/a.skm"}));
#else
  // The shell has expanded already; a "*" left over is part of a real name.
  EXPECT_EQ(expandWildcards(args), args);
#endif
}

}  // namespace
}  // namespace skm::cli
