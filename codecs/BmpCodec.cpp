#include "codecs/BmpCodec.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace skm {

namespace {

// A refusal as the decoder throws it: the kind callers act on and the text left for people.
struct Failure {
  ImageError kind;
  const char* text;
};

constexpr Failure NotABmp{ImageError::NotThisFormat, "Not a BMP"};
constexpr Failure ErrorReadingInfo{ImageError::Damaged, "Error reading BMP info"};
constexpr Failure CantAllocate{ImageError::OutOfMemory, OutOfMemoryMessage};
// Same kind as CantAllocate, though its text differs in case.
constexpr Failure CantAllocateBuffer{ImageError::OutOfMemory, "can't allocate memory"};
constexpr Failure UnknownCompression{ImageError::Unsupported, "unknown compression"};
constexpr Failure CompressionNotSupported{ImageError::Unsupported,
                                          "compression type not supported"};

constexpr uint32_t CompressionNone = 0;
constexpr uint32_t CompressionRle8 = 1;
constexpr uint32_t CompressionRle4 = 2;
constexpr uint32_t CompressionBitFields = 3;

constexpr uint32_t FileHeaderBytes = 14;
constexpr uint32_t InfoHeaderBytes = 40;
constexpr uint32_t CoreHeaderBytes = 12;

uint16_t load16(const uint8_t* p) {
  return uint16_t(p[0] | (p[1] << 8));
}
uint32_t load32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
void store16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void store32(uint8_t* p, uint32_t v) {
  store16(p, v);
  store16(p + 2, v >> 16);
}

int32_t dotsPerInch(int32_t pelsPerMeter) {
  return int32_t(std::floor(double(pelsPerMeter) * 0.0254 + 0.5));
}

// The decoder's view of the stream: it counts what it has consumed so that positions relative
// to the start of the BMP can be reached with relative seeks alone. Once a seek fails the
// position is unknown and every further read delivers nothing.
class Source {
 public:
  explicit Source(ByteStream& stream) : stream_(stream) {}

  std::size_t read(void* destination, std::size_t bytes) {
    if (lost_ || bytes == 0) return 0;
    if (bytes > std::size_t(std::numeric_limits<int32_t>::max())) return 0;
    const int32_t got = stream_.read(destination, 1, int32_t(bytes));
    if (got <= 0) return 0;
    offset_ += got;
    return std::size_t(got);
  }

  void seekTo(int64_t target) {
    if (lost_ || target == offset_) return;
    const int64_t delta = target - offset_;
    if (delta < std::numeric_limits<int32_t>::min() ||
        delta > std::numeric_limits<int32_t>::max() || stream_.seek(int32_t(delta), 1) != 0) {
      lost_ = true;
      return;
    }
    offset_ = target;
  }

  int64_t offset() const { return offset_; }

 private:
  ByteStream& stream_;
  int64_t offset_ = 0;
  bool lost_ = false;
};

// Byte-at-a-time input for the run-length decoders, refilled in blocks; -1 past the end.
class ByteReader {
 public:
  explicit ByteReader(Source& source) : source_(source) {}

  int next() {
    if (at_ == end_) {
      if (done_) return -1;
      end_ = source_.read(buffer_, sizeof buffer_);
      at_ = 0;
      if (end_ == 0) {
        done_ = true;
        return -1;
      }
    }
    return buffer_[at_++];
  }

 private:
  Source& source_;
  uint8_t buffer_[4096];
  std::size_t at_ = 0;
  std::size_t end_ = 0;
  bool done_ = false;
};

// Stores run-length pixels; anything outside the picture is dropped.
class PixelSink {
 public:
  PixelSink(Image& image, bool topDown)
      : pixels_(image.pixels),
        rowBytes_(std::size_t(image.info.rowBytes)),
        width_(image.width()),
        height_(image.height()),
        depth_(image.bitCount()),
        topDown_(topDown) {}

  int64_t width() const { return width_; }
  int64_t height() const { return height_; }

  void put(int64_t x, int64_t y, uint8_t value) const {
    if (x < 0 || x >= width_ || y < 0 || y >= height_) return;
    const int64_t row = topDown_ ? height_ - 1 - y : y;
    uint8_t* line = pixels_ + std::size_t(row) * rowBytes_;
    switch (depth_) {
      case 8:
        line[x] = value;
        break;
      case 4: {
        uint8_t& byte = line[x >> 1];
        if ((x & 1) == 0) {
          byte = uint8_t((byte & 0x0F) | ((value & 0x0F) << 4));
        } else {
          byte = uint8_t((byte & 0xF0) | (value & 0x0F));
        }
        break;
      }
      case 1: {
        const uint8_t bit = uint8_t(0x80 >> (x & 7));
        uint8_t& byte = line[x >> 3];
        byte = (value & 1) ? uint8_t(byte | bit) : uint8_t(byte & ~bit);
        break;
      }
      default:
        break;
    }
  }

 private:
  uint8_t* pixels_;
  std::size_t rowBytes_;
  int64_t width_;
  int64_t height_;
  uint32_t depth_;
  bool topDown_;
};

// RLE8 (fourBit false) or RLE4 run-length data. Stops at the end-of-bitmap escape, at the end of
// the input, or once the position has left the picture through its top, since positions only
// ever move upwards.
void decodeRunLength(Source& source, const PixelSink& sink, bool fourBit) {
  ByteReader in(source);
  int64_t x = 0;
  int64_t y = 0;
  while (y < sink.height()) {
    const int count = in.next();
    const int value = in.next();
    if (value < 0) return;
    if (count > 0) {
      const int64_t visible = std::min<int64_t>(count, sink.width() - x);
      for (int64_t i = 0; i < visible; ++i) {
        const int pixel = !fourBit ? value : (i & 1) ? (value & 0x0F) : (value >> 4);
        sink.put(x + i, y, uint8_t(pixel));
      }
      x += count;
    } else if (value == 0) {
      x = 0;
      ++y;
    } else if (value == 1) {
      return;
    } else if (value == 2) {
      const int dx = in.next();
      const int dy = in.next();
      if (dy < 0) return;
      x += dx;
      y += dy;
    } else {
      const int bytes = fourBit ? (value + 1) / 2 : value;
      int byte = 0;
      for (int i = 0; i < value; ++i) {
        if (!fourBit || (i & 1) == 0) {
          byte = in.next();
          if (byte < 0) return;
        }
        const int pixel = !fourBit ? byte : (i & 1) ? (byte & 0x0F) : (byte >> 4);
        sink.put(x + i, y, uint8_t(pixel));
      }
      if (bytes & 1) in.next();
      x += value;
    }
  }
}

// One colour component described by a bit mask, scaled to 8 bits (a 5-bit value becomes
// value × 8, as the standard 5-5-5 and 5-6-5 expansions do).
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  int width = 0;

  explicit Channel(uint32_t m) : mask(m) {
    if (m == 0) return;
    shift = std::countr_zero(m);
    width = 32 - std::countl_zero(m) - shift;
  }

  uint8_t operator()(uint32_t pixel) const {
    if (mask == 0) return 0;
    const uint32_t v = (pixel & mask) >> shift;
    return width <= 8 ? uint8_t(v << (8 - width)) : uint8_t(v >> (width - 8));
  }
};

struct Masks {
  uint32_t red;
  uint32_t green;
  uint32_t blue;
  bool operator==(const Masks&) const = default;
};

constexpr Masks Masks555{0x7C00, 0x03E0, 0x001F};
constexpr Masks Masks888{0x00FF0000, 0x0000FF00, 0x000000FF};

// Expands packed pixels of 2 or 4 bytes into blue, green, red. Works from the last pixel to the
// first so that 16-bit input may lie at the start of the output row.
void expandRow(const uint8_t* in, uint32_t bytesPerPixel, uint8_t* out, int32_t width,
               const Masks& masks) {
  const Channel red(masks.red), green(masks.green), blue(masks.blue);
  for (int32_t x = width - 1; x >= 0; --x) {
    const uint8_t* p = in + std::size_t(x) * bytesPerPixel;
    const uint32_t value = bytesPerPixel == 2 ? load16(p) : load32(p);
    uint8_t* o = out + std::size_t(x) * 3;
    o[0] = blue(value);
    o[1] = green(value);
    o[2] = red(value);
  }
}

// Turns top-down rows bottom-up. Only the first `filled` rows hold data; the rest are zero, so
// pairs of two empty rows are left alone.
void flipRows(Image& image, int32_t filled) {
  const std::size_t rowBytes = std::size_t(image.info.rowBytes);
  for (int32_t top = image.height() - 1, bottom = 0; bottom < top && bottom < filled;
       --top, ++bottom) {
    uint8_t* a = image.pixelRow(bottom);
    std::swap_ranges(a, a + rowBytes, image.pixelRow(top));
  }
}

// The information header as the rest of the decoder needs it, whichever form the file used.
struct FileInfo {
  uint32_t headerSize = 0;
  bool core = false;
  int64_t width = 0;
  int64_t height = 0;  // negative: rows stored top-down
  uint32_t bits = 0;
  uint32_t compression = 0;
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
};

FileInfo readInfoHeader(Source& source) {
  uint8_t raw[InfoHeaderBytes] = {};
  const std::size_t got = source.read(raw, sizeof raw);
  FileInfo file;
  file.headerSize = got >= 4 ? load32(raw) : 0;
  file.core = got >= CoreHeaderBytes && file.headerSize == CoreHeaderBytes;
  if (file.core) {
    file.width = load16(raw + 4);
    file.height = load16(raw + 6);
    file.bits = load16(raw + 10);
    return file;
  }
  if (got < InfoHeaderBytes) throw ErrorReadingInfo;
  file.width = int32_t(load32(raw + 4));
  file.height = int32_t(load32(raw + 8));
  file.bits = load16(raw + 14);
  file.compression = load32(raw + 16);
  file.xPelsPerMeter = int32_t(load32(raw + 24));
  file.yPelsPerMeter = int32_t(load32(raw + 28));
  return file;
}

// The bit masks that follow a 40-byte header (or sit at the same place inside a longer one).
Masks readMasks(Source& source, uint32_t bits) {
  const Masks fallback = bits == 16 ? Masks555 : Masks888;
  uint8_t raw[12];
  if (source.read(raw, sizeof raw) != sizeof raw) return fallback;
  const Masks masks{load32(raw), load32(raw + 4), load32(raw + 8)};
  if (masks.red == 0 && masks.green == 0 && masks.blue == 0) return fallback;
  return masks;
}

void readPalette(Source& source, Image& image, bool core) {
  const uint32_t entries = image.paletteEntries();
  RgbQuad* palette = image.palette();
  if (entries == 0 || palette == nullptr) return;
  if (!core) {
    source.read(palette, std::size_t(entries) * 4);
    return;
  }
  uint8_t raw[256 * 3] = {};
  const std::size_t got = source.read(raw, std::size_t(entries) * 3);
  for (uint32_t i = 0; i < entries && (i + 1) * 3 <= got; ++i) {
    palette[i] = RgbQuad{raw[i * 3], raw[i * 3 + 1], raw[i * 3 + 2], 0};
  }
}

// Returns the number of stored rows that received data.
int32_t readSixteenBit(Source& source, Image& image, const Masks& masks) {
  const int32_t width = image.width();
  const int32_t height = image.height();
  // 16-bit rows are never longer than the 24-bit rows they become, so they fit in place.
  const std::size_t sourceRow = std::size_t((int64_t(width) + 1) / 2) * 4;
  if (sourceRow == 0) return 0;
  const std::size_t got = source.read(image.pixels, sourceRow * std::size_t(height));
  // Rows past the data are zero, and so is every output row that starts past it: the work
  // follows what the file delivers, not what its header declares.
  const auto rows =
      int32_t(std::min<std::size_t>(std::size_t(height), (got + sourceRow - 1) / sourceRow));
  const std::size_t used = std::size_t(width) * 3;
  for (int32_t y = rows - 1; y >= 0; --y) {
    uint8_t* out = image.pixelRow(y);
    expandRow(image.pixels + std::size_t(y) * sourceRow, 2, out, width, masks);
    std::memset(out + used, 0, std::size_t(image.info.rowBytes) - used);
  }
  return rows;
}

int32_t readThirtyTwoBit(Source& source, Image& image, const Masks& masks) {
  const int32_t width = image.width();
  const int32_t height = image.height();
  if (width == 0 || height == 0) return 0;
  const std::size_t sourceRow = std::size_t(width) * 4;
  if (sourceRow > MaxImageBlockBytes) throw CantAllocateBuffer;
  // One row at a time: a file that declares a huge picture and delivers little costs no more
  // than its 24-bit result.
  auto* row = static_cast<uint8_t*>(std::malloc(sourceRow));
  if (row == nullptr) throw CantAllocateBuffer;
  int32_t y = 0;
  while (y < height) {
    const std::size_t got = source.read(row, sourceRow);
    if (got == 0) break;
    std::memset(row + got, 0, sourceRow - got);
    uint8_t* out = image.pixelRow(y);
    if (masks == Masks888) {
      for (int32_t x = 0; x < width; ++x) {
        out[3 * x] = row[4 * x];
        out[3 * x + 1] = row[4 * x + 1];
        out[3 * x + 2] = row[4 * x + 2];
      }
    } else {
      expandRow(row, 4, out, width, masks);
    }
    ++y;
    if (got < sourceRow) break;
  }
  std::free(row);
  return y;
}

void readPixels(Source& source, Image& image, const FileInfo& file, const Masks& masks) {
  const bool topDown = file.height < 0;
  const auto rowBytes = std::size_t(image.info.rowBytes);
  const std::size_t imageBytes = rowBytes * std::size_t(image.height());
  auto rowsOf = [rowBytes](std::size_t bytes) {
    return rowBytes == 0 ? 0 : int32_t((bytes + rowBytes - 1) / rowBytes);
  };
  int32_t filled = 0;
  switch (file.bits) {
    case 1:
    case 4:
    case 8:
      if (file.compression == CompressionNone) {
        filled = rowsOf(source.read(image.pixels, imageBytes));
      } else if (file.compression == CompressionRle8 || file.compression == CompressionRle4) {
        decodeRunLength(source, PixelSink(image, topDown), file.compression == CompressionRle4);
        return;  // the run-length decoder places rows itself
      } else {
        throw CompressionNotSupported;
      }
      break;
    case 24:
      if (file.compression != CompressionNone) throw UnknownCompression;
      filled = rowsOf(source.read(image.pixels, imageBytes));
      break;
    case 16:
      filled = readSixteenBit(source, image, masks);
      break;
    case 32:
      if (file.compression != CompressionBitFields) throw UnknownCompression;
      filled = readThirtyTwoBit(source, image, masks);
      break;
    default:
      return;
  }
  if (topDown) flipRows(image, filled);
}

}  // namespace

bool BmpCodec::encode(ByteStream* stream) {
  if (stream == nullptr || bitmapBlock == nullptr) return false;
  storeInfoHeader(bitmapBlock, header);
  const uint32_t offset = FileHeaderBytes + header.size + paletteBytes();
  uint8_t fileHeader[FileHeaderBytes] = {'B', 'M'};
  store32(fileHeader + 2, offset + header.sizeImage);
  store32(fileHeader + 10, offset);
  const std::size_t bytes = blockSize();
  if (bytes > std::size_t(std::numeric_limits<int32_t>::max())) return false;
  // A short write (a full disk) is a failure even though no message goes with it.
  if (stream->write(fileHeader, 1, FileHeaderBytes) != int32_t(FileHeaderBytes)) return false;
  return stream->write(bitmapBlock, 1, int32_t(bytes)) == int32_t(bytes);
}

bool BmpCodec::decode(ByteStream* stream) {
  if (stream == nullptr) return false;
  try {
    Source source(*stream);
    uint8_t fileHeader[FileHeaderBytes];
    if (source.read(fileHeader, sizeof fileHeader) != sizeof fileHeader) throw NotABmp;
    int64_t infoStart = FileHeaderBytes;
    uint32_t pixelOffset = 0;
    if (fileHeader[0] == 'B' && fileHeader[1] == 'M') {
      pixelOffset = load32(fileHeader + 10);
    } else {
      // No file header: the data begins with the information header.
      infoStart = 0;
      source.seekTo(0);
    }

    const FileInfo file = readInfoHeader(source);
    if (file.core) source.seekTo(infoStart + CoreHeaderBytes);
    Masks masks = file.bits == 16 ? Masks555 : Masks888;
    if (!file.core && (file.bits == 16 || file.bits == 32) &&
        file.compression == CompressionBitFields) {
      masks = readMasks(source, file.bits);
    }
    // Longer headers (V4, V5, OS/2 2.x) are followed by the palette, not interleaved with it.
    if (!file.core && file.headerSize > InfoHeaderBytes &&
        source.offset() < infoStart + file.headerSize) {
      source.seekTo(infoStart + file.headerSize);
    }

    const int64_t height = file.height < 0 ? -file.height : file.height;
    if (file.width > std::numeric_limits<int32_t>::max() ||
        height > std::numeric_limits<int32_t>::max()) {
      throw CantAllocate;
    }
    header.xPelsPerMeter = file.xPelsPerMeter;
    header.yPelsPerMeter = file.yPelsPerMeter;
    if (create(int32_t(file.width), int32_t(height), file.bits, FormatBmp) == nullptr) {
      throw CantAllocate;
    }
    info.xDpi = dotsPerInch(file.xPelsPerMeter);
    info.yDpi = dotsPerInch(file.yPelsPerMeter);

    readPalette(source, *this, file.core);
    if (pixelOffset != 0) source.seekTo(int64_t(pixelOffset));
    readPixels(source, *this, file, masks);
    return true;
  } catch (const Failure& failure) {
    setLastError(failure.kind, failure.text);
    return false;
  }
}

}  // namespace skm
