#include "convert/Md5.h"

#include <cstring>

namespace skm {
namespace {

const uint8_t kPadding[64] = {0x80};

constexpr uint32_t rotl(uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

// Little-endian loads and stores from bytes, so the result is the same on any host.
inline uint32_t load32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void store32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

#define SKM_MD5_STEP(f, a, b, c, d, x, s, ac) \
  a += f(b, c, d) + (x) + uint32_t(ac);       \
  a = rotl(a, s) + b;

constexpr uint32_t fF(uint32_t x, uint32_t y, uint32_t z) {
  return (x & y) | (~x & z);
}
constexpr uint32_t fG(uint32_t x, uint32_t y, uint32_t z) {
  return (x & z) | (y & ~z);
}
constexpr uint32_t fH(uint32_t x, uint32_t y, uint32_t z) {
  return x ^ y ^ z;
}
constexpr uint32_t fI(uint32_t x, uint32_t y, uint32_t z) {
  return y ^ (x | ~z);
}

void transform(uint32_t state[4], const uint8_t block[64]) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = load32(block + 4 * i);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

  SKM_MD5_STEP(fF, a, b, c, d, x[0], 7, 0xd76aa478)
  SKM_MD5_STEP(fF, d, a, b, c, x[1], 12, 0xe8c7b756)
  SKM_MD5_STEP(fF, c, d, a, b, x[2], 17, 0x242070db)
  SKM_MD5_STEP(fF, b, c, d, a, x[3], 22, 0xc1bdceee)
  SKM_MD5_STEP(fF, a, b, c, d, x[4], 7, 0xf57c0faf)
  SKM_MD5_STEP(fF, d, a, b, c, x[5], 12, 0x4787c62a)
  SKM_MD5_STEP(fF, c, d, a, b, x[6], 17, 0xa8304613)
  SKM_MD5_STEP(fF, b, c, d, a, x[7], 22, 0xfd469501)
  SKM_MD5_STEP(fF, a, b, c, d, x[8], 7, 0x698098d8)
  SKM_MD5_STEP(fF, d, a, b, c, x[9], 12, 0x8b44f7af)
  SKM_MD5_STEP(fF, c, d, a, b, x[10], 17, 0xffff5bb1)
  SKM_MD5_STEP(fF, b, c, d, a, x[11], 22, 0x895cd7be)
  SKM_MD5_STEP(fF, a, b, c, d, x[12], 7, 0x6b901122)
  SKM_MD5_STEP(fF, d, a, b, c, x[13], 12, 0xfd987193)
  SKM_MD5_STEP(fF, c, d, a, b, x[14], 17, 0xa679438e)
  SKM_MD5_STEP(fF, b, c, d, a, x[15], 22, 0x49b40821)

  SKM_MD5_STEP(fG, a, b, c, d, x[1], 5, 0xf61e2562)
  SKM_MD5_STEP(fG, d, a, b, c, x[6], 9, 0xc040b340)
  SKM_MD5_STEP(fG, c, d, a, b, x[11], 14, 0x265e5a51)
  SKM_MD5_STEP(fG, b, c, d, a, x[0], 20, 0xe9b6c7aa)
  SKM_MD5_STEP(fG, a, b, c, d, x[5], 5, 0xd62f105d)
  SKM_MD5_STEP(fG, d, a, b, c, x[10], 9, 0x02441453)
  SKM_MD5_STEP(fG, c, d, a, b, x[15], 14, 0xd8a1e681)
  SKM_MD5_STEP(fG, b, c, d, a, x[4], 20, 0xe7d3fbc8)
  SKM_MD5_STEP(fG, a, b, c, d, x[9], 5, 0x21e1cde6)
  SKM_MD5_STEP(fG, d, a, b, c, x[14], 9, 0xc33707d6)
  SKM_MD5_STEP(fG, c, d, a, b, x[3], 14, 0xf4d50d87)
  SKM_MD5_STEP(fG, b, c, d, a, x[8], 20, 0x455a14ed)
  SKM_MD5_STEP(fG, a, b, c, d, x[13], 5, 0xa9e3e905)
  SKM_MD5_STEP(fG, d, a, b, c, x[2], 9, 0xfcefa3f8)
  SKM_MD5_STEP(fG, c, d, a, b, x[7], 14, 0x676f02d9)
  SKM_MD5_STEP(fG, b, c, d, a, x[12], 20, 0x8d2a4c8a)

  SKM_MD5_STEP(fH, a, b, c, d, x[5], 4, 0xfffa3942)
  SKM_MD5_STEP(fH, d, a, b, c, x[8], 11, 0x8771f681)
  SKM_MD5_STEP(fH, c, d, a, b, x[11], 16, 0x6d9d6122)
  SKM_MD5_STEP(fH, b, c, d, a, x[14], 23, 0xfde5380c)
  SKM_MD5_STEP(fH, a, b, c, d, x[1], 4, 0xa4beea44)
  SKM_MD5_STEP(fH, d, a, b, c, x[4], 11, 0x4bdecfa9)
  SKM_MD5_STEP(fH, c, d, a, b, x[7], 16, 0xf6bb4b60)
  SKM_MD5_STEP(fH, b, c, d, a, x[10], 23, 0xbebfbc70)
  SKM_MD5_STEP(fH, a, b, c, d, x[13], 4, 0x289b7ec6)
  SKM_MD5_STEP(fH, d, a, b, c, x[0], 11, 0xeaa127fa)
  SKM_MD5_STEP(fH, c, d, a, b, x[3], 16, 0xd4ef3085)
  SKM_MD5_STEP(fH, b, c, d, a, x[6], 23, 0x04881d05)
  SKM_MD5_STEP(fH, a, b, c, d, x[9], 4, 0xd9d4d039)
  SKM_MD5_STEP(fH, d, a, b, c, x[12], 11, 0xe6db99e5)
  SKM_MD5_STEP(fH, c, d, a, b, x[15], 16, 0x1fa27cf8)
  SKM_MD5_STEP(fH, b, c, d, a, x[2], 23, 0xc4ac5665)

  SKM_MD5_STEP(fI, a, b, c, d, x[0], 6, 0xf4292244)
  SKM_MD5_STEP(fI, d, a, b, c, x[7], 10, 0x432aff97)
  SKM_MD5_STEP(fI, c, d, a, b, x[14], 15, 0xab9423a7)
  SKM_MD5_STEP(fI, b, c, d, a, x[5], 21, 0xfc93a039)
  SKM_MD5_STEP(fI, a, b, c, d, x[12], 6, 0x655b59c3)
  SKM_MD5_STEP(fI, d, a, b, c, x[3], 10, 0x8f0ccc92)
  SKM_MD5_STEP(fI, c, d, a, b, x[10], 15, 0xffeff47d)
  SKM_MD5_STEP(fI, b, c, d, a, x[1], 21, 0x85845dd1)
  SKM_MD5_STEP(fI, a, b, c, d, x[8], 6, 0x6fa87e4f)
  SKM_MD5_STEP(fI, d, a, b, c, x[15], 10, 0xfe2ce6e0)
  SKM_MD5_STEP(fI, c, d, a, b, x[6], 15, 0xa3014314)
  SKM_MD5_STEP(fI, b, c, d, a, x[13], 21, 0x4e0811a1)
  SKM_MD5_STEP(fI, a, b, c, d, x[4], 6, 0xf7537e82)
  SKM_MD5_STEP(fI, d, a, b, c, x[11], 10, 0xbd3af235)
  SKM_MD5_STEP(fI, c, d, a, b, x[2], 15, 0x2ad7d2bb)
  SKM_MD5_STEP(fI, b, c, d, a, x[9], 21, 0xeb86d391)

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

#undef SKM_MD5_STEP

}  // namespace

void Md5Context::init() {
  count[0] = count[1] = 0;
  state[0] = 0x67452301;
  state[1] = 0xefcdab89;
  state[2] = 0x98badcfe;
  state[3] = 0x10325476;
}

void Md5Context::update(const void* input, uint32_t length) {
  if (length == 0) return;
  const uint8_t* in = static_cast<const uint8_t*>(input);
  uint32_t index = (count[0] >> 3) & 0x3f;
  // The bit count is 64 bits wide: length << 3 may carry into the high word.
  uint32_t bitsLow = length << 3;
  count[0] += bitsLow;
  if (count[0] < bitsLow) ++count[1];
  count[1] += length >> 29;

  uint32_t partLen = 64 - index;
  uint32_t i = 0;
  if (length >= partLen) {
    std::memcpy(buffer + index, in, partLen);
    transform(state, buffer);
    for (i = partLen; length - i >= 64; i += 64) transform(state, in + i);
    index = 0;
  }
  if (length > i) std::memcpy(buffer + index, in + i, length - i);
}

void Md5Context::final() {
  uint8_t bits[8];
  store32(bits, count[0]);
  store32(bits + 4, count[1]);
  uint32_t index = (count[0] >> 3) & 0x3f;
  uint32_t padLen = index < 56 ? 56 - index : 120 - index;
  update(kPadding, padLen);
  update(bits, 8);
  for (int i = 0; i < 4; ++i) store32(digest + 4 * i, state[i]);
  std::memset(state, 0, sizeof state);
  std::memset(count, 0, sizeof count);
  std::memset(buffer, 0, sizeof buffer);
}

std::string digestToHex(const uint8_t digest[16]) {
  static const char kHex[] = "0123456789abcdef";
  std::string text(32, '0');
  for (int i = 0; i < 16; ++i) {
    text[2 * i] = kHex[digest[i] >> 4];
    text[2 * i + 1] = kHex[digest[i] & 0x0f];
  }
  return text;
}

std::string makeGestureId(std::string_view text) {
  Md5Context context;
  context.init();
  // A name longer than 4 GiB cannot come from a source file; feed it in pieces all the same.
  while (text.size() > 0xffffffffu) {
    context.update(text.data(), 0x80000000u);
    text.remove_prefix(0x80000000u);
  }
  context.update(text.data(), uint32_t(text.size()));
  context.final();
  return digestToHex(context.digest);
}

std::string makeGestureId(const char* text) {
  return makeGestureId(text ? std::string_view(text) : std::string_view());
}

}  // namespace skm
