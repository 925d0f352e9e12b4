#pragma once

// Builds GIF files byte by byte, independently of the codec, and runs the codec over them.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "codecs/GifCodec.h"
#include "image/ByteStream.h"

namespace skm::gif_test {

struct Bytes {
  std::vector<uint8_t> data;

  Bytes& u8(uint32_t v) {
    data.push_back(uint8_t(v));
    return *this;
  }
  Bytes& u16(uint32_t v) { return u8(v).u8(v >> 8); }
  Bytes& list(std::initializer_list<uint32_t> values) {
    for (uint32_t v : values) u8(v);
    return *this;
  }
  Bytes& text(const std::string& s) {
    for (char c : s) u8(uint8_t(c));
    return *this;
  }
  Bytes& append(const std::vector<uint8_t>& more) {
    data.insert(data.end(), more.begin(), more.end());
    return *this;
  }
  // Header and logical screen descriptor; the global table (if flagged) follows separately.
  Bytes& screen(uint32_t width, uint32_t height, uint32_t packed, const char* version = "GIF89a") {
    return text(version).u16(width).u16(height).u8(packed).u8(0).u8(0);
  }
  // n table entries, entry i = (i, 255 - i, 2i) unless told otherwise.
  Bytes& rampTable(uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) list({i, 255 - i, 2 * i});
    return *this;
  }
  Bytes& graphicControl(uint32_t packed, uint32_t delay, uint32_t transparent) {
    return list({0x21, 0xF9, 4, packed}).u16(delay).u8(transparent).u8(0);
  }
  Bytes& descriptor(uint32_t left, uint32_t top, uint32_t width, uint32_t height, uint32_t packed) {
    return u8(0x2C).u16(left).u16(top).u16(width).u16(height).u8(packed);
  }
  // Image data: minimum code size, sub-blocks of at most `chunk` bytes, terminator.
  Bytes& imageData(uint32_t minimumSize, const std::vector<uint8_t>& lzw, std::size_t chunk = 255) {
    u8(minimumSize);
    for (std::size_t at = 0; at < lzw.size(); at += chunk) {
      const std::size_t n = std::min(chunk, lzw.size() - at);
      u8(uint32_t(n));
      data.insert(data.end(), lzw.begin() + long(at), lzw.begin() + long(at + n));
    }
    return u8(0);
  }
};

// Least-significant-bit-first code packer.
struct CodeWriter {
  std::vector<uint8_t> out;
  uint32_t acc = 0;
  int bits = 0;
  void put(uint32_t code, int width) {
    acc |= code << bits;
    bits += width;
    while (bits >= 8) {
      out.push_back(uint8_t(acc));
      acc >>= 8;
      bits -= 8;
    }
  }
  std::vector<uint8_t> finish() {
    if (bits > 0) out.push_back(uint8_t(acc));
    acc = 0;
    bits = 0;
    return out;
  }
};

// LZW data that writes every pixel as a literal and clears before the code width would grow, so
// it is valid for any decoder. `withEnd` false leaves the end code out.
inline std::vector<uint8_t> literalLzw(const std::vector<uint8_t>& pixels, int minimumSize,
                                       bool withEnd = true) {
  const uint32_t clear = 1u << minimumSize;
  const int width = minimumSize + 1;
  const std::size_t run = clear - 2;
  CodeWriter writer;
  writer.put(clear, width);
  std::size_t sinceClear = 0;
  for (uint8_t p : pixels) {
    if (sinceClear == run) {
      writer.put(clear, width);
      sinceClear = 0;
    }
    writer.put(p, width);
    ++sinceClear;
  }
  if (withEnd) writer.put(clear + 1, width);
  return writer.finish();
}

// Application blocks as editors write them. XMP is raw text followed by a 257-byte trailer
// (01, FF down to 00, and the terminator) so that any reader hopping by sub-block lengths
// lands on the terminator; its text and trailer hold 21, 2C and 3B bytes.
inline std::vector<uint8_t> applicationBlock(const std::string& identifier,
                                             const std::vector<std::vector<uint8_t>>& subBlocks) {
  Bytes b;
  b.list({0x21, 0xFF, uint32_t(identifier.size())}).text(identifier);
  for (const auto& block : subBlocks) b.u8(uint32_t(block.size())).append(block);
  return b.u8(0).data;
}

inline std::vector<uint8_t> xmpBlock() {
  Bytes b;
  b.list({0x21, 0xFF, 11}).text("XMP DataXMP");
  b.text("<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta><!-- a, b; c -->");
  b.text("</x:xmpmeta><?xpacket end='w'?>");
  b.u8(1);
  for (int v = 255; v >= 0; --v) b.u8(uint32_t(v));
  return b.u8(0).data;
}

// A memory stream that owns what is written to it.
struct OutStream {
  ByteStream stream;
  OutStream() { stream.createMemory(); }
  ~OutStream() { std::free(stream.takeBuffer()); }
  std::vector<uint8_t> bytes() const {
    const auto* p = static_cast<const uint8_t*>(stream.handle);
    return std::vector<uint8_t>(p, p + stream.size);
  }
};

inline bool decodeBytes(GifCodec& codec, const std::vector<uint8_t>& data) {
  ByteStream in;
  in.attachMemory(const_cast<uint8_t*>(data.data()), int32_t(data.size()));
  return codec.decode(&in);
}

// Picture row y counted from the top.
inline const uint8_t* topRow(const Image& image, int32_t y) {
  return image.pixelRow(image.height() - 1 - y);
}

// Index at column x of picture row y (counted from the top).
inline uint8_t indexAt(const Image& image, int32_t x, int32_t y) {
  return image.getPixelIndex(x, image.height() - 1 - y);
}

// A palette image with entry i = (i, 2i, 3i) and pixels from f(x, y), y from the top.
template <typename F>
inline void fillImage(Image& image, int32_t width, int32_t height, uint32_t bits, F f) {
  image.create(width, height, bits, FormatGif);
  for (uint32_t i = 0; i < image.paletteEntries(); ++i) {
    image.setPaletteColor(i, uint8_t(i), uint8_t(2 * i), uint8_t(3 * i));
  }
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) image.setPixelIndex(x, height - 1 - y, uint8_t(f(x, y)));
  }
}

// The sub-blocks of one image's data starting at `at` (the minimum code size byte); returns the
// sizes and moves `at` past the terminator.
inline std::vector<int> subBlockSizes(const std::vector<uint8_t>& file, std::size_t& at,
                                      std::vector<uint8_t>* joined = nullptr) {
  std::vector<int> sizes;
  ++at;
  while (at < file.size() && file[at] != 0) {
    const int n = file[at];
    sizes.push_back(n);
    if (joined)
      joined->insert(joined->end(), file.begin() + long(at + 1),
                     file.begin() + long(at + 1 + std::size_t(n)));
    at += std::size_t(n) + 1;
  }
  ++at;
  return sizes;
}

// What the reference compressor met on its way: how often "0 then 0" (key 0) was added off its
// home slot 0, how often it was overwritten by a probe that took its slot for empty, and how
// many times the full table was cleared.
struct ReferenceStats {
  int keyZeroOffHome = 0;
  int keyZeroLost = 0;
  int clears = 0;
};

// The hashed compressor written out step by step, slow and plain: its bytes are the ones the
// codec must write (the LZW data without sub-block framing). Pixels are in drawing order.
inline std::vector<uint8_t> plainHashedLzw(const std::vector<uint8_t>& pixels, int minimumSize,
                                           ReferenceStats& stats) {
  constexpr int Size = 5003;
  std::vector<int32_t> hash(Size, -1);
  std::vector<int> code(Size, 0);
  const int clear = 1 << minimumSize;
  int width = minimumSize + 1;
  int largest = (1 << width) - 1;
  int next = clear + 2;
  bool clearPending = false;
  CodeWriter writer;
  auto output = [&](int c) {
    writer.put(uint32_t(c), width);
    if (next > largest || clearPending) {
      if (clearPending) {
        width = minimumSize + 1;
        clearPending = false;
      } else {
        ++width;
      }
      largest = width == 12 ? 4096 : (1 << width) - 1;
    }
  };
  int p = pixels[0];
  output(clear);
  for (std::size_t at = 1; at < pixels.size(); ++at) {
    const int c = pixels[at];
    const int32_t key = (c << 12) + p;
    int i = (c << 4) ^ p;
    bool found = hash[std::size_t(i)] == key;
    if (!found && hash[std::size_t(i)] >= 0) {
      const int step = i == 0 ? 1 : Size - i;
      do {
        i -= step;
        if (i < 0) i += Size;
        found = hash[std::size_t(i)] == key;
      } while (!found && hash[std::size_t(i)] > 0);
    }
    if (found) {
      p = code[std::size_t(i)];
      continue;
    }
    output(p);
    p = c;
    if (next < 4096) {
      if (hash[std::size_t(i)] == 0) ++stats.keyZeroLost;
      if (key == 0 && i != 0) ++stats.keyZeroOffHome;
      code[std::size_t(i)] = next++;
      hash[std::size_t(i)] = key;
    } else {
      std::fill(hash.begin(), hash.end(), -1);
      next = clear + 2;
      clearPending = true;
      ++stats.clears;
      output(clear);
    }
  }
  output(p);
  output(clear + 1);
  return writer.finish();
}

// The codec's LZW data (sub-blocks joined) for pixels, top row first, written as a single
// image of the given size and depth.
inline std::vector<uint8_t> codecLzw(const std::vector<uint8_t>& pixels, int32_t w, int32_t h,
                                     uint32_t bits, GifWorkspace* workspace = nullptr) {
  Image image;
  fillImage(image, w, h, bits, [&](int x, int y) { return pixels[std::size_t(y * w + x)]; });
  GifCodec codec(workspace);
  codec.shareFrom(&image);
  ByteStream out;
  out.createMemory();
  codec.encode(&out);
  const std::vector<uint8_t> file(static_cast<uint8_t*>(out.handle),
                                  static_cast<uint8_t*>(out.handle) + out.size);
  std::free(out.takeBuffer());
  std::size_t from = 13 + 3 * (std::size_t(1) << bits) + 8 + 10;
  std::vector<uint8_t> lzw;
  subBlockSizes(file, from, &lzw);
  return lzw;
}

// The LZW data of each frame of an animation the codec writes from 8-bit frames of the given
// sizes, one after the other in the file.
inline std::vector<std::vector<uint8_t>> codecAnimationLzw(
    const std::vector<std::vector<uint8_t>>& frames,
    const std::vector<std::pair<int32_t, int32_t>>& sizes, GifWorkspace* workspace = nullptr) {
  std::vector<Image> images(frames.size());
  std::vector<Image*> pointers;
  for (std::size_t f = 0; f < frames.size(); ++f) {
    const int32_t w = sizes[f].first;
    const int32_t h = sizes[f].second;
    fillImage(images[f], w, h, 8, [&](int x, int y) { return frames[f][std::size_t(y * w + x)]; });
    pointers.push_back(&images[f]);
  }
  GifCodec codec(workspace);
  ByteStream out;
  out.createMemory();
  codec.encodeAnimation(&out, pointers.data(), int(pointers.size()));
  const std::vector<uint8_t> file(static_cast<uint8_t*>(out.handle),
                                  static_cast<uint8_t*>(out.handle) + out.size);
  std::free(out.takeBuffer());
  std::vector<std::vector<uint8_t>> lzw(frames.size());
  std::size_t at = 13 + 768 + 19;  // screen, colour table, loop block
  for (auto& data : lzw) {
    at += 8 + 10;  // graphic control, descriptor
    if (at >= file.size()) break;
    subBlockSizes(file, at, &data);
  }
  return lzw;
}

}  // namespace skm::gif_test
