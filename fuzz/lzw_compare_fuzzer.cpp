// Random pictures through the codec's compressor and through the plain hashed compressor of the
// tests: the LZW data must be equal byte for byte. The first byte picks the value width (1 to 8
// bits) and whether frames open with a string whose home hash slot is 0 (which sends "0 then 0"
// off its home); the next one the picture width; the third whether the pixels are repeated
// (shifted a little each time) into a picture of 2^18 pixels, through many table generations,
// and how long each given pixel is held, so that 8-bit pictures of runs take the run walk and
// the others the plain table steps; the rest are the pixels. 8-bit pictures are also written as
// a two-frame animation, beside themselves read backwards. One workspace serves every input,
// as one serves every gesture of a converting thread, so state left behind by one picture would
// show in the next.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "codecs/GifCodec.h"
#include "tests/codecs/gif_test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4 || size > (1u << 17)) return 0;
  static skm::GifWorkspace workspace;
  const int depth = 1 + (data[0] & 7);
  const bool homeZero = (data[0] & 8) != 0;
  const uint32_t bits = depth == 1 ? 1u : depth <= 4 ? 4u : 8u;
  const int32_t width = 1 + data[1];
  const bool big = (data[2] & 1) != 0;
  const std::size_t held = 1 + ((data[2] >> 1) & 7);
  const uint8_t* input = data + 3;
  const std::size_t given = size - 3;
  const std::size_t count = big ? std::size_t(1) << 18 : given * held;
  const int32_t height = int32_t((count + std::size_t(width) - 1) / std::size_t(width));
  std::vector<uint8_t> pixels(std::size_t(width) * std::size_t(height), 0);
  const uint8_t mask = uint8_t((1u << depth) - 1);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t k = i / held;
    pixels[i] = uint8_t((input[k % given] + k / given) & mask);
  }
  if (homeZero && pixels.size() >= 2 && depth >= 5) {
    const uint8_t c = uint8_t(data[0] >> 4);
    pixels[0] = uint8_t(16 * c);
    pixels[1] = c;
  }
  skm::gif_test::ReferenceStats stats;
  const int minimumSize = bits == 1 ? 2 : int(bits);
  const std::vector<uint8_t> expected = skm::gif_test::plainHashedLzw(pixels, minimumSize, stats);
  if (skm::gif_test::codecLzw(pixels, width, height, bits, &workspace) != expected) std::abort();
  // 8-bit frames of one size are compressed two at a time: the picture beside the same picture
  // read backwards, as an animation.
  if (bits == 8) {
    const std::vector<uint8_t> backwards(pixels.rbegin(), pixels.rend());
    const auto frames = skm::gif_test::codecAnimationLzw(
        {pixels, backwards}, {{width, height}, {width, height}}, &workspace);
    if (frames[0] != expected || frames[1] != skm::gif_test::plainHashedLzw(backwards, 8, stats)) {
      std::abort();
    }
  }
  return 0;
}
