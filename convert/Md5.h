#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace skm {

// Running state of one MD5 computation (RFC 1321). Start with init, feed with update, finish
// with final; the digest then stays readable while state, count and buffer are wiped.
struct Md5Context {
  uint32_t state[4] = {};
  uint32_t count[2] = {};  // message length in bits, low word first
  uint8_t buffer[64] = {};
  uint8_t digest[16] = {};

  void init();
  void update(const void* input, uint32_t length);
  void final();
};

// The 16 digest bytes as 32 lower-case hexadecimal characters.
std::string digestToHex(const uint8_t digest[16]);

// Identifier of a gesture: the hex MD5 of the name's bytes up to its terminating zero.
std::string makeGestureId(const char* text);
// Same for a name held as a string; hashes every byte it holds.
std::string makeGestureId(std::string_view text);

}  // namespace skm
