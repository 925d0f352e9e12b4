#pragma once

// The LZW tables behind a GifWorkspace; only the codec's own sources include this.

#include <cstdint>
#include <cstring>

#include "codecs/GifCodec.h"

namespace skm {

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

struct GifWorkspace::Encoder {
  // Direct string table: child[prefix << 8 | pixel] is the code of that string, 0 when it is
  // not in the table (codes start above the clear code, so 0 is never one). Every entry set
  // since the table was last empty is in `written`, in the order set, so that a clear or a new
  // image resets just those; and as codes are given out in order, entry k has code
  // firstFree + k.
  uint16_t child[gif::MaxCodes * 256];
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

  Encoder();
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
  // The same, for a string first met at `startOffset` of the frame buffer.
  void add(int slot, int prefixCode, uint8_t last, int32_t startOffset) {
    link(slot, prefixCode, last);
    length[slot] = uint16_t(length[prefixCode] + 1);
    start[slot] = startOffset;
  }
  int walkChain(int code, int slot, int previous, uint8_t previousFirst, int firstFree);
};

}  // namespace skm
