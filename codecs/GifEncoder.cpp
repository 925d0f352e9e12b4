// GIF writing: block sequence, the hashed LZW compressor and the 254-byte packet writer.

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

constexpr uint32_t BitMasks[17] = {0x0000, 0x0001, 0x0003, 0x0007, 0x000F, 0x001F,
                                   0x003F, 0x007F, 0x00FF, 0x01FF, 0x03FF, 0x07FF,
                                   0x0FFF, 0x1FFF, 0x3FFF, 0x7FFF, 0xFFFF};

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

void GifCodec::flushPacket() {
  if (packetCount > 0) {
    output->putByte(packetCount);
    output->write(packet, 1, packetCount);
    packetCount = 0;
  }
}

void GifCodec::putPacketByte(uint8_t value) {
  packet[packetCount++] = value;
  if (packetCount >= PacketLimit) flushPacket();
}

bool GifCodec::streamFailed() {
  output->flush();
  return output->error() != 0;
}

void GifCodec::outputCode(int code) {
  accumulator &= BitMasks[accumulatorBits];
  if (accumulatorBits > 0) {
    accumulator |= uint32_t(code) << accumulatorBits;
  } else {
    accumulator = uint32_t(code);
  }
  accumulatorBits += codeBits;
  while (accumulatorBits >= 8) {
    putPacketByte(uint8_t(accumulator & 0xFF));
    accumulator >>= 8;
    accumulatorBits -= 8;
  }
  if (freeCode > maxCode || clearPending) {
    if (clearPending) {
      codeBits = initialBits;
      maxCode = (1 << codeBits) - 1;
      clearPending = 0;
    } else {
      ++codeBits;
      maxCode = codeBits == LongestCodeBits ? CodeLimit : (1 << codeBits) - 1;
    }
  }
  if (code == endCode) {
    while (accumulatorBits > 0) {
      putPacketByte(uint8_t(accumulator & 0xFF));
      accumulator >>= 8;
      accumulatorBits -= 8;
    }
    flushPacket();
    if (streamFailed()) streamError = true;
  }
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

// Whether the direct table holds a string whose home slot in the hashed table is 0; the first
// such string took slot 0, where no later probe from another home ever arrives.
bool GifWorkspace::Encoder::homeZeroTaken() const {
  for (int k = 0; k < writtenCount; ++k) {
    if ((written[k] >> 8) == (written[k] & 0xFF) << HashShift) return true;
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
  initialBits = codeBits = bits;
  maxCode = (1 << codeBits) - 1;
  clearPending = 0;
  accumulator = 0;
  accumulatorBits = 0;
  packetCount = 0;
  clearCode = 1 << (bits - 1);
  endCode = clearCode + 1;
  freeCode = clearCode + 2;
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
// The loop keeps the bit accumulator and packet count in locals and packs codes inline, four
// bytes at a time; the bytes are outputCode's, and the first and last codes go through it.
template <int Bits, bool Runs>
void GifCodec::compress(const Image& image, GifWorkspace::Encoder& t) {
  const int32_t width = image.width();
  const int32_t height = image.height();
  t.emptyDirect();
  t.emptyHash();
  if constexpr (Runs) t.resetRuns();
  uint32_t current = uint32_t(pixelAt<Bits>(image.pixelRow(height - 1), 0));
  outputCode(clearCode);
  // Whether current is the code of runValue repeated runLength times (0: not such a string).
  uint32_t runValue = current;
  int32_t runLength = 1;
  bool hashing = false;

  // Bits not yet written, least significant first; up to 31 wait between 4-byte writes.
  uint64_t bits = accumulator & BitMasks[accumulatorBits];
  int bitCount = accumulatorBits;
  int codeWidth = codeBits;
  int largest = maxCode;
  int nextCode = freeCode;
  int pending = clearPending;
  int count = packetCount;
  const int clear = clearCode;
  const int firstFree = clear + 2;
  const int initial = initialBits;
  uint16_t* const child = t.child;
  // The log's length stays in a register; the workspace has it whenever its functions run.
  uint32_t* const written = t.written;
  int logged = 0;

  auto putByte = [&](uint32_t value) {
    packet[count++] = uint8_t(value);
    if (count >= PacketLimit) {
      packetCount = count;
      flushPacket();
      count = 0;
    }
  };
  auto emit = [&](uint32_t code) {
    bits |= uint64_t(code) << bitCount;
    bitCount += codeWidth;
    if (bitCount >= 32) {
      if (count <= PacketLimit - 4) {
        const uint32_t word = uint32_t(bits);
        const uint8_t bytes[4] = {uint8_t(word), uint8_t(word >> 8), uint8_t(word >> 16),
                                  uint8_t(word >> 24)};
        std::memcpy(packet + count, bytes, 4);
        count += 4;
        if (count >= PacketLimit) {
          packetCount = count;
          flushPacket();
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
        codeWidth = initial;
        largest = (1 << codeWidth) - 1;
        pending = 0;
      } else {
        ++codeWidth;
        largest = codeWidth == LongestCodeBits ? CodeLimit : (1 << codeWidth) - 1;
      }
    }
  };
  // The table is full: start again rather than keep compressing with stale strings.
  auto restart = [&]() {
    t.writtenCount = logged;
    t.emptyDirect();
    logged = 0;
    t.emptyHash();
    hashing = false;
    if constexpr (Runs) t.resetRuns();
    nextCode = firstFree;
    pending = 1;
    emit(uint32_t(clear));
  };

  int32_t x = 1;
  for (int32_t y = height - 1; y >= 0; --y) {
    const uint8_t* row = image.pixelRow(y);
    for (; x < width; ++x) {
      const uint32_t c = uint32_t(pixelAt<Bits>(row, x));
      if (!hashing) [[likely]] {
        if constexpr (Runs) {
          if (runLength != 0) {
            if (c == runValue && runLength < t.runLimit[c]) {
              // Walking a run through strings the table already holds needs no lookups: count
              // the repeats and take the code of the longest known string.
              const int32_t n = runLength + 1;
              const int32_t room = std::min(t.runLimit[c] - n, width - 1 - x);
              const int32_t more = repeatsOf(row + x + 1, uint8_t(c), room, width - 1 - x);
              x += more;
              runLength = n + more;
              current = t.runCodes[c][runLength];
              continue;
            }
            if (c != runValue) runLength = 0;
          }
        }
        const uint32_t at = (current << 8) | c;
        const uint32_t known = child[at];
        if (known != 0) {
          current = known;
          if constexpr (Runs) runLength += runLength != 0;
          continue;
        }
        emit(current);
        if (nextCode < CodeLimit) {
          if ((current | c) == 0 && (t.writtenCount = logged, t.homeZeroTaken())) [[unlikely]] {
            t.hashFromDirect(firstFree);
            bool found = false;
            t.hashAdd(t.probe(0, 0, 0, found), 0, nextCode);
            hashing = true;
          } else {
            child[at] = uint16_t(nextCode);
            written[logged++] = at;
            if constexpr (Runs) {
              // The new string is the known run one pixel longer.
              if (runLength != 0 && runLength == t.runLimit[c] &&
                  runLength < GifWorkspace::Encoder::RunCap) {
                t.runCodes[c][runLength + 1] = uint16_t(nextCode);
                t.runLimit[c] = uint16_t(runLength + 1);
              }
            }
          }
          ++nextCode;
        } else {
          restart();
        }
      } else {
        const int32_t key = int32_t((c << LongestCodeBits) + current);
        bool found = false;
        const int slot = t.probe(key, c, current, found);
        if (found) {
          current = t.codeTable[slot];
          continue;
        }
        emit(current);
        if (nextCode < CodeLimit) {
          t.hashAdd(slot, key, nextCode++);
        } else {
          restart();
        }
      }
      current = c;
      if constexpr (Runs) {
        runValue = c;
        runLength = 1;
      }
    }
    x = 0;
  }

  while (bitCount >= 8) {
    putByte(uint32_t(bits));
    bits >>= 8;
    bitCount -= 8;
  }
  t.writtenCount = logged;
  accumulator = uint32_t(bits);
  accumulatorBits = bitCount;
  codeBits = codeWidth;
  maxCode = largest;
  freeCode = nextCode;
  clearPending = pending;
  packetCount = count;
  outputCode(int(current));
  outputCode(endCode);
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

bool GifCodec::writeImage(const Image& image, int disposalValue) {
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
  streamError = false;
  startCompressor(minimumSize + 1);
  GifWorkspace::Encoder& t = *workspace->encoder;
  if (image.width() <= 0 || image.height() <= 0) {
    // No pixels: a clear code and the end code make well-formed, empty image data.
    outputCode(clearCode);
    outputCode(endCode);
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
  output->putByte(0);
  return !streamError;
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

  for (int i = 0; i < count; ++i) {
    const Image* frame = frames[i];
    if (frame == nullptr || !frame->isValid())
      return fail(ImageError::BadArgument, "Bad image pointer");
    if (!writeImage(*frame, disposal))
      return fail(ImageError::WriteFailed, "Write Error in GIF file");
  }
  writeComment();
  output->putByte(gif::Trailer);
  if (streamFailed()) return fail(ImageError::WriteFailed, "Write Error in GIF file");
  output = nullptr;
  return true;
}

}  // namespace skm
