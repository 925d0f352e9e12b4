#include "convert/Md5.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#ifdef SKM_HAVE_OPENSSL
#include <openssl/evp.h>
#endif

namespace skm {
namespace {

std::string md5Hex(const std::string& s) {
  return makeGestureId(std::string_view(s));
}

TEST(Md5, Rfc1321TestSuite) {
  EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(md5Hex("1234567890123456789012345678901234567890123456789012345678901234567890123456789"
                   "0"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

// Padding boundaries: 55 bytes fit one block, 56 need a second, 64 fill one exactly.
// Expected values from Python's hashlib.
TEST(Md5, PaddingBoundaries) {
  EXPECT_EQ(md5Hex(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
  EXPECT_EQ(md5Hex(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
  EXPECT_EQ(md5Hex(std::string(63, 'a')), "b06521f39153d618550606be297466d5");
  EXPECT_EQ(md5Hex(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
  EXPECT_EQ(md5Hex(std::string(65, 'a')), "c743a45e0d2e6a95cb859adae0248435");
  EXPECT_EQ(md5Hex(std::string(128, 'a')), "e510683b3f5ffe4093d021808bc6ff70");
}

TEST(Md5, SplittingTheInputDoesNotChangeTheDigest) {
  std::mt19937 random(1321);
  std::string message;
  for (int i = 0; i < 1000; ++i) message += char(random());
  std::string whole = md5Hex(message);
  for (int trial = 0; trial < 200; ++trial) {
    Md5Context context;
    context.init();
    size_t pos = 0;
    while (pos < message.size()) {
      size_t n = std::min<size_t>(random() % 130, message.size() - pos);
      context.update(message.data() + pos, uint32_t(n));
      pos += n;
    }
    context.final();
    ASSERT_EQ(digestToHex(context.digest), whole) << trial;
  }
  // One byte at a time.
  Md5Context context;
  context.init();
  for (char c : message) context.update(&c, 1);
  context.final();
  EXPECT_EQ(digestToHex(context.digest), whole);
}

TEST(Md5, FinalWipesTheStateButKeepsTheDigest) {
  Md5Context context;
  context.init();
  context.update("abc", 3);
  context.final();
  for (uint32_t w : context.state) EXPECT_EQ(w, 0u);
  EXPECT_EQ(context.count[0], 0u);
  EXPECT_EQ(context.count[1], 0u);
  for (uint8_t b : context.buffer) EXPECT_EQ(b, 0);
  EXPECT_EQ(digestToHex(context.digest), "900150983cd24fb0d6963f7d28e17f72");
  // init starts a fresh computation in the same context.
  context.init();
  context.final();
  EXPECT_EQ(digestToHex(context.digest), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Md5, BitCountCarriesIntoTheHighWord) {
  Md5Context context;
  context.init();
  context.count[0] = 0xFFFFFFF8u;  // as if 2^29 - 1 bytes had been seen
  context.update("x", 1);
  EXPECT_EQ(context.count[0], 0u);
  EXPECT_EQ(context.count[1], 1u);
  context.update("", 0);
  EXPECT_EQ(context.count[1], 1u);
}

TEST(Md5, HexKeepsLeadingZerosInLowerCase) {
  const uint8_t digest[16] = {0x00, 0x0f, 0xa0, 0xff, 0x01, 0x23, 0x45, 0x67,
                              0x89, 0xab, 0xcd, 0xef, 0x10, 0x0a, 0xb0, 0x0b};
  EXPECT_EQ(digestToHex(digest), "000fa0ff0123456789abcdef100ab00b");
}

TEST(Md5, GestureIdStopsAtTheTerminatingZero) {
  EXPECT_EQ(makeGestureId("ab\0cd"), makeGestureId("ab"));
  EXPECT_EQ(makeGestureId(static_cast<const char*>(nullptr)), "d41d8cd98f00b204e9800998ecf8427e");
  std::string id = makeGestureId("Wave hello");
  EXPECT_EQ(id.size(), 32u);
  EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos);
}

#ifdef SKM_HAVE_OPENSSL
TEST(Md5, AgreesWithOpenSsl) {
  std::mt19937 random(42);
  std::vector<uint8_t> data;
  for (int trial = 0; trial < 3000; ++trial) {
    size_t length = trial < 300 ? size_t(trial) : random() % 5000;
    data.resize(length);
    for (auto& b : data) b = uint8_t(random());
    unsigned char expected[16];
    unsigned int expectedLength = 0;
    ASSERT_EQ(EVP_Digest(data.data(), data.size(), expected, &expectedLength, EVP_md5(), nullptr),
              1);
    Md5Context context;
    context.init();
    size_t pos = 0;
    while (pos < data.size()) {
      size_t n = std::min<size_t>(1 + random() % 300, data.size() - pos);
      context.update(data.data() + pos, uint32_t(n));
      pos += n;
    }
    context.final();
    ASSERT_EQ(digestToHex(context.digest), digestToHex(expected)) << "length " << length;
  }
}
#endif

}  // namespace
}  // namespace skm
