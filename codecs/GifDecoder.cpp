// GIF reading: block scanning, extensions, colour tables and the LZW decoder.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "codecs/GifCodec.h"
#include "codecs/GifTables.h"

namespace skm {

namespace {

using gif::ExtensionIntroducer;
using gif::ImageSeparator;
using gif::Trailer;
// What the decoder takes beyond the letter of the format. Files like these are met in the world;
// each rule keeps what such a file holds and reads nothing that is not there.
//  1. A minimum code size of 9, one past the format's largest, decodes like the others.
//  2. Codes whose strings are not known: data that does not open with a clear code extends a
//     string 0 that was never written, and a code past the next free slot leaves the previous
//     code's string unknown. Until the next clear such codes are spelt through the prefix
//     chains byte by byte; a chain that never reaches a root ends the frame.
//  3. A first code that is neither a clear code nor a literal: the data is not LZW data, and
//     nothing of it is taken.
//  4. A code past the table right after a later clear is taken as code 0.
//  5. Reading past the stream: after its last byte come a sub-block size of 0xFF and zeros;
//     data whose first sub-block lies wholly past the end is padding, not pixels.
//  6. Data that goes on past the frame: a non-interlaced frame ends where a line beyond its last
//     would start; an interlaced one drops what comes after its last line.
// Data that ends early (no end code, an empty sub-block) keeps what it decoded.
constexpr int LargestMinimumCodeSize = 9;
// Codes below the clear code: up to 512 of them with the largest minimum code size.
constexpr int Roots = 1 << LargestMinimumCodeSize;
// What the line hand-off says when the buffer cannot be had.
constexpr int OutOfLines = -2;

int readByte(ByteStream* stream) {
  uint8_t byte = 0;
  return stream->read(&byte, 1, 1) == 1 ? byte : -1;
}

int colorCountOf(uint8_t packed) {
  return 2 << (packed & 7);
}

uint32_t depthForColors(int colors) {
  if (colors <= 2) return 1;
  if (colors <= 16) return 4;
  return 8;
}

// Packs a line of one-byte indices into 1- or 4-bit pixels in place, pixel i going to byte
// i * depth / 8. Bits of the last byte beyond the line keep what that byte held.
void packLine(uint8_t* line, int32_t width, uint32_t depth) {
  if (depth == 1) {
    const int32_t bytes = (width + 7) / 8;
    for (int32_t b = 0; b < bytes; ++b) {
      const uint8_t* in = line + b * 8;
      const int32_t n = width - b * 8 < 8 ? width - b * 8 : 8;
      uint8_t value = line[b];
      for (int32_t j = 0; j < n; ++j) {
        const uint8_t bit = uint8_t(0x80 >> j);
        value = uint8_t((value & ~bit) | ((in[j] & 1) ? bit : 0));
      }
      line[b] = value;
    }
  } else if (depth == 4) {
    const int32_t bytes = (width + 1) / 2;
    for (int32_t b = 0; b < bytes; ++b) {
      const uint8_t* in = line + b * 2;
      if (width - b * 2 >= 2) {
        line[b] = uint8_t(((in[0] & 15) << 4) | (in[1] & 15));
      } else {
        line[b] = uint8_t(((in[0] & 15) << 4) | (line[b] & 15));
      }
    }
  }
}

// Copies a string the frame already holds ahead of `to`, 16 bytes a step, which may write up to
// 15 bytes past it; most strings take one step. The string either ends before `to`, or it is
// the previous string plus its own first byte, which ends one byte into `to`. A step then reads
// bytes it has not written yet, but only the last byte of a short string is one of them, and
// the last store puts it right: the byte `count - 1` ahead of `from` is then to[0]. A longer
// string is at least 16 bytes behind, so each step reads only bytes written before it.
inline void copyString(uint8_t* to, const uint8_t* from, int count) {
  // Through a local: the 16 bytes read and those written may overlap.
  auto step = [](uint8_t* out, const uint8_t* in) {
    uint8_t chunk[16];
    std::memcpy(chunk, in, 16);
    std::memcpy(out, chunk, 16);
  };
  step(to, from);
  if (count > 16) [[unlikely]] {
    for (int i = 16; i < count; i += 16) step(to + i, from + i);
  }
  to[count - 1] = from[count - 1];
}

// Where a frame's LZW data goes while it is decoded: the one-byte strings of the roots, then the
// frame's pixels line after line, so that every code, root or not, is one copy from where its
// string was first met. The buffer grows with the data (a frame may promise far more pixels
// than its data holds) and always has room for a string that starts before fastEnd, plus a
// copy's overrun.
class FrameBuffer {
 public:
  // Never more than room for `most` pixels. Starts from the buffer in `store`, if any, and
  // leaves its own there when it is not big.
  FrameBuffer(uint64_t pixels, GifFrameStore& store) : most(pixels), kept(&store) {
    base = store.bytes;
    capacity = store.size;
    store = GifFrameStore();
    // The roots' strings before pixel 0 are never written over: copies go forwards from there.
    if (base != nullptr) frame = base + Roots;
  }
  ~FrameBuffer() {
    if (capacity <= KeepMost) {
      *kept = GifFrameStore{base, std::size_t(capacity)};
    } else {
      std::free(base);
    }
  }
  FrameBuffer(const FrameBuffer&) = delete;
  FrameBuffer& operator=(const FrameBuffer&) = delete;

  // Room for a string that starts before pixel `upTo`; false when the memory cannot be had.
  bool reserve(uint64_t upTo) {
    const uint64_t want = Roots + upTo + Slack;
    if (want > capacity) {
      uint64_t grown = capacity * 2 > want ? capacity * 2 : want;
      if (grown > Roots + most + Slack) grown = Roots + most + Slack;
      // Offsets in the frame must fit the decoder's start table.
      if (grown > uint64_t(SIZE_MAX) || grown > uint64_t(INT32_MAX)) return false;
      auto* moved = static_cast<uint8_t*>(std::realloc(base, std::size_t(grown)));
      if (moved == nullptr) return false;
      if (base == nullptr) {
        for (int i = 0; i < Roots; ++i) moved[i] = uint8_t(i);
      }
      base = moved;
      frame = base + Roots;
      capacity = grown;
    }
    fastEnd = capacity - Roots - Slack;
    if (fastEnd > most) fastEnd = most;
    return true;
  }

  uint8_t* base = nullptr;   // the roots' strings, from frame - Roots
  uint8_t* frame = nullptr;  // pixel 0
  uint64_t fastEnd = 0;

 private:
  static constexpr uint64_t Slack = gif::MaxCodes + 64;
  uint64_t capacity = 0;
  const uint64_t most;
  static constexpr uint64_t KeepMost = uint64_t(4) << 20;
  GifFrameStore* const kept;
};

}  // namespace

// The sub-blocks of the current frame's LZW data, read through the codec's block buffer.
struct GifCodec::CodeReader {
  const uint8_t* next = nullptr;
  int left = 0;
  // Set when the stream ends before the first byte of the first sub-block: whatever the reader
  // then delivers is padding, not data.
  bool missing = false;
  bool started = false;
  uint8_t buffer[256] = {};  // a sub-block the block buffer holds only in part, gathered

  // Tops up `bits` (least significant first, `count` of them) from the bytes up to `end`, to at
  // least `size` bits if they hold that many; false if they do not. Where 8 bytes are there, as
  // many whole ones as fit are taken at once; those past them land where they will be OR-ed in
  // again, unchanged.
  static bool topUp(const uint8_t*& from, const uint8_t* end, uint64_t& bits, int& count,
                    int size) {
    if (end - from >= 8) {
      uint64_t word;
      std::memcpy(&word, from, 8);
      bits |= word << count;
      from += (63 - count) >> 3;
      count |= 56;
      return true;
    }
    for (; count < size && from != end; count += 8) bits |= uint64_t(*from++) << count;
    return count >= size;
  }

  // Tops up `bits` to at least `size` bits, from the sub-blocks that follow when this one runs
  // out; false at the end of the data.
  bool refill(GifCodec& codec, ByteStream* stream, uint64_t& bits, int& count, int size) {
    while (count < size) {
      if (left == 0) {
        if (!codec.readSubBlock(stream, *this)) return false;
        continue;
      }
      const uint8_t* from = next;
      topUp(next, next + left, bits, count, size);
      left -= int(next - from);
    }
    return true;
  }
};

// The destination of a frame's decoded lines: rows of the image (top row first, or in the four
// interlace passes), or only a pixel count for the pre-scan, which needs to know where the
// frame's data ends but not what it holds.
struct GifCodec::RowSink {
  bool store = false;
  bool interlaced = false;
  int32_t width = 0;
  int32_t height = 0;
  // Count only: the frame is full once this many pixels have arrived.
  uint64_t pixels = 0;
  uint64_t limit = std::numeric_limits<uint64_t>::max();
  // Store: the image and the next row.
  Image* image = nullptr;
  int32_t storedRow = 0;
  int32_t pictureRow = 0;
  int32_t step = 8;
  int32_t pass = 0;

  // Stores one line; -1 when the image already holds all its rows.
  int writeRow(uint8_t* line, int32_t count) {
    const uint32_t depth = image->bitCount();
    if (depth < 8) packLine(line, width, depth);
    const int32_t stride = image->info.rowBytes;
    const std::size_t bytes = std::size_t(count < stride ? count : stride);
    if (interlaced) {
      static constexpr int32_t passStart[4] = {0, 4, 2, 1};
      static constexpr int32_t passStep[4] = {8, 8, 4, 2};
      if (pictureRow < height) {
        std::memcpy(image->pixelRow(height - pictureRow - 1), line, bytes);
      }
      // Lines after the last pass have no row left and are dropped.
      if (pass < 4) {
        pictureRow += step;
        while (pictureRow >= height && ++pass < 4) {
          pictureRow = passStart[pass];
          step = passStep[pass];
        }
      }
      return 0;
    }
    if (storedRow < 0) return -1;
    // The rows of a non-interlaced frame come unzeroed: what a line does not cover is cleared.
    uint8_t* row = image->pixelRow(storedRow);
    std::memcpy(row, line, bytes);
    if (bytes < std::size_t(stride)) std::memset(row + bytes, 0, std::size_t(stride) - bytes);
    --storedRow;
    return 0;
  }

  // Hands over the first `kept` pixels of the frame buffer: whole lines, then (when `partial`)
  // a last partial one padded in place with zeros, which are not data. Returns -1 when a line
  // had no row left, OutOfLines when the buffer could not be had for the padding.
  int handOff(FrameBuffer& buffer, uint64_t kept, bool partial) {
    const uint64_t w = uint64_t(width);
    const uint64_t lines = kept / w;
    const uint64_t rest = kept % w;
    int result = 0;
    if (partial && rest > 0 && lines < uint64_t(height) && !buffer.reserve(kept - rest + w)) {
      return OutOfLines;
    }
    for (uint64_t k = 0; k < lines && k < uint64_t(height); ++k) {
      if (writeRow(buffer.frame + k * w, width) < 0) result = -1;
    }
    if (partial && result == 0 && rest > 0 && lines < uint64_t(height)) {
      uint8_t* line = buffer.frame + lines * w;
      std::memset(line + rest, 0, std::size_t(w - rest));
      result = writeRow(line, int32_t(rest));
    }
    return result;
  }
};

int GifCodec::getByte(ByteStream* stream) {
  if (blockIndex >= GifReadBlockBytes) {
    int32_t count = stream->read(block, 1, GifReadBlockBytes);
    if (count < 0) count = 0;
    // Past the end of the stream: a last sub-block size of 0xFF, then zeros (tolerance 5).
    if (count < GifReadBlockBytes) block[count] = 0xFF;
    GifWorkspace::Decoder& t = *workspace->decoder;
    if (count + 1 > t.blockUsed) t.blockUsed = count + 1;
    blockCount = count;
    blockIndex = 0;
  }
  return block[blockIndex++];
}

bool GifCodec::readSubBlock(ByteStream* stream, CodeReader& reader) {
  const int size = getByte(stream);
  if (!reader.started) {
    // The stream ends at or before the data's first byte: nothing of it is there.
    reader.started = true;
    reader.missing = blockCount < GifReadBlockBytes && blockIndex >= blockCount;
  }
  if (size == 0) return false;
  if (blockIndex < GifReadBlockBytes && blockIndex + size <= GifReadBlockBytes) {
    // Read where it is: the block stays as it is until the reader has taken these bytes.
    reader.next = block + blockIndex;
    blockIndex += size;
  } else {
    for (int i = 0; i < size; ++i) reader.buffer[i] = uint8_t(getByte(stream));
    reader.next = reader.buffer;
  }
  reader.left = size;
  return true;
}

// The string of `code` spelt through the prefix chains, last byte first, into the stack; its
// length, or 0 for a chain that never reaches a root (a cyclic table from hostile data). A code
// one past the table is the previous code's string plus that string's first byte.
int GifWorkspace::Decoder::walkChain(int code, int slot, int previous, uint8_t previousFirst,
                                     int firstFree) {
  int depth = 0;
  if (code >= slot) {
    code = previous;
    stack[depth++] = previousFirst;
  }
  while (code >= firstFree && depth < gif::MaxCodes) {
    stack[depth++] = suffix[code];
    code = prefix[code];
  }
  if (depth >= gif::MaxCodes) return 0;
  stack[depth++] = uint8_t(code);
  return depth;
}

// One frame's string table as the decoder goes through its codes: the generation since the last
// clear, the previous code and where its string starts. Its steps are small and inlined into the
// decoding loop, where the fields live in registers.
struct GifCodec::LzwTable {
  GifWorkspace::Decoder& t;
  const int minimumSize;
  const int clear;
  const int end;
  const int firstFree;
  int codeSize = 0;
  uint32_t codeMask = 0;
  int topSlot = 0;
  int slot = 0;
  int previous = 0;
  uint64_t previousAt = 0;  // where the previous code's string starts in the frame
  uint8_t firstChar = 0;    // the first byte of the previous code's string
  // Whether every code's string is in the frame buffer; not before the first clear (tolerance 2).
  bool sane = false;

  LzwTable(GifWorkspace::Decoder& table, int minimum)
      : t(table), minimumSize(minimum), clear(1 << minimum), end(clear + 1), firstFree(clear + 2) {
    t.reset(clear);
    restart();
  }

  // A new generation: the codes above the roots free again, at the first code size.
  void restart() {
    // The fast loop may have made the next free code ready.
    t.forget(firstFree, slot < gif::MaxCodes ? slot + 1 : slot);
    codeSize = minimumSize + 1;
    codeMask = (1u << codeSize) - 1;
    topSlot = 1 << codeSize;
    slot = firstFree;
  }

  void grow() {
    if (slot >= topSlot && codeSize < gif::LongestCodeBits) {
      topSlot <<= 1;
      ++codeSize;
      codeMask = codeMask * 2 + 1;
    }
  }

  // Where the common case's loop stands: the reader's bits and bytes, the next free code, the
  // previous code and the pixels decoded.
  struct Run {
    uint64_t bits;
    int bitCount;
    const uint8_t* next;
    int free;
    int prev;
    uint64_t at;
  };

  // Known codes at one code size, known when compiled, so that the mask, the shift and the test
  // for the width's end are constants and the registers they would take hold the state. Runs
  // until the width's last code (false) or until a code it does not take (true). `Full`: the
  // table is full, and codes only copy strings until a clear.
  template <int Size, bool Full>
  SKM_SMALL_FUNCTION static bool runWidth(Run& run, GifWorkspace::Decoder& d, uint8_t* frame,
                                          const uint8_t* dataEnd, uint64_t fastEnd) {
    constexpr int Top = 1 << Size;
    uint64_t bits = run.bits;
    int bitCount = run.bitCount;
    const uint8_t* next = run.next;
    int free = run.free;
    int prev = run.prev;
    uint64_t at = run.at;
    bool stop = true;
    for (;;) {
      if (bitCount < Size && !CodeReader::topUp(next, dataEnd, bits, bitCount, Size)) break;
      const std::size_t code = std::size_t(bits & uint64_t(Top - 1));
      const std::size_t count = d.length[code];
      if (count == 0) break;
      bits >>= Size;
      bitCount -= Size;
      copyString(frame + at, frame + d.start[code], int(count));
      if constexpr (!Full) {
        // The first byte read back where it was just written: held across the copy, it went
        // through the stack.
        d.link(free++, prev, frame[at]);
        // The next free code made known one code ahead (see runKnown).
        d.ready(free, int(count) + 1, int32_t(at));
        prev = int(code);
      }
      at += uint64_t(count);
      if (at >= fastEnd) break;
      if (!Full && free + 1 == Top) {
        stop = false;
        break;
      }
    }
    run = Run{bits, bitCount, next, free, prev, at};
    return stop;
  }

  // runWidth at the code size `size`, one of `Sizes`.
  template <int... Sizes>
  static bool runAnyWidth(std::integer_sequence<int, Sizes...>, int size, Run& run,
                          GifWorkspace::Decoder& d, uint8_t* frame, const uint8_t* dataEnd,
                          uint64_t fastEnd) {
    bool stop = true;
    (void)((size == Sizes &&
            ((stop = runWidth<Sizes, false>(run, d, frame, dataEnd, fastEnd)), true)) ||
           ...);
    return stop;
  }

  // The common case of well-formed data as loops of their own, whose state stays in registers
  // rather than in the table: known codes of sane data, while the sub-block holds the next
  // code's bits and the frame has room. Stops before the first code it does not take (any code
  // of length 0, which the caller reads again) and returns the pixels decoded then.
  SKM_SMALL_FUNCTION uint64_t runKnown(uint64_t& bitsRef, int& bitCountRef, CodeReader& reader,
                                       uint8_t* frame, uint64_t at, uint64_t fastEnd) {
    Run run{bitsRef, bitCountRef, reader.next, slot, previous, at};
    const uint8_t* const dataEnd = reader.next + reader.left;
    int size = codeSize;
    int top = topSlot;  // 1 << size
    uint64_t prevAt = previousAt;
    GifWorkspace::Decoder& d = t;
    // The next free code is made known one code ahead: its string is the previous one plus a
    // byte, from where the previous one starts. Noisy pictures send that very code now and then
    // (the previous string plus its own first byte), which then needs no step of its own, and
    // no entry waits on the previous string's length. So while the table has room, the next
    // free code's start is where the previous string starts.
    if (run.free < top) d.ready(run.free, d.length[run.prev] + 1, int32_t(prevAt));
    for (;;) {
      if (run.free + 1 < top) {
        const bool stop = runAnyWidth(std::integer_sequence<int, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12>{},
                                      size, run, d, frame, dataEnd, fastEnd);
        prevAt = uint64_t(d.start[run.free]);
        if (stop) break;
      }
      if (run.free >= top) {
        // Full, which only the longest codes are: the previous code no longer matters until a
        // clear.
        if (size == gif::LongestCodeBits) {
          runWidth<gif::LongestCodeBits, true>(run, d, frame, dataEnd, fastEnd);
        }
        break;
      }
      // The width's last code: codes grow a bit wider after it, or the table is full.
      if (run.bitCount < size &&
          !CodeReader::topUp(run.next, dataEnd, run.bits, run.bitCount, size)) {
        break;
      }
      const int code = int(run.bits & uint64_t(top - 1));
      const int count = d.length[code];
      if (count == 0) break;
      run.bits >>= size;
      run.bitCount -= size;
      const uint8_t* from = frame + d.start[code];
      d.link(run.free++, run.prev, from[0]);
      copyString(frame + run.at, from, count);
      run.prev = code;
      prevAt = run.at;
      if (size < gif::LongestCodeBits) {
        top <<= 1;
        ++size;
        d.ready(run.free, count + 1, int32_t(run.at));
      }
      run.at += uint64_t(count);
      if (run.at >= fastEnd) break;
    }
    bitsRef = run.bits;
    bitCountRef = run.bitCount;
    reader.next = run.next;
    reader.left = int(dataEnd - run.next);
    codeSize = size;
    codeMask = uint32_t(top - 1);
    topSlot = top;
    // The previous string's first byte, where the frame holds it, if the loop made an entry.
    if (run.free != slot) firstChar = frame[prevAt];
    slot = run.free;
    previous = run.prev;
    previousAt = prevAt;
    return run.at;
  }

  // The literal that opens a generation.
  void open(int code, uint8_t* out, uint64_t at) {
    previous = code;
    previousAt = at;
    firstChar = uint8_t(code);
    sane = true;
    if (out != nullptr) out[0] = uint8_t(code);
  }

  // A code of sane data that runKnown did not take (the next free code, one past it, a known
  // code where the sub-block ends) or any code when the bytes are not kept (`out` null).
  // Returns its string's length.
  int saneStep(int code, uint8_t* frame, uint8_t* out, uint64_t at) {
    int count = 0;
    if (code >= slot) {
      // The string of the previous code plus its own first byte, which starts where the
      // previous one did: the copy below overlaps itself by that one byte.
      t.add(slot, previous, firstChar, int32_t(previousAt));
      // A code past the next free slot leaves a previous code whose string is not known yet
      // (tolerance 2).
      if (code != slot) sane = false;
      count = t.length[slot];
      if (out != nullptr) copyString(out, frame + previousAt, count);
      ++slot;
      previous = code;
      previousAt = at;
    } else {
      count = t.length[code];
      if (out != nullptr) copyString(out, frame + t.start[code], count);
      if (slot < topSlot) {
        const uint8_t first = out != nullptr ? out[0] : 0;
        t.add(slot, previous, first, int32_t(previousAt));
        ++slot;
        previous = code;
        previousAt = at;
        firstChar = first;
      }
    }
    return count;
  }

  // A code of data whose strings are not all in the buffer, spelt through the prefix chains.
  // Returns its string's length, 0 for a chain that never reaches a root.
  int spell(int code, uint8_t* out) {
    const int count = t.walkChain(code, slot, previous, firstChar, firstFree);
    if (count == 0) return 0;
    if (slot < topSlot) {
      firstChar = t.stack[count - 1];
      t.link(slot, previous, firstChar);
      ++slot;
      previous = code;
    }
    if (out != nullptr) {
      for (int i = 0; i < count; ++i) out[i] = t.stack[count - 1 - i];
    }
    return count;
  }
};

// Decodes one frame's LZW data into the sink. Returns 0 when the data ended (end code or an
// empty sub-block), a negative value when the code size is invalid, the frame buffer cannot be
// had, the string stack would overflow, or the frame is full.
//
// While every code's string is one the frame buffer already holds (well-formed data: no code
// beyond the next free slot since the last clear), a code is one copy from where its string was
// first met, and adding its successor to the table is four stores. Otherwise codes are spelt
// through the prefix chains, byte by byte, until the next clear.
template <bool Store>
SKM_OUT_OF_LINE int GifCodec::decodeLzw(ByteStream* stream, RowSink& sink) {
  const int minimumSize = getByte(stream);
  if (minimumSize < 2 || minimumSize > LargestMinimumCodeSize) {
    frameData = pastStreamEnd() ? FrameData::NoPixels : FrameData::Undecodable;
    return -1;
  }
  LzwTable table(*workspace->decoder, minimumSize);

  // A non-interlaced frame ends when a line beyond its last would start (tolerance 6); an
  // interlaced one drops whatever comes after its last line but reads on to the end of its data.
  const uint64_t width = uint64_t(sink.width);
  const uint64_t framePixels = width * uint64_t(sink.height);
  const uint64_t stopAt = sink.interlaced ? UINT64_MAX : framePixels + width;
  const uint64_t keepUpTo = sink.interlaced ? framePixels : framePixels + width;
  FrameBuffer buffer(keepUpTo, table.t.frameStore);
  if constexpr (Store) {
    if (!buffer.reserve(keepUpTo < 65536 ? keepUpTo : 65536)) {
      lineRefused = true;
      return -1;
    }
    for (int i = 0; i < table.clear; ++i) table.t.start[i] = i - Roots;
  }

  CodeReader reader;
  uint64_t bits = 0;  // the reader's bits not yet taken, least significant first
  int bitCount = 0;
  auto nextCode = [&]() -> int {
    if (bitCount < table.codeSize &&
        !reader.refill(*this, stream, bits, bitCount, table.codeSize)) {
      return table.end;
    }
    const int code = int(bits & table.codeMask);
    bits >>= table.codeSize;
    bitCount -= table.codeSize;
    return code;
  };

  int result = 0;
  bool corrupt = false;
  bool undecodable = false;  // tolerance 3
  uint64_t at = 0;           // pixels decoded so far
  // Whether the common case, runKnown, takes the codes: while the data is sane and the frame
  // fills. It leaves every other code, and one where the sub-block ends, to the steps below.
  bool fast = false;
  for (;;) {
    if constexpr (Store) {
      if (fast) {
        at = table.runKnown(bits, bitCount, reader, buffer.frame, at, buffer.fastEnd);
        if (at >= buffer.fastEnd) {
          if (at >= stopAt) {
            result = -1;
            break;
          }
          fast = false;
        }
      }
    }
    int code = nextCode();
    if (code == table.end) break;
    // Whether this string's bytes are kept: always until the frame is full.
    const bool keep = Store && at < keepUpTo;
    if (keep && !buffer.reserve(at)) {
      lineRefused = true;
      result = -1;
      break;
    }
    uint8_t* out = keep ? buffer.frame + at : nullptr;
    int count = 0;
    if (code == table.clear) {
      table.restart();
      do {
        code = nextCode();
      } while (code == table.clear);
      if (code == table.end) break;
      if (code >= table.slot) {
        if (at == 0) {
          undecodable = true;
          break;
        }
        code = 0;  // tolerance 4
      }
      table.open(code, out, at);
      count = 1;
    } else if (table.sane) {
      count = table.saneStep(code, buffer.frame, out, at);
    } else {
      if (at == 0 && code >= table.clear) {
        undecodable = true;
        break;
      }
      count = table.spell(code, out);
      if (count == 0) {
        // A cyclic chain: the data ends here, keeping what was decoded before it.
        corrupt = true;
        break;
      }
    }
    table.grow();

    at += uint64_t(count);
    if constexpr (!Store) {
      if (at >= sink.limit) {
        result = -1;
        break;
      }
    } else {
      if (at >= stopAt) {
        result = -1;
        break;
      }
      fast = table.sane && at < buffer.fastEnd;
    }
  }
  // Padding past the end of the stream is not data, whatever it would decode to (tolerance 5).
  if (reader.missing) {
    frameData = FrameData::NoPixels;
  } else if (undecodable) {
    frameData = FrameData::Undecodable;
  } else {
    frameData = at == 0 ? FrameData::NoPixels : FrameData::Pixels;
  }
  if constexpr (Store) {
    // A frame that failed hands over whole lines only.
    const int lines = sink.handOff(buffer, at < keepUpTo ? at : keepUpTo, result == 0);
    if (lines == OutOfLines) {
      lineRefused = true;
      return -1;
    }
    if (result == 0) result = lines;
  }
  return corrupt ? -1 : result;
}

int GifCodec::decodeFrameData(ByteStream* stream, RowSink& sink) {
  blockIndex = GifReadBlockBytes + 1;
  return sink.store ? decodeLzw<true>(stream, sink) : decodeLzw<false>(stream, sink);
}

// Leaves the stream one byte past the first byte the byte reader has not delivered, where the
// block scan resumes.
void GifCodec::finishFrameData(ByteStream* stream) {
  stream->seek(blockIndex - blockCount + 1, 1);
}

GifCodec::FrameHeader GifCodec::readFrameHeader(ByteStream* stream) {
  uint8_t descriptor[9] = {};
  stream->read(descriptor, 1, 9);
  FrameHeader frame;
  frame.left = descriptor[0] | (descriptor[1] << 8);
  frame.top = descriptor[2] | (descriptor[3] << 8);
  frame.width = descriptor[4] | (descriptor[5] << 8);
  frame.height = descriptor[6] | (descriptor[7] << 8);
  frame.interlaced = (descriptor[8] & 0x40) != 0;
  // A frame without a table of its own is described against the global one.
  frame.colors = globalColors;
  frame.table = hasGlobalTable ? globalTable : nullptr;
  if (descriptor[8] & 0x80) {
    frame.colors = colorCountOf(descriptor[8]);
    stream->read(frameTable, 1, frame.colors * 3);
    frame.table = frameTable;
  }
  frame.depth = depthForColors(frame.colors);
  return frame;
}

// Decodes the frame's data into this image, which has the frame's size; a frame without pixels
// only has its data consumed.
void GifCodec::readFramePixels(ByteStream* stream, const FrameHeader& frame) {
  RowSink sink;
  sink.interlaced = frame.interlaced;
  sink.width = frame.width;
  sink.height = frame.height;
  if (frame.width > 0 && frame.height > 0) {
    sink.store = true;
    sink.image = this;
    sink.storedRow = frame.height - 1;
  } else if (!sink.interlaced && frame.width > 0) {
    sink.limit = uint64_t(frame.width);  // no row to fill: the first line already overflows
  }
  decodeFrameData(stream, sink);
  finishFrameData(stream);
  // Rows the data never reached (stored rows 0..storedRow) are cleared.
  if (rowsToClear && sink.store && sink.storedRow >= 0) {
    std::memset(pixelRow(0), 0, std::size_t(sink.storedRow + 1) * std::size_t(info.rowBytes));
  }
}

bool GifCodec::createFrame(const FrameHeader& frame) {
  // Only an interlaced frame may leave rows between the ones written; the others are cleared
  // behind the decoder as it goes (readFramePixels). A large picture is still had zeroed: fresh
  // pages come zeroed for free, and a few bytes of data promising a huge frame should not make
  // it touch every page.
  constexpr std::size_t ClearedBehindUpTo = std::size_t{256} * 1024;
  const std::size_t rows = rowBytesFor(frame.width, frame.depth) * std::size_t(frame.height);
  rowsToClear = !frame.interlaced && rows <= ClearedBehindUpTo;
  return create(frame.width, frame.height, frame.depth, FormatGif, !rowsToClear) != nullptr;
}

// Says why createFrame failed: a picture beyond what an Image may hold, or no memory for it.
void GifCodec::refuseFrame(const FrameHeader& frame) {
  const std::size_t rowBytes = rowBytesFor(frame.width, frame.depth);
  const uint64_t bytes =
      uint64_t(rowBytes) * uint64_t(frame.height) + 40 + (uint64_t{1} << frame.depth) * 4;
  if ((rowBytes == 0 && frame.width > 0) || bytes > MaxImageBlockBytes) {
    char text[64];
    std::snprintf(text, sizeof text, "%s: %d x %d pixels", GifTooLargeMessage, int(frame.width),
                  int(frame.height));
    setLastError(ImageError::TooLarge, text);
  } else {
    setLastError(ImageError::OutOfMemory, OutOfMemoryMessage);
  }
}

void GifCodec::skimFrame(ByteStream* stream) {
  const FrameHeader frame = readFrameHeader(stream);
  RowSink sink;
  sink.interlaced = frame.interlaced;
  sink.width = frame.width;
  sink.height = frame.height;
  if (!sink.interlaced && frame.width > 0) {
    sink.limit = (uint64_t(frame.height) + 1) * uint64_t(frame.width);
  }
  decodeFrameData(stream, sink);
  finishFrameData(stream);
}

int GifCodec::countFrames(ByteStream* stream) {
  const int32_t start = stream->tell();
  int count = 0;
  for (;;) {
    const int byte = readByte(stream);
    if (byte < 0 || byte == Trailer) break;
    if (byte == ExtensionIntroducer) {
      readExtension(stream);
    } else if (byte == ImageSeparator) {
      // The first frame's pixels do not depend on anything the rest of the file may set, so
      // when it is the one asked for it is decoded here, once, and the main pass only adds
      // its palette.
      if (count == 0 && info.frameIndex == 0) {
        preparedStart = stream->tell();
        const FrameHeader frame = readFrameHeader(stream);
        if (createFrame(frame)) {
          readFramePixels(stream, frame);
          preparedData = frameData;
          preparedEnd = stream->tell();
          prepared = preparedStart >= 0 && preparedEnd >= 0;
        } else {
          stream->seek(preparedStart, 0);
          skimFrame(stream);
        }
      } else {
        skimFrame(stream);
      }
      ++count;
    }
  }
  stream->seek(start, 0);
  return count;
}

bool GifCodec::readExtension(ByteStream* stream) {
  const int label = readByte(stream);
  if (label < 0) return false;
  bool good = true;
  if (label == gif::GraphicControlLabel) {
    const int size = readByte(stream);
    const int32_t got = stream->read(graphicControl, 1, 4);
    good = size == 4 && got == 4;
    if (good) {
      if (graphicControl[0] & 1) info.transparentIndex = graphicControl[3];
      info.frameDelay = uint32_t(graphicControl[1] | (graphicControl[2] << 8));
      disposal = (graphicControl[0] >> 2) & 7;
    }
  } else if (label == gif::CommentLabel) {
    const int size = readByte(stream);
    if (size < 0) return false;
    // An empty comment is well formed (editors write them): that size byte was its terminator.
    if (size == 0) {
      commentText[0] = '\0';
      return true;
    }
    int32_t got = stream->read(commentText, 1, size);
    if (got < 0) got = 0;
    commentText[got] = '\0';
    good = got == size;
  } else if (label == gif::ApplicationLabel) {
    // Any application block (metadata, colour profiles, ones nobody here knows) is stepped over
    // by its sub-block lengths. Only a loop block is read: an 11-byte identifier followed by a
    // 3-byte sub-block that starts with 1.
    uint8_t chunk[255];
    const int identifierSize = readByte(stream);
    if (identifierSize < 0 || stream->read(chunk, 1, identifierSize) != identifierSize) {
      return false;
    }
    if (identifierSize == 0) return true;  // that size byte was the terminator
    const int size = readByte(stream);
    if (size < 0 || stream->read(chunk, 1, size) != size) return false;
    if (size == 0) return true;
    if (identifierSize == 11 && size == 3 && chunk[0] == 1) loops = chunk[1] | (chunk[2] << 8);
  }
  if (good) {
    for (;;) {
      const int size = readByte(stream);
      if (size <= 0) break;
      stream->seek(size, 1);
    }
  }
  return good;
}

bool GifCodec::decodeFrame(ByteStream* stream, int frameNumber, int& firstTransparent) {
  const bool ready = frameNumber == 0 && prepared && stream->tell() == preparedStart;
  const FrameHeader frame = readFrameHeader(stream);

  const bool compose = frameNumber > 0 && ((graphicControl[0] >> 2) & 7) == 1;
  Image previous(FormatGif);
  if (compose && !previous.copy(*this, true, true, true)) {
    setLastError(ImageError::OutOfMemory, OutOfMemoryMessage);
    return false;
  }
  if (frameNumber == 0) firstTransparent = info.transparentIndex;

  // A prepared first frame already has its pixels and a zeroed palette.
  if (!ready && !createFrame(frame)) {
    refuseFrame(frame);
    return false;
  }
  setFramePalette(frame);
  if (ready) {
    stream->seek(preparedEnd, 0);
    frameData = preparedData;
  } else {
    readFramePixels(stream, frame);
  }
  if (frame.width == 0 || frame.height == 0) frameData = FrameData::NoPixels;

  if (compose) {
    previous.overlay(*this, -frame.left, frame.top + frame.height - previous.height());
    previous.info.transparentIndex = firstTransparent;
    transfer(previous);
  }
  return true;
}

void GifCodec::setFramePalette(const FrameHeader& frame) {
  if (frame.table == nullptr) return;
  uint8_t red[256];
  uint8_t green[256];
  uint8_t blue[256];
  bool white = false;
  for (int i = 0; i < frame.colors; ++i) {
    red[i] = frame.table[i * 3];
    green[i] = frame.table[i * 3 + 1];
    blue[i] = frame.table[i * 3 + 2];
    white = white || (red[i] == 0xFF && green[i] == 0xFF && blue[i] == 0xFF);
  }
  if (info.transparentIndex != -1) {
    for (int i = frame.colors; i < 256; ++i) red[i] = green[i] = blue[i] = 0xFF;
    if (frame.colors == 256 && !white) red[255] = green[255] = blue[255] = 0xFF;
    setPaletteRGB(256, red, green, blue);
  } else {
    setPaletteRGB(uint32_t(frame.colors), red, green, blue);
  }
}

bool GifCodec::decode(ByteStream* stream) {
  if (stream == nullptr) return false;
  GifWorkspace* w = tables();
  if (w == nullptr || !w->ensureDecoder()) {
    setLastError(ImageError::OutOfMemory, OutOfMemoryMessage);
    return false;
  }
  // Past the bytes a read delivered, the block reads as a fresh one would: zeros, or what an
  // earlier read of this decode left there.
  block = w->decoder->block;
  std::memset(block, 0, std::size_t(w->decoder->blockUsed));
  w->decoder->blockUsed = 0;
  setLastError(ImageError::None, "");
  uint8_t screen[13] = {};
  const int32_t got = stream->read(screen, 1, 13);
  if (got < 4 || std::memcmp(screen, "GIF8", 4) != 0) {
    setLastError(ImageError::NotThisFormat, GifNotGifMessage);
    return false;
  }
  // A signature with too little after it to hold an image.
  if (got != 13) {
    setLastError(ImageError::NoImage, GifNoImageMessage);
    return false;
  }
  globalColors = colorCountOf(screen[10]);
  hasGlobalTable = (screen[10] & 0x80) != 0;
  if (hasGlobalTable) stream->read(globalTable, 1, globalColors * 3);

  prepared = false;
  lineRefused = false;
  info.frameCount = countFrames(stream);
  if (info.frameIndex < 0 || info.frameIndex >= info.frameCount) {
    if (info.frameCount == 0) {
      setLastError(ImageError::NoImage, GifNoImageMessage);
    } else {
      setLastError(ImageError::NoSuchFrame, GifNoSuchFrameMessage);
    }
    return false;
  }

  int frameNumber = 0;
  int firstTransparent = -1;
  for (;;) {
    const int byte = readByte(stream);
    if (byte < 0 || byte == Trailer) break;
    if (byte == ExtensionIntroducer) {
      if (!readExtension(stream)) break;
    } else if (byte == ImageSeparator) {
      if (!decodeFrame(stream, frameNumber, firstTransparent)) return false;
      if (frameNumber == info.frameIndex) {
        // A frame whose line could not be had came out blank: that is no picture of the file.
        if (lineRefused) {
          setLastError(ImageError::OutOfMemory, OutOfMemoryMessage);
          return false;
        }
        // A frame that gave no pixel at all would be a blank picture passed off as the file's.
        if (frameData != FrameData::Pixels) {
          if (frameData == FrameData::Undecodable) {
            setLastError(ImageError::Undecodable, GifUndecodableMessage);
          } else {
            setLastError(ImageError::NoPixels, GifNoPixelsMessage);
          }
          return false;
        }
        return true;
      }
      ++frameNumber;
    }
  }
  // The scan stopped before the requested frame: what the image holds is not that frame. The
  // pre-scan, which goes on past broken extensions, did see it.
  setLastError(ImageError::Damaged, GifDamagedMessage);
  return false;
}

}  // namespace skm
