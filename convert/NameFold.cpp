#include "convert/NameFold.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "convert/Utf8.h"

namespace skm {
namespace {

struct CombiningRange {
  char32_t first;
  char32_t last;
  uint8_t combiningClass;
};

struct FoldRun {
  char32_t first;
  char32_t last;
  int32_t offset;
  uint8_t step;
};

struct FoldExpansion {
  char32_t from;
  char32_t to[3];
};

#include "convert/UnicodeTables.inc"

// A byte that is not part of valid UTF-8 travels through the passes as a value beyond the last
// code point: a starter with no decomposition and no folding, written back as the same byte.
constexpr char32_t kRawByte = 0x110000;

constexpr char32_t kHangulFirst = 0xAC00, kHangulCount = 11172;
constexpr char32_t kLeadFirst = 0x1100, kVowelFirst = 0x1161, kTrailFirst = 0x11A7;
constexpr char32_t kVowelCount = 21, kTrailCount = 28;

bool isContinuation(unsigned b) {
  return (b & 0xC0) == 0x80;
}

// Length of the well-formed sequence at s[at] (and its code point), or 0 when there is none.
size_t decodeAt(std::string_view s, size_t at, char32_t& cp) {
  const auto byte = [&](size_t k) { return at + k < s.size() ? (unsigned char)s[at + k] : 0u; };
  const unsigned b0 = byte(0), b1 = byte(1);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    if (!isContinuation(b1)) return 0;
    cp = (b0 & 0x1F) << 6 | (b1 & 0x3F);
    return 2;
  }
  // The second byte's range excludes overlong forms (E0, F0), surrogates (ED) and code
  // points past U+10FFFF (F4).
  unsigned low = 0x80, high = 0xBF;
  if (b0 == 0xE0) low = 0xA0;
  if (b0 == 0xED) high = 0x9F;
  if (b0 == 0xF0) low = 0x90;
  if (b0 == 0xF4) high = 0x8F;
  if (b0 < 0xE0 || b0 > 0xF4 || b1 < low || b1 > high) return 0;
  const unsigned b2 = byte(2);
  if (!isContinuation(b2)) return 0;
  if (b0 < 0xF0) {
    cp = (b0 & 0x0F) << 12 | (b1 & 0x3F) << 6 | (b2 & 0x3F);
    return 3;
  }
  const unsigned b3 = byte(3);
  if (!isContinuation(b3)) return 0;
  cp = (b0 & 0x07) << 18 | (b1 & 0x3F) << 12 | (b2 & 0x3F) << 6 | (b3 & 0x3F);
  return 4;
}

void encode(char32_t cp, std::string& out) {
  if (cp >= kRawByte) {
    out += char(cp - kRawByte);
  } else {
    appendUtf8(cp, out);
  }
}

// Every code point the tables know lies below this limit, so one bit per code point tells
// whether a table need be searched at all: most letters of a name have no entry.
constexpr char32_t kTableLimit = 0x30000;

constexpr bool tablesBelowLimit() {
  for (const CombiningRange& r : kCombiningRanges) {
    if (r.last >= kTableLimit) return false;
  }
  for (uint64_t e : kDecompositions) {
    if ((e >> 42) >= kTableLimit) return false;
  }
  for (const FoldRun& r : kFoldRuns) {
    if (r.last >= kTableLimit) return false;
  }
  for (const FoldExpansion& e : kFoldExpansions) {
    if (e.from >= kTableLimit) return false;
  }
  return true;
}
static_assert(tablesBelowLimit(), "raise kTableLimit to cover the Unicode tables");

// Which code points have a combining class, a decomposition or a case folding.
class QuickCheck {
 public:
  QuickCheck() {
    for (const CombiningRange& r : kCombiningRanges) {
      for (char32_t cp = r.first; cp <= r.last; ++cp) set(combining_, cp);
    }
    for (uint64_t e : kDecompositions) set(decomposes_, char32_t(e >> 42));
    for (const FoldRun& r : kFoldRuns) {
      for (char32_t cp = r.first; cp <= r.last; cp += r.step) set(folds_, cp);
    }
    for (const FoldExpansion& e : kFoldExpansions) set(folds_, e.from);
  }

  bool combining(char32_t cp) const { return test(combining_, cp); }
  bool decomposes(char32_t cp) const { return test(decomposes_, cp); }
  bool folds(char32_t cp) const { return test(folds_, cp); }

 private:
  static constexpr size_t kWords = kTableLimit / 64;
  using Bits = uint64_t[kWords];

  static void set(Bits& bits, char32_t cp) { bits[cp / 64] |= uint64_t(1) << (cp % 64); }
  static bool test(const Bits& bits, char32_t cp) {
    return cp < kTableLimit && (bits[cp / 64] >> (cp % 64) & 1) != 0;
  }

  Bits combining_ = {};
  Bits decomposes_ = {};
  Bits folds_ = {};
};

const QuickCheck& quickCheck() {
  static const QuickCheck table;
  return table;
}

uint8_t combiningClass(const QuickCheck& quick, char32_t cp) {
  if (!quick.combining(cp)) return 0;
  const auto after = std::partition_point(std::begin(kCombiningRanges), std::end(kCombiningRanges),
                                          [cp](const CombiningRange& r) { return r.first <= cp; });
  return after[-1].combiningClass;
}

// Appends the full canonical decomposition of cp.
void appendDecomposed(const QuickCheck& quick, char32_t cp, std::vector<char32_t>& out) {
  if (cp - kHangulFirst < kHangulCount) {
    const char32_t index = cp - kHangulFirst;
    out.push_back(kLeadFirst + index / (kVowelCount * kTrailCount));
    out.push_back(kVowelFirst + index % (kVowelCount * kTrailCount) / kTrailCount);
    if (index % kTrailCount != 0) out.push_back(kTrailFirst + index % kTrailCount);
    return;
  }
  if (!quick.decomposes(cp)) {
    out.push_back(cp);
    return;
  }
  const uint64_t e = *std::partition_point(std::begin(kDecompositions), std::end(kDecompositions),
                                           [cp](uint64_t d) { return (d >> 42) < cp; });
  constexpr uint64_t kMask = (uint64_t(1) << 21) - 1;
  appendDecomposed(quick, char32_t(e >> 21 & kMask), out);
  if ((e & kMask) != 0) appendDecomposed(quick, char32_t(e & kMask), out);
}

// Writes the full case folding of cp into to[] and returns how many code points it has.
int caseFold(const QuickCheck& quick, char32_t cp, char32_t to[3]) {
  to[0] = cp;
  if (!quick.folds(cp)) return 1;
  const auto run = std::partition_point(std::begin(kFoldRuns), std::end(kFoldRuns),
                                        [cp](const FoldRun& r) { return r.first <= cp; });
  if (run != std::begin(kFoldRuns)) {
    const FoldRun& r = run[-1];
    if (cp <= r.last && (cp - r.first) % r.step == 0) {
      to[0] = char32_t(int32_t(cp) + r.offset);
      return 1;
    }
  }
  const FoldExpansion& e =
      *std::partition_point(std::begin(kFoldExpansions), std::end(kFoldExpansions),
                            [cp](const FoldExpansion& x) { return x.from < cp; });
  int n = 0;
  while (n < 3 && e.to[n] != 0) {
    to[n] = e.to[n];
    ++n;
  }
  return n;
}

// Sorts every run of non-starters in text[from, end) stably by combining class. The class rides
// in the bits above the code point (which needs 21) while the run is sorted.
void canonicalOrder(const QuickCheck& quick, std::vector<char32_t>& text, size_t from) {
  size_t i = from;
  while (i < text.size()) {
    if (combiningClass(quick, text[i]) == 0) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < text.size()) {
      const uint8_t cc = combiningClass(quick, text[end]);
      if (cc == 0) break;
      text[end] |= char32_t(cc) << 24;
      ++end;
    }
    if (end - i > 1) {
      std::stable_sort(text.data() + i, text.data() + end,
                       [](char32_t a, char32_t b) { return (a >> 24) < (b >> 24); });
    }
    for (size_t k = i; k < end; ++k) text[k] &= 0xFFFFFF;
    i = end;
  }
}

}  // namespace

std::string caselessNameKey(std::string_view utf8) {
  if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return (unsigned char)c < 0x80; })) {
    std::string key(utf8);
    for (char& c : key) {
      if (c >= 'A' && c <= 'Z') c = char(c + ('a' - 'A'));
    }
    return key;
  }

  // One buffer: the decomposed name, then its folded form after it.
  const QuickCheck& quick = quickCheck();
  std::vector<char32_t> text;
  text.reserve(2 * utf8.size() + 16);
  for (size_t at = 0; at < utf8.size();) {
    char32_t cp = 0;
    const size_t length = decodeAt(utf8, at, cp);
    if (length == 0) {
      text.push_back(kRawByte + (unsigned char)utf8[at]);
      ++at;
      continue;
    }
    appendDecomposed(quick, cp, text);
    at += length;
  }
  canonicalOrder(quick, text, 0);

  // Folding can yield precomposed letters and starters where marks stood (U+0345 becomes
  // iota), so the folded text is decomposed and ordered again.
  const size_t decomposed = text.size();
  for (size_t i = 0; i < decomposed; ++i) {
    char32_t to[3];
    const int n = caseFold(quick, text[i], to);
    for (int k = 0; k < n; ++k) appendDecomposed(quick, to[k], text);
  }
  canonicalOrder(quick, text, decomposed);

  std::string key;
  key.reserve(utf8.size() + 8);
  for (size_t i = decomposed; i < text.size(); ++i) encode(text[i], key);
  return key;
}

const char* caselessNameKeyUnicodeVersion() {
  return kUnicodeVersion;
}

}  // namespace skm
