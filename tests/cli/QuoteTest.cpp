#include "cli/Quote.h"

#include <gtest/gtest.h>

#include <string>

namespace skm::cli {
namespace {

// The expected forms are what GNU ls --quoting-style=shell-escape(-always) prints for these
// names in a UTF-8 locale.
TEST(Quote, NamesAsGnuToolsShowThemOnATerminal) {
  const struct {
    std::string name, quoted, alwaysQuoted;
  } cases[] = {
      {"wave.skm", "wave.skm", "'wave.skm'"},
      {"my file", "'my file'", "'my file'"},
      {"it's", "\"it's\"", "\"it's\""},
      {"it's*", "'it'\\''s*'", "'it'\\''s*'"},
      {"a\nb", "'a'$'\\n''b'", "'a'$'\\n''b'"},
      {"a\n", "'a'$'\\n'", "'a'$'\\n'"},
      {"\033[1m", "''$'\\033''[1m'", "''$'\\033''[1m'"},
      {"\x7f", "''$'\\177'", "''$'\\177'"},
      {"\xff", "''$'\\377'", "''$'\\377'"},
      {"\xc2\x9b", "''$'\\302\\233'", "''$'\\302\\233'"},  // C1 control U+009B
      {"\xc3\xa9", "\xc3\xa9", "'\xc3\xa9'"},              // é
      {"a\\b", "'a\\b'", "'a\\b'"},
      {"~x", "'~x'", "'~x'"},
      {"x~", "x~", "'x~'"},
      {"#a", "'#a'", "'#a'"},
      {"a#", "a#", "'a#'"},
      {"a]b", "a]b", "'a]b'"},
      {"a!b", "'a!b'", "'a!b'"},
      {"x=y", "'x=y'", "'x=y'"},
      {"{", "'{'", "'{'"},
      {"", "''", "''"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(shellQuoted(c.name), c.quoted) << c.name;
    EXPECT_EQ(shellQuoted(c.name, true), c.alwaysQuoted) << c.name;
  }
  // GNU puts a needless '' in front of this one; the rest is the same.
  EXPECT_EQ(shellQuoted("it's\n"), "'it'\\''s'$'\\n'");
}

TEST(Quote, FreeTextKeepsItsWordsAndEscapesOnlyControls) {
  EXPECT_EQ(controlsEscaped("same package name as d/a\nb.skm"), "same package name as d/a\\nb.skm");
  EXPECT_EQ(controlsEscaped("C:\\x \xc3\xa9\t\033]0;x\x07\xff"),
            "C:\\x \xc3\xa9\\t\\033]0;x\\a\\377");
}

}  // namespace
}  // namespace skm::cli
