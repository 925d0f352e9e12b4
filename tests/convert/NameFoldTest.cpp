#include "convert/NameFold.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace skm {
namespace {

std::string hex(const std::string& s) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : s) {
    if (!out.empty()) out += ' ';
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

struct KeyCase {
  const char* what;
  std::string name;
  std::string key;
};

// Expected keys are written in UTF-8 by code point: a precomposed letter's key holds its base
// letter and marks; byte escapes are split from following letters so they stay one byte.
TEST(NameFold, KeysAreCanonicalCaselessForms) {
  const std::vector<KeyCase> cases = {
      {"empty", "", ""},
      {"ASCII", "Wave-01 (Copy).SKM", "wave-01 (copy).skm"},
      {"ASCII controls and symbols unchanged", "\t~@[`{\x7f", "\t~@[`{\x7f"},
      {"Latin-1 precomposed capital", "\u00C9.skm", "e\u0301.skm"},
      {"Latin-1 precomposed small", "\u00E9.skm", "e\u0301.skm"},
      {"already decomposed", "E\u0301.SKM", "e\u0301.skm"},
      {"ASCII before a non-ASCII letter", "ABC\u00D1", "abcn\u0303"},
      {"letter without decomposition", "\u00D8re", "\u00F8re"},
      {"micro sign", "\u00B5s", "\u03BCs"},
      {"sharp s", "Stra\u00DFe", "strasse"},
      {"capital sharp s", "STRA\u1E9EE", "strasse"},
      {"capital and final sigma", "\u039F\u0394\u039F\u03A3 \u03BF\u03B4\u03BF\u03C2",
       "\u03BF\u03B4\u03BF\u03C3 \u03BF\u03B4\u03BF\u03C3"},
      {"dotted capital I folds in full", "\u0130stanbul", "i\u0307stanbul"},
      {"dotless i has no fold outside Turkic", "\u0131", "\u0131"},
      {"ligatures", "\uFB01le \uFB03", "file ffi"},
      {"Greek with dialytika and tonos", "\u0390", "\u03B9\u0308\u0301"},
      {"ypogegrammeni becomes iota", "\u1FBC\u1FB3", "\u03B1\u03B9\u03B1\u03B9"},
      {"ypogegrammeni sorted before it folds", "a\u0345\u0301", "a\u0301\u03B9"},
      {"Kelvin, ohm and angstrom signs", "\u212A\u2126\u212B", "k\u03C9a\u030A"},
      {"fullwidth letters fold, compatibility forms stay", "\uFF21\u2460\u00BD",
       "\uFF41\u2460\u00BD"},
      {"Cherokee small letters fold to capitals", "\uAB70\u13F8", "\u13A0\u13F0"},
      {"four-byte letters", "\U00010400\U0001E900", "\U00010428\U0001E922"},
      {"Hangul syllables", "\uAC00\uAC01", "\u1100\u1161\u1100\u1161\u11A8"},
      {"Hangul jamo", "\u1100\u1161\u1100\u1161\u11A8", "\u1100\u1161\u1100\u1161\u11A8"},
      {"marks sorted by class", "a\u0301\u0323", "a\u0323\u0301"},
      {"marks of one class keep their order", "a\u0301\u0300\u0323", "a\u0323\u0301\u0300"},
      {"marks of a precomposed letter merge with others", "\u1EA0\u0301", "a\u0323\u0301"},
      {"lone continuation byte",
       "A\x80"
       "B",
       "a\x80"
       "b"},
      {"truncated sequence",
       "\xE2\x84"
       "K",
       "\xE2\x84"
       "k"},
      {"overlong NUL and slash", "\xC0\x80\xE0\x80\xAF", "\xC0\x80\xE0\x80\xAF"},
      {"surrogate", "\xED\xA0\x80\xED\xBF\xBF", "\xED\xA0\x80\xED\xBF\xBF"},
      {"beyond U+10FFFF and never-valid bytes", "\xF4\x90\x80\x80\xF5\xFE\xFF",
       "\xF4\x90\x80\x80\xF5\xFE\xFF"},
      {"invalid bytes amid valid letters",
       "\xC3"
       "\u00C9\xC3",
       "\xC3"
       "e\u0301\xC3"},
      {"an invalid byte stops mark reordering", "a\u0301\xFF\u0323", "a\u0301\xFF\u0323"},
  };
  for (const KeyCase& c : cases) {
    const std::string key = caselessNameKey(c.name);
    EXPECT_EQ(key, c.key) << c.what << ": got " << hex(key) << ", want " << hex(c.key);
  }
}

TEST(NameFold, NamesThatDifferStayApart) {
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {"e", "\u00E9"},
      {"i", "\u0131"},
      {"ss", "\u00DF\u0301"},
      {"\xC3", "\xC4"},
      {"\xC3", "\u00C3"},
      {"\xE2\x84", "\xE2\x84\xAA"},
      {"\xFF", "\xFE"},
      {"a\xFF\u0301", "a\u0301\xFF"},
      {"\u1100\u1161", "\u1161\u1100"},
  };
  for (const auto& [a, b] : pairs) {
    EXPECT_NE(caselessNameKey(a), caselessNameKey(b)) << hex(a) << " and " << hex(b);
  }
}

}  // namespace
}  // namespace skm
