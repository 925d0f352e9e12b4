#pragma once

// The LZW tables behind a GifWorkspace; only the codec's own sources include this.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codecs/GifCodec.h"

// The codecs' loops stay functions of their own. Natively the compiler leaves them so; the
// WebAssembly optimizer inlines far more, and whole codecs folded into 40 KB functions cost the
// browser's optimizing compiler about half a second each during a run.
#define SKM_OUT_OF_LINE [[gnu::noinline]]

// A loop that natively belongs inlined into its caller, whose locals it shares, but which
// WebAssembly engines keep in registers better as a small function of its own.
#ifdef __EMSCRIPTEN__
#define SKM_SMALL_FUNCTION [[gnu::noinline]]
#else
#define SKM_SMALL_FUNCTION
#endif

namespace skm {

// A frame buffer kept between frames: `size` bytes at `bytes`, or none.
struct GifFrameStore {
  uint8_t* bytes = nullptr;
  std::size_t size = 0;
};

// The format's own numbers.
namespace gif {
inline constexpr int LongestCodeBits = 12;
inline constexpr int MaxCodes = 1 << LongestCodeBits;
inline constexpr uint8_t ExtensionIntroducer = 0x21;
inline constexpr uint8_t ImageSeparator = 0x2C;
inline constexpr uint8_t Trailer = 0x3B;
inline constexpr uint8_t GraphicControlLabel = 0xF9;
inline constexpr uint8_t CommentLabel = 0xFE;
inline constexpr uint8_t ApplicationLabel = 0xFF;
}  // namespace gif

// Slots of the hashed compressor's table: a prime a little above MaxCodes.
inline constexpr int GifHashSize = 5003;
// Bytes the decoder reads from its stream at a time.
inline constexpr int GifReadBlockBytes = 16384;

// Two frames of an animation compressed side by side, each in a lane of its own: a table of
// two-slot buckets, found from the prefix and the pixel, each slot prefix << 20 | pixel << 12 |
// code (0 when empty, as no string has code 0), and the log of codes written. Frames of up to
// PairPixels 8-bit pixels go this way.
struct GifWorkspace::Lane {
  static constexpr int PairPixels = 1 << 14;
  static constexpr int BucketBits = gif::LongestCodeBits;
  static constexpr int PairBuckets = 1 << BucketBits;
  // The log holds code << 20 | pixel << 12 for each code written, the string it was written
  // for being that code's string and the pixel, and ClearMark where the table filled up and a
  // clear code went out.
  static constexpr uint32_t ClearMark = 0xFFFFFFFF;
  // Slot 0 takes what a hit writes; bucket h is slots 1 + 2h and 2 + 2h.
  uint32_t slots[1 + 2 * PairBuckets];
  static constexpr int LogLength = PairPixels + PairPixels / 256 + 4;
  uint32_t log[LogLength];
  // The packed codes, with room for the clear, last and end codes and an 8-byte store past them.
  uint8_t data[(LogLength + 3) * gif::LongestCodeBits / 8 + 16];
  uint32_t count = 0;       // entries in the log
  uint32_t last = 0;        // the code of the string left over at the end
  uint32_t limit = 0;       // count at which the table is full
  uint32_t bias = 0;        // the string added at log entry k has code k + bias
  uint32_t generation = 0;  // where the log of this table generation starts
  // "0 then 0" was made with a string in its home slot of the hashed table, where that table
  // stops being a dictionary: the frame is finished the usual way from there, from the log up
  // to backAt, the table generation that began at backGeneration and the pixel after backPixel.
  uint32_t backAt = 0;
  uint32_t backGeneration = 0;
  const uint8_t* backPixel = nullptr;
  bool handedBack() const { return backPixel != nullptr; }

  // A string's bucket: the prefix mixed with a spread of the pixel, so that the many strings
  // of two single pixels do not crowd a few buckets. "0 then 0" has bucket 0.
  static uint32_t bucketOf(uint32_t prefix, uint32_t pixel) {
    static_assert(BucketBits >= gif::LongestCodeBits);
    return prefix ^ ((pixel * 0x9E3779B1u) >> (32 - BucketBits));
  }
  void start(uint32_t firstPixel);
  template <bool MayFill>
  inline void step(uint32_t& p, uint32_t& n, const uint8_t* at);
  void restart(uint32_t at);
  uint64_t rareStep(uint32_t n, uint32_t key, const uint8_t* at);
};

struct GifWorkspace::Encoder {
  // Direct string table: child[prefix << 8 | pixel] is the code of that string, 0 when it is
  // not in the table (codes start above the clear code, so 0 is never one). Every entry set
  // since the table was last empty is in `written`, in the order set, so that a clear or a new
  // image resets just those; and as codes are given out in order, entry k has code
  // firstFree + k. Its 2 MB come zeroed from the allocator, so that only the pages a picture
  // reaches are ever touched: most pictures reach few, and a thread's tables stay small.
  static constexpr std::size_t ChildEntries = std::size_t(gif::MaxCodes) * 256;
  uint16_t* child = nullptr;
  std::size_t mappedRows = 0;  // rows of child mapped ahead of use (see mapRows)
  uint32_t written[gif::MaxCodes];
  int writtenCount = 0;

  // The hashed table, for a table generation in which the direct one would differ from it:
  // all -1 while unused; usedSlots lists the slots filled since.
  int32_t hashTable[GifHashSize];
  uint16_t codeTable[GifHashSize];
  uint16_t usedSlots[gif::MaxCodes];
  int usedCount = 0;

  // Codes of the strings made of one repeated pixel value, for pictures that are mostly runs:
  // runCodes[v][n] is the code of v repeated n times, known for n up to runLimit[v].
  static constexpr int RunCap = 64;
  uint16_t runLimit[256];
  uint16_t runCodes[256][RunCap + 1];

  // Two frames compressed side by side, one in each lane.
  Lane lanes[2];

  Encoder();
  ~Encoder() { std::free(child); }
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;
  // Maps in the rows of child that a picture of this many pixels can reach, where the system
  // can do so in one call.
  void mapRows(int64_t pixels);
  void emptyDirect();
  void emptyHash();
  void resetRuns();
  // The hashed compressor's probe for key (pixel, prefix): the slot holding it (found), or the
  // slot where the probe stopped, where it would be added.
  int probe(int32_t key, uint32_t pixel, uint32_t prefix, bool& found);
  bool homeZeroTaken() const;
  void hashAdd(int slot, int32_t key, int code);
  void hashFromDirect(int firstFree);
};

struct GifWorkspace::Decoder {
  Decoder() = default;
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
  ~Decoder() { std::free(frameStore.bytes); }

  uint8_t block[GifReadBlockBytes + 1];
  int blockUsed = GifReadBlockBytes + 1;  // bytes of block written since it was last all zero
  // A code's string is the one it extends (prefix) plus one byte (suffix); `length` bytes long,
  // first met at `start` of the frame buffer (roots before pixel 0), so a known code is one copy
  // from there.
  uint16_t prefix[gif::MaxCodes];
  uint8_t suffix[gif::MaxCodes];
  uint16_t length[gif::MaxCodes];
  int32_t start[gif::MaxCodes];
  uint8_t stack[gif::MaxCodes];

  // An empty table with `clear` roots: codes without a string have length 0.
  void reset(int clear) {
    std::memset(prefix, 0, sizeof prefix);
    std::memset(suffix, 0, sizeof suffix);
    for (int i = 0; i < clear; ++i) length[i] = 1;
    std::memset(length + clear, 0, sizeof length - sizeof length[0] * std::size_t(clear));
  }
  // Takes the codes from `first` up to `slot` out of the table again.
  void forget(int first, int slot) {
    if (slot > first) std::memset(length + first, 0, sizeof length[0] * std::size_t(slot - first));
  }
  // Enters code `slot` as the string of `prefixCode` plus `last`.
  void link(int slot, int prefixCode, uint8_t last) {
    prefix[slot] = uint16_t(prefixCode);
    suffix[slot] = last;
  }
  // The copy side of code `slot` alone, before it is entered: a string of `count` bytes first
  // met at `startOffset`, which its length makes a known code.
  void ready(int slot, int count, int32_t startOffset) {
    length[slot] = uint16_t(count);
    start[slot] = startOffset;
  }
  // Both sides, for a string first met at `startOffset` of the frame buffer.
  void add(int slot, int prefixCode, uint8_t last, int32_t startOffset) {
    link(slot, prefixCode, last);
    ready(slot, length[prefixCode] + 1, startOffset);
  }
  int walkChain(int code, int slot, int previous, uint8_t previousFirst, int firstFree);

  // The last frame's buffer, kept for the next frame when it is not big: allocated afresh, a
  // big picture's buffer came back from the system as new pages each time, and faulting them
  // in cost more than decoding into them.
  GifFrameStore frameStore;
};

}  // namespace skm
