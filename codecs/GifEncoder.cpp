// GIF writing: block sequence, the hashed LZW compressor, the one that takes two frames at a time
// and the 254-byte packet writer.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codecs/GifCodec.h"
#include "codecs/GifTables.h"

namespace skm {

namespace {

using gif::LongestCodeBits;
constexpr int CodeLimit = gif::MaxCodes;
constexpr int HashShift = 4;
constexpr int PacketLimit = 254;

template <int Bits>
inline int pixelAt(const uint8_t* row, int32_t x) {
  if constexpr (Bits == 1) {
    return (row[x >> 3] >> (7 - (x & 7))) & 1;
  } else if constexpr (Bits == 4) {
    return (x & 1) ? (row[x >> 1] & 15) : (row[x >> 1] >> 4);
  } else {
    return row[x];
  }
}

// How many of the first `room` bytes at `at` equal `value`; `readable` bytes may be read. Most
// runs end within 16 bytes, found there without a branch on each byte.
inline int32_t repeatsOf(const uint8_t* at, uint8_t value, int32_t room, int32_t readable) {
  int32_t more = 0;
  if constexpr (std::endian::native == std::endian::little) {
    const uint64_t pattern = uint64_t(value) * 0x0101010101010101u;
    while (more + 16 <= readable) {
      uint64_t low, high;
      std::memcpy(&low, at + more, 8);
      std::memcpy(&high, at + more + 8, 8);
      const int lowBits = std::countr_zero(low ^ pattern);
      const int same = lowBits < 64 ? lowBits / 8 : 8 + std::countr_zero(high ^ pattern) / 8;
      more += same;
      if (same < 16 || more >= room) return std::min(more, room);
    }
  }
  while (more < room && at[more] == value) ++more;
  return more;
}

// Whether at least half of the pixels in a few sample rows repeat their left neighbour.
bool mostlyRuns(const Image& image) {
  const int32_t width = image.width();
  const int32_t height = image.height();
  int64_t pairs = 0;
  int64_t repeats = 0;
  for (int32_t k = 0; k < 4; ++k) {
    const uint8_t* row = image.pixelRow(int32_t(int64_t(height - 1) * k / 3));
    for (int32_t x = 1; x < width && x < 4096; ++x) {
      repeats += row[x] == row[x - 1];
      ++pairs;
    }
  }
  return repeats * 2 >= pairs;
}

}  // namespace

void GifCodec::putWord(uint32_t value) {
  output->putByte(int32_t(value & 0xFF));
  output->putByte(int32_t((value / 256) & 0xFF));
}

bool GifCodec::streamFailed() {
  output->flush();
  return output->error() != 0;
}

namespace {

// Out of line, and given values rather than the packer, so that the packer stays in registers.
void writePacket(ByteStream* output, const uint8_t* packet, int count) {
  output->putByte(count);
  output->write(packet, 1, count);
}

}  // namespace

inline void GifCodec::CodePacker::putByte(uint32_t value) {
  packet[count++] = uint8_t(value);
  if (count >= PacketLimit) {
    writePacket(output, packet, count);
    count = 0;
  }
}

inline void GifCodec::CodePacker::put(uint32_t code) {
  bits |= uint64_t(code) << bitCount;
  bitCount += width;
  if (bitCount >= 32) {
    if (count <= PacketLimit - 4) {
      const uint32_t word = uint32_t(bits);
      const uint8_t bytes[4] = {uint8_t(word), uint8_t(word >> 8), uint8_t(word >> 16),
                                uint8_t(word >> 24)};
      std::memcpy(packet + count, bytes, 4);
      count += 4;
      if (count >= PacketLimit) {
        writePacket(output, packet, count);
        count = 0;
      }
    } else {
      for (int k = 0; k < 4; ++k) putByte(uint32_t(bits >> (8 * k)));
    }
    bits >>= 32;
    bitCount -= 32;
  }
  if (nextCode > largest || pending) {
    if (pending) {
      width = initial;
      largest = (1 << width) - 1;
      pending = 0;
    } else {
      ++width;
      largest = width == LongestCodeBits ? CodeLimit : (1 << width) - 1;
    }
  }
}

// A clear code; the codes after it start again at the first free one and the first width.
void GifCodec::CodePacker::putClear(uint32_t clear) {
  nextCode = int(clear) + 2;
  pending = 1;
  put(clear);
}

void GifCodec::CodePacker::finish() {
  while (bitCount > 0) {
    putByte(uint32_t(bits));
    bits >>= 8;
    bitCount -= 8;
  }
  bits = 0;
  bitCount = 0;
  if (count > 0) writePacket(output, packet, count);
  count = 0;
}

void GifWorkspace::Encoder::emptyDirect() {
  for (int k = 0; k < writtenCount; ++k) child[written[k]] = 0;
  writtenCount = 0;
}

void GifWorkspace::Encoder::emptyHash() {
  for (int k = 0; k < usedCount; ++k) hashTable[usedSlots[k]] = -1;
  usedCount = 0;
}

// Every value starts as a run of one.
void GifWorkspace::Encoder::resetRuns() {
  for (int v = 0; v < 256; ++v) {
    runLimit[v] = 1;
    runCodes[v][1] = uint16_t(v);
  }
}

int GifWorkspace::Encoder::probe(int32_t key, uint32_t pixel, uint32_t prefix, bool& found) {
  int i = int((pixel << HashShift) ^ prefix);
  found = hashTable[i] == key;
  if (found || hashTable[i] < 0) return i;
  const int step = i == 0 ? 1 : GifHashSize - i;
  do {
    i -= step;
    if (i < 0) i += GifHashSize;
    if (hashTable[i] == key) {
      found = true;
      return i;
    }
  } while (hashTable[i] > 0);
  return i;
}

namespace {

// Whether the string `key` (prefix << 8 | pixel) has its home slot of the hashed table at 0.
inline bool homeSlotZero(uint32_t key) {
  return (key >> 8) == (key & 0xFF) << HashShift;
}

}  // namespace

// Whether the direct table holds a string whose home slot in the hashed table is 0; the first
// such string took slot 0, where no later probe from another home ever arrives.
bool GifWorkspace::Encoder::homeZeroTaken() const {
  for (int k = 0; k < writtenCount; ++k) {
    if (homeSlotZero(written[k])) return true;
  }
  return false;
}

void GifWorkspace::Encoder::hashAdd(int slot, int32_t key, int code) {
  hashTable[slot] = key;
  codeTable[slot] = uint16_t(code);
  usedSlots[usedCount++] = uint16_t(slot);
}

// Up to here every key was found or placed exactly as a dictionary would, so adding the direct
// table's strings in the order they were made gives the hashed table slot for slot.
void GifWorkspace::Encoder::hashFromDirect(int firstFree) {
  for (int k = 0; k < writtenCount; ++k) {
    const uint32_t prefix = written[k] >> 8;
    const uint32_t pixel = written[k] & 0xFF;
    const int32_t key = int32_t((pixel << LongestCodeBits) + prefix);
    bool found = false;
    hashAdd(probe(key, pixel, prefix, found), key, firstFree + k);
  }
}

void GifCodec::startCompressor(int bits) {
  packer = CodePacker();
  packer.initial = packer.width = bits;
  packer.largest = (1 << bits) - 1;
  packer.packet = packet;
  packer.output = output;
  clearCode = 1 << (bits - 1);
  endCode = clearCode + 1;
  packer.nextCode = clearCode + 2;
}

// Pixels run from the top picture row (the last stored row) down, each row left to right.
//
// The strings live in the workspace's direct table: one read per pixel finds the next code.
// The codes must be those of the hashed compressor, and the two agree as long as the hashed
// table behaves as a dictionary. It stops doing so in one case: "0 then 0" has key 0, which a
// probe takes for an empty slot, so once that string sits off its home slot 0 (because a string
// whose home is 0 got there first) a later probe may stop at it and overwrite it. When that
// string is about to be added with slot 0 taken (checked then, as it is added once per table
// generation), the hashed table is rebuilt from the direct one and decides the rest of the
// generation.
//
// Everything the loop touches on each pixel lives in this object, which the compiler keeps in
// registers: the packer is the codec's, copied in and handed back.
template <int Bits, bool Runs>
class GifCodec::Compressor {
 public:
  Compressor(GifCodec& codec, GifWorkspace::Encoder& tables, uint32_t first)
      : p(codec.packer),
        t(tables),
        current(first),
        runValue(first),
        clear(codec.clearCode),
        firstFree(codec.clearCode + 2),
        child(tables.child),
        written(tables.written) {}

  // From stored row `fromRow`, column `fromColumn` on.
  void run(const Image& image, int32_t fromRow, int32_t fromColumn) {
    const int32_t width = image.width();
    int32_t x = fromColumn;
    for (int32_t y = fromRow; y >= 0; --y) {
      const uint8_t* row = image.pixelRow(y);
      for (; x < width; ++x) {
        const uint32_t c = uint32_t(pixelAt<Bits>(row, x));
        if (!hashing) [[likely]] {
          if constexpr (Runs) {
            if (runLength != 0) {
              if (c == runValue && runLength < t.runLimit[c]) {
                x = walkRun(row, x, width, c);
                continue;
              }
              if (c != runValue) runLength = 0;
            }
          }
          if (directStep(c)) continue;
        } else {
          if (hashedStep(c)) continue;
        }
        current = c;
        if constexpr (Runs) {
          runValue = c;
          runLength = 1;
        }
      }
      x = 0;
    }
    t.writtenCount = logged;
  }

  CodePacker p;
  uint32_t code() const { return current; }
  // Goes on in a generation whose hashed table the caller made.
  void resumeHashing() { hashing = true; }

 private:
  // Walking a run through strings the table already holds needs no lookups: count the repeats
  // and take the code of the longest known string. Returns the run's last column.
  int32_t walkRun(const uint8_t* row, int32_t x, int32_t width, uint32_t c) {
    const int32_t n = runLength + 1;
    const int32_t room = std::min(t.runLimit[c] - n, width - 1 - x);
    const int32_t more = repeatsOf(row + x + 1, uint8_t(c), room, width - 1 - x);
    runLength = n + more;
    current = t.runCodes[c][runLength];
    return x + more;
  }

  // One pixel through the direct table: true when current followed by c is a known string (now
  // current); otherwise current is written and the string added.
  bool directStep(uint32_t c) {
    const uint32_t at = (current << 8) | c;
    const uint32_t known = child[at];
    if (known != 0) {
      current = known;
      if constexpr (Runs) runLength += runLength != 0;
      return true;
    }
    p.put(current);
    if (p.nextCode < CodeLimit) {
      if ((current | c) == 0 && (t.writtenCount = logged, t.homeZeroTaken())) [[unlikely]] {
        switchToHash();
      } else {
        child[at] = uint16_t(p.nextCode);
        written[logged++] = at;
        if constexpr (Runs) extendRun(c);
      }
      ++p.nextCode;
    } else {
      restart();
    }
    return false;
  }

  // The new string is the known run one pixel longer.
  void extendRun(uint32_t c) {
    if (runLength != 0 && runLength == t.runLimit[c] && runLength < GifWorkspace::Encoder::RunCap) {
      t.runCodes[c][runLength + 1] = uint16_t(p.nextCode);
      t.runLimit[c] = uint16_t(runLength + 1);
    }
  }

  // "0 then 0" is due with slot 0 taken: the hashed table decides the rest of the generation.
  void switchToHash() {
    t.hashFromDirect(firstFree);
    bool found = false;
    t.hashAdd(t.probe(0, 0, 0, found), 0, p.nextCode);
    hashing = true;
  }

  // directStep through the hashed table.
  bool hashedStep(uint32_t c) {
    const int32_t key = int32_t((c << LongestCodeBits) + current);
    bool found = false;
    const int slot = t.probe(key, c, current, found);
    if (found) {
      current = t.codeTable[slot];
      return true;
    }
    p.put(current);
    if (p.nextCode < CodeLimit) {
      t.hashAdd(slot, key, p.nextCode++);
    } else {
      restart();
    }
    return false;
  }

  // The table is full: start again rather than keep compressing with stale strings.
  void restart() {
    t.writtenCount = logged;
    t.emptyDirect();
    logged = 0;
    t.emptyHash();
    hashing = false;
    if constexpr (Runs) t.resetRuns();
    p.putClear(uint32_t(clear));
  }

  GifWorkspace::Encoder& t;
  uint32_t current;
  // Whether current is the code of runValue repeated runLength times (0: not such a string).
  uint32_t runValue;
  int32_t runLength = 1;
  bool hashing = false;
  const int clear;
  const int firstFree;
  uint16_t* const child;
  // The log's length stays in a register; the workspace has it whenever its functions run.
  uint32_t* const written;
  int logged = 0;
};

template <int Bits, bool Runs>
SKM_OUT_OF_LINE void GifCodec::compress(const Image& image, GifWorkspace::Encoder& t) {
  t.emptyDirect();
  t.emptyHash();
  if constexpr (Runs) t.resetRuns();
  const uint32_t first = uint32_t(pixelAt<Bits>(image.pixelRow(image.height() - 1), 0));
  packer.put(uint32_t(clearCode));
  Compressor<Bits, Runs> compressor(*this, t, first);
  compressor.run(image, image.height() - 1, 1);
  packer = compressor.p;
  packer.put(compressor.code());
}

// Two frames at a time.
//
// Each pixel's lookup needs the code the one before it found, so a frame is one long chain. In
// a frame compressed once, whether a lookup hits cannot be learnt, and a branch on it stalls on
// most pixels. Here the lookup has no branch: both slots of a bucket are tested and conditional
// moves pick the next prefix. Two frames run in one loop, so that their chains can overlap where
// the lookup's latency bounds a pixel (where the loop's own work does, as on the machines
// measured so far, a pair costs about what two frames alone would). Codes go to a log, packed
// once both frames are done.
//
// A miss into a full bucket takes the one rare branch. Bucket 0, the home of "0 then 0", is kept
// full of slots that match nothing, so that string goes that way when it is made: the lanes hold
// a dictionary, which the hashed compressor is up to the same point as the direct table (see
// Compressor), and a lane hands its frame back where that compressor would switch. A frame that
// may fill the table checks for that on each miss too.
namespace {

constexpr uint32_t PairFirstFree = (1u << 8) + 2;
constexpr uint32_t NoCode = gif::MaxCodes - 1;  // a slot xor a key below this: the key's code
constexpr uint32_t Blocker = 0xFFFFF000;        // code 0: never a hit, never empty

}  // namespace

void GifWorkspace::Lane::start(uint32_t firstPixel) {
  count = 0;
  last = firstPixel;
  backPixel = nullptr;
  restart(0);
}

void GifWorkspace::Lane::restart(uint32_t at) {
  std::memset(slots, 0, sizeof slots);
  slots[1] = slots[2] = Blocker;
  generation = at;
  bias = PairFirstFree - at;
  limit = uint32_t(CodeLimit) - bias;
}

// The step after `key` (prefix << 8 | pixel) missed a full bucket or filled the table: the next
// prefix, and the log's new length above it. Slots fill in the order probed and never empty
// within a table generation, so a key is in the first bucket along its probe that still has
// room, or nowhere.
uint64_t GifWorkspace::Lane::rareStep(uint32_t n, uint32_t key, const uint8_t* at) {
  const uint32_t tagged = key << 12;
  const uint32_t pixel = key & 0xFF;
  uint32_t* room = nullptr;
  for (uint32_t h = bucketOf(key >> 8, pixel); room == nullptr; h = (h + 1) % PairBuckets) {
    for (uint32_t* slot = slots + 1 + 2 * h; slot != slots + 3 + 2 * h; ++slot) {
      if ((*slot ^ tagged) - 1 < NoCode) return (*slot ^ tagged) | uint64_t(n) << 32;
      if (*slot == 0 && room == nullptr) room = slot;
    }
  }
  log[n++] = tagged;
  if (n - 1 == limit) {
    log[n++] = ClearMark;
    restart(n);
  } else {
    // The direct table's switch: a string made before "0 then 0" has its home slot 0.
    bool homeZero = false;
    for (uint32_t k = generation; key == 0 && k < n - 1; ++k)
      homeZero |= homeSlotZero(log[k] >> 12);
    if (homeZero && !handedBack()) {
      backAt = n;
      backGeneration = generation;
      backPixel = at;
    }
    *room = tagged | (n - 1 + bias);
  }
  return pixel | uint64_t(n) << 32;
}

// The pixel at `at`; p is the code of the string so far, n the log's length. Frames too small to
// fill the table skip that test and know their codes' bias.
template <bool MayFill>
[[gnu::always_inline]] inline void GifWorkspace::Lane::step(uint32_t& p, uint32_t& n,
                                                            const uint8_t* at) {
  const uint32_t c = *at;
  const std::size_t h = bucketOf(p, c);
  const uint32_t first = slots[1 + 2 * h];
  const uint32_t second = slots[2 + 2 * h];
  const uint32_t tagged = (p << 20) | (c << 12);
  // A key sits in one slot at most, and a slot that does not hold it differs from it above the
  // code's bits or has code 0: the smaller of the two, less one, is the code less one, or no
  // code.
  const uint32_t found = std::min((first ^ tagged) - 1, (second ^ tagged) - 1);
  const int64_t missed = (int64_t(NoCode) - 1 - int64_t(found)) >> 63;  // all ones on a miss
  // Nonzero for a miss into a full bucket (or a full table), in one value so that it is one
  // branch, and a rare one, not one on whether the bucket is full. A bucket fills its first
  // slot first.
  uint32_t rare = second;
  if constexpr (MayFill) rare |= uint32_t(n == limit);
  if ((rare & uint32_t(missed)) != 0) [[unlikely]] {
    const uint64_t next = rareStep(n, tagged >> 12, at);
    p = uint32_t(next);
    n = uint32_t(next >> 32);
    return;
  }
  // Written on every pixel: the code into the log, the new string into the bucket's free slot,
  // or, on a hit, into a slot nothing reads. The slot is picked with a mask, as compilers turn a
  // choice between two stores back into a branch.
  log[n] = tagged;
  slots[(1 + 2 * h + (first != 0)) & std::size_t(missed)] =
      tagged | (n + (MayFill ? bias : PairFirstFree));
  n -= uint32_t(missed);
  p = found < NoCode ? found + 1 : c;
}

// Whether a frame may be compressed beside another of the same size.
bool GifCodec::pairable(const Image* frame) {
  if (frame == nullptr || !frame->isValid() || frame->bitCount() != 8) return false;
  const int64_t pixels = int64_t(frame->width()) * frame->height();
  return pixels > 0 && pixels <= GifWorkspace::Lane::PairPixels && !mostlyRuns(*frame);
}

template <bool MayFill>
SKM_OUT_OF_LINE void GifCodec::compressLanes(const Image& a, const Image& b,
                                             GifWorkspace::Encoder& t) {
  const int32_t width = a.width();
  uint32_t pa = t.lanes[0].last, na = 0;
  uint32_t pb = t.lanes[1].last, nb = 0;
  int32_t x = 1;
  for (int32_t y = a.height() - 1; y >= 0; --y) {
    const uint8_t* ra = a.pixelRow(y);
    const uint8_t* rb = b.pixelRow(y);
    for (; x < width; ++x) {
      t.lanes[0].step<MayFill>(pa, na, ra + x);
      t.lanes[1].step<MayFill>(pb, nb, rb + x);
    }
    x = 0;
  }
  t.lanes[0].count = na;
  t.lanes[0].last = pa;
  t.lanes[1].count = nb;
  t.lanes[1].last = pb;
}

void GifCodec::compressPair(const Image& a, const Image& b, GifWorkspace::Encoder& t) {
  // Each pixel but the first writes at most one code.
  const bool mayFill = int64_t(a.width()) * a.height() - 1 >= CodeLimit - int64_t(PairFirstFree);
  t.lanes[0].start(a.pixelRow(a.height() - 1)[0]);
  t.lanes[1].start(b.pixelRow(b.height() - 1)[0]);
  if (mayFill) {
    compressLanes<true>(a, b, t);
  } else {
    compressLanes<false>(a, b, t);
  }
}

// A lane that handed its frame back: its codes up to "0 then 0", then the hashed compressor
// from the next pixel with the table generation the lane had made, as compress would have gone
// on after its switch.
SKM_OUT_OF_LINE void GifCodec::resumeLane(const Image& image, const GifWorkspace::Lane& lane,
                                          GifWorkspace::Encoder& t) {
  const uint32_t firstFree = uint32_t(clearCode) + 2;
  packer.put(uint32_t(clearCode));
  for (uint32_t k = 0; k < lane.backAt; ++k) {
    if (lane.log[k] == GifWorkspace::Lane::ClearMark) {
      packer.putClear(uint32_t(clearCode));
    } else {
      packer.put(lane.log[k] >> 20);
      packer.nextCode += packer.nextCode < CodeLimit;
    }
  }
  t.emptyDirect();
  t.emptyHash();
  t.writtenCount = int(lane.backAt - 1 - lane.backGeneration);
  for (int k = 0; k < t.writtenCount; ++k) t.written[k] = lane.log[lane.backGeneration + k] >> 12;
  t.hashFromDirect(int(firstFree));
  t.writtenCount = 0;
  bool found = false;
  t.hashAdd(t.probe(0, 0, 0, found), 0, packer.nextCode - 1);

  int32_t row = image.height() - 1;
  while (row > 0 && (lane.backPixel < image.pixelRow(row) ||
                     lane.backPixel >= image.pixelRow(row) + image.width())) {
    --row;
  }
  Compressor<8, false> compressor(*this, t, 0);
  compressor.resumeHashing();
  compressor.run(image, row, int32_t(lane.backPixel - image.pixelRow(row)) + 1);
  packer = compressor.p;
  packer.put(compressor.code());
}

namespace {

// Codes packed least significant bit first without a branch: 8 bytes stored each time, the
// whole ones kept.
struct BitWriter {
  uint8_t* out;
  uint64_t bits = 0;
  uint32_t count = 0;

  void put(uint32_t code, uint32_t width) {
    bits |= uint64_t(code) << count;
    count += width;
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(out, &bits, sizeof bits);
    } else {
      for (int k = 0; k < 8; ++k) out[k] = uint8_t(bits >> (8 * k));
    }
    out += count >> 3;
    bits >>= count & ~7u;
    count &= 7;
  }
};

}  // namespace

// The image data of a lane: its codes, in order, in the widths and sub-blocks compress and the
// packer would have given them. Widths change at known codes, so the codes go out in runs of
// one width.
SKM_OUT_OF_LINE void GifCodec::packLane(GifWorkspace::Lane& lane) {
  const uint32_t clear = uint32_t(clearCode);
  const uint32_t initial = 9;
  BitWriter writer{lane.data};
  uint32_t width = initial;
  uint32_t largest = (1u << width) - 1;  // the width grows once a code goes out after it
  uint32_t next = clear + 2;             // the next code when a code goes out
  writer.put(clear, width);
  for (uint32_t k = 0; k < lane.count;) {
    if (lane.log[k] == GifWorkspace::Lane::ClearMark) {
      writer.put(clear, width);
      width = initial;
      largest = (1u << width) - 1;
      next = clear + 2;
      ++k;
      continue;
    }
    // Up to the code that goes out with `next` one past `largest`, or up to the one that finds
    // the table full.
    const uint32_t last = width < uint32_t(LongestCodeBits) ? largest + 1 : uint32_t(CodeLimit);
    const uint32_t run = std::min(lane.count - k, last - next + 1);
    // Two codes a store: at most 24 bits join the 7 or fewer the writer holds.
    const uint32_t end = k + run;
    for (; k + 1 < end; k += 2) {
      writer.put((lane.log[k] >> 20) | (lane.log[k + 1] >> 20) << width, 2 * width);
    }
    if (k < end) writer.put(lane.log[k++] >> 20, width);
    next += run;
    if (next > last) {
      next = last;
      if (width < uint32_t(LongestCodeBits)) {
        ++width;
        largest = width == uint32_t(LongestCodeBits) ? uint32_t(CodeLimit) : (1u << width) - 1;
        next = last + 1;
      }
    }
  }
  writer.put(lane.last, width);
  if (next > largest) ++width;
  writer.put(uint32_t(endCode), width);
  const int32_t total = int32_t(writer.out - lane.data) + (writer.count > 0 ? 1 : 0);
  for (int32_t at = 0; at < total; at += PacketLimit) {
    writePacket(output, lane.data + at, std::min(PacketLimit, total - at));
  }
}

bool GifCodec::encoderReady() {
  GifWorkspace* w = tables();
  return w != nullptr && w->ensureEncoder();
}

void GifCodec::writeScreen(const Image& first) {
  static constexpr char signature[] = "GIF87a";
  for (int i = 0; i < 6; ++i) output->putByte(signature[i]);
  const uint32_t bits = first.bitCount();
  putWord(uint32_t(first.width()));
  putWord(uint32_t(first.height()));
  output->putByte(int32_t(0x80 | (((bits - 1) << 5) & 0xFF) | (bits - 1)));
  output->putByte(0);
  output->putByte(0);
  const RgbQuad* entries = first.palette();
  const uint32_t count = entries != nullptr ? first.paletteEntries() : 0;
  // The table goes out in one write rather than 768 single bytes.
  uint8_t table[256 * 3];
  uint32_t n = 0;
  for (uint32_t i = 0; i < count && i < 256; ++i) {
    table[n++] = entries[i].red;
    table[n++] = entries[i].green;
    table[n++] = entries[i].blue;
  }
  if (n > 0) output->write(table, 1, int32_t(n));
}

bool GifCodec::writeImage(const Image& image, int disposalValue, GifWorkspace::Lane* packed) {
  const int32_t transparent = image.info.transparentIndex;
  graphicControl[0] = uint8_t(((disposalValue & 7) << 2) | (transparent != -1 ? 1 : 0));
  graphicControl[1] = uint8_t(image.info.frameDelay & 0xFF);
  graphicControl[2] = uint8_t((image.info.frameDelay / 256) & 0xFF);
  graphicControl[3] = uint8_t(transparent & 0xFF);
  output->putByte(gif::ExtensionIntroducer);
  output->putByte(gif::GraphicControlLabel);
  output->putByte(4);
  for (uint8_t byte : graphicControl) output->putByte(byte);
  output->putByte(0);

  output->putByte(gif::ImageSeparator);
  putWord(uint32_t(image.info.xOffset));
  putWord(uint32_t(image.info.yOffset));
  putWord(uint32_t(image.width()));
  putWord(uint32_t(image.height()));
  output->putByte(0);

  const int bits = image.bitCount();
  const int minimumSize = bits == 1 ? 2 : bits;
  output->putByte(minimumSize);
  startCompressor(minimumSize + 1);
  GifWorkspace::Encoder& t = *workspace->encoder;
  if (packed != nullptr && !packed->handedBack()) {
    packLane(*packed);
    const bool failed = streamFailed();
    output->putByte(0);
    return !failed;
  }
  t.mapRows(int64_t(image.width()) * image.height());
  if (packed != nullptr) {
    resumeLane(image, *packed, t);
  } else if (image.width() <= 0 || image.height() <= 0) {
    // No pixels: a clear code and the end code make well-formed, empty image data.
    packer.put(uint32_t(clearCode));
  } else if (bits == 1) {
    compress<1, false>(image, t);
  } else if (bits == 4) {
    compress<4, false>(image, t);
  } else if (mostlyRuns(image)) {
    // The run shortcut pays on drawn pictures and costs on noisy ones; both write the same.
    compress<8, true>(image, t);
  } else {
    compress<8, false>(image, t);
  }
  packer.put(uint32_t(endCode));
  packer.finish();
  const bool failed = streamFailed();
  output->putByte(0);
  return !failed;
}

void GifCodec::writeComment() {
  std::size_t n = 0;
  while (n < 255 && commentText[n] != '\0') ++n;
  if (n == 0) return;
  output->putByte(gif::ExtensionIntroducer);
  output->putByte(gif::CommentLabel);
  output->putByte(int32_t(n));
  output->write(commentText, 1, int32_t(n));
  output->putByte(0);
}

bool GifCodec::encode(ByteStream* stream) {
  if (stream == nullptr) {
    setLastError(ImageError::BadArgument, "Can't open GIF for writing");
    return false;
  }
  if (bitCount() > 8) {
    setLastError(ImageError::Unsupported, "GIF Images must be 8 bit or less");
    return false;
  }
  if (!isValid()) {
    setLastError(ImageError::BadArgument, "Bad image pointer");
    return false;
  }
  if (!encoderReady()) {
    setLastError(ImageError::OutOfMemory, OutOfMemoryMessage);
    return false;
  }
  output = stream;
  writeScreen(*this);
  bool ok = writeImage(*this, disposal);
  if (ok) {
    writeComment();
    output->putByte(gif::Trailer);
    ok = !streamFailed();
  }
  output = nullptr;
  if (!ok) setLastError(ImageError::WriteFailed, "Write Error in GIF file");
  return ok;
}

bool GifCodec::encodeAnimation(ByteStream* stream, Image** frames, int count) {
  auto fail = [this](ImageError kind, const char* message) {
    output = nullptr;
    setLastError(kind, message);
    return false;
  };
  if (stream == nullptr) return fail(ImageError::BadArgument, "invalid file pointer");
  if (frames == nullptr || count <= 0 || frames[0] == nullptr || !frames[0]->isValid()) {
    return fail(ImageError::BadArgument, "multipage GIF, no images!");
  }
  for (int i = 0; i < count; ++i) {
    if (frames[i] != nullptr && frames[i]->bitCount() > 8) {
      return fail(ImageError::Unsupported, "GIF Images must be 8 bit or less");
    }
  }
  if (!encoderReady()) return fail(ImageError::OutOfMemory, OutOfMemoryMessage);

  output = stream;
  writeScreen(*frames[0]);
  static constexpr char application[] = "NETSCAPE2.0";
  output->putByte(gif::ExtensionIntroducer);
  output->putByte(gif::ApplicationLabel);
  output->putByte(11);
  for (int i = 0; i < 11; ++i) output->putByte(application[i]);
  output->putByte(3);
  output->putByte(1);
  putWord(uint32_t(loops));
  output->putByte(0);

  GifWorkspace::Encoder& t = *workspace->encoder;
  bool nextPairable = pairable(frames[0]);
  for (int i = 0; i < count; ++i) {
    const Image* frame = frames[i];
    if (frame == nullptr || !frame->isValid())
      return fail(ImageError::BadArgument, "Bad image pointer");
    const Image* next = i + 1 < count ? frames[i + 1] : nullptr;
    const bool framePairable = nextPairable;
    nextPairable = pairable(next);
    const bool paired = framePairable && nextPairable && next->width() == frame->width() &&
                        next->height() == frame->height();
    if (paired) nextPairable = i + 2 < count && pairable(frames[i + 2]);
    if (paired) compressPair(*frame, *next, t);
    if (!writeImage(*frame, disposal, paired ? &t.lanes[0] : nullptr) ||
        (paired && !writeImage(*next, disposal, &t.lanes[1]))) {
      return fail(ImageError::WriteFailed, "Write Error in GIF file");
    }
    i += paired;
  }
  writeComment();
  output->putByte(gif::Trailer);
  if (streamFailed()) return fail(ImageError::WriteFailed, "Write Error in GIF file");
  output = nullptr;
  return true;
}

}  // namespace skm
