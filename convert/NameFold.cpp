#include "convert/NameFold.h"

#include <algorithm>
#include <cstdint>
#include <vector>

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

bool isContinuation(unsigned char b) {
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
  } else if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | cp >> 6);
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | cp >> 12);
    out += char(0x80 | (cp >> 6 & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | cp >> 18);
    out += char(0x80 | (cp >> 12 & 0x3F));
    out += char(0x80 | (cp >> 6 & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

uint8_t combiningClass(char32_t cp) {
  if (cp < 0x300) return 0;
  const auto end = std::end(kCombiningRanges);
  const auto after = std::partition_point(std::begin(kCombiningRanges), end,
                                          [cp](const CombiningRange& r) { return r.first <= cp; });
  if (after == std::begin(kCombiningRanges)) return 0;
  const CombiningRange& r = after[-1];
  return cp <= r.last ? r.combiningClass : 0;
}

// Appends the full canonical decomposition of cp.
void appendDecomposed(char32_t cp, std::vector<char32_t>& out) {
  if (cp - kHangulFirst < kHangulCount) {
    const char32_t index = cp - kHangulFirst;
    out.push_back(kLeadFirst + index / (kVowelCount * kTrailCount));
    out.push_back(kVowelFirst + index % (kVowelCount * kTrailCount) / kTrailCount);
    if (index % kTrailCount != 0) out.push_back(kTrailFirst + index % kTrailCount);
    return;
  }
  if (cp >= 0xC0 && cp < kRawByte) {
    const uint64_t* end = std::end(kDecompositions);
    const uint64_t* at = std::partition_point(std::begin(kDecompositions), end,
                                              [cp](uint64_t e) { return (e >> 42) < cp; });
    if (at != end && (*at >> 42) == cp) {
      constexpr uint64_t kMask = (uint64_t(1) << 21) - 1;
      appendDecomposed(char32_t(*at >> 21 & kMask), out);
      if ((*at & kMask) != 0) appendDecomposed(char32_t(*at & kMask), out);
      return;
    }
  }
  out.push_back(cp);
}

// Writes the full case folding of cp into to[] and returns how many code points it has.
int caseFold(char32_t cp, char32_t to[3]) {
  to[0] = cp;
  if (cp < 0x41 || cp >= kRawByte) return 1;
  const auto runEnd = std::end(kFoldRuns);
  const auto run = std::partition_point(std::begin(kFoldRuns), runEnd,
                                        [cp](const FoldRun& r) { return r.first <= cp; });
  if (run != std::begin(kFoldRuns)) {
    const FoldRun& r = run[-1];
    if (cp <= r.last && (cp - r.first) % r.step == 0) {
      to[0] = char32_t(int32_t(cp) + r.offset);
      return 1;
    }
  }
  const auto expEnd = std::end(kFoldExpansions);
  const auto exp = std::partition_point(std::begin(kFoldExpansions), expEnd,
                                        [cp](const FoldExpansion& e) { return e.from < cp; });
  if (exp == expEnd || exp->from != cp) return 1;
  int n = 0;
  while (n < 3 && exp->to[n] != 0) {
    to[n] = exp->to[n];
    ++n;
  }
  return n;
}

// Sorts every run of non-starters stably by combining class. The class rides in the bits above
// the code point (which needs 21) while the run is sorted.
void canonicalOrder(std::vector<char32_t>& text) {
  size_t i = 0;
  while (i < text.size()) {
    if (combiningClass(text[i]) == 0) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < text.size()) {
      const uint8_t cc = combiningClass(text[end]);
      if (cc == 0) break;
      text[end] |= char32_t(cc) << 24;
      ++end;
    }
    if (end - i > 1) {
      std::stable_sort(text.begin() + i, text.begin() + end,
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

  std::vector<char32_t> decomposed;
  decomposed.reserve(utf8.size() + 8);
  for (size_t at = 0; at < utf8.size();) {
    char32_t cp = 0;
    const size_t length = decodeAt(utf8, at, cp);
    if (length == 0) {
      decomposed.push_back(kRawByte + (unsigned char)utf8[at]);
      ++at;
      continue;
    }
    appendDecomposed(cp, decomposed);
    at += length;
  }
  canonicalOrder(decomposed);

  // Folding can yield precomposed letters and starters where marks stood (U+0345 becomes
  // iota), so the folded text is decomposed and ordered again.
  std::vector<char32_t> folded;
  folded.reserve(decomposed.size() + 8);
  for (char32_t cp : decomposed) {
    char32_t to[3];
    const int n = caseFold(cp, to);
    for (int k = 0; k < n; ++k) appendDecomposed(to[k], folded);
  }
  canonicalOrder(folded);

  std::string key;
  key.reserve(utf8.size() + 8);
  for (char32_t cp : folded) encode(cp, key);
  return key;
}

const char* caselessNameKeyUnicodeVersion() {
  return kUnicodeVersion;
}

}  // namespace skm
