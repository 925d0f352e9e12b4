#pragma once

#include <cstdint>

namespace skm {

// The built-in sound a package gets when its gesture has none: an 8076-byte RIFF WAVE file
// holding MPEG Layer III audio. The bytes live as long as the program. (The dialog build also
// carries the same file as its WAVE resource; see app/resource.h.)
const uint8_t* defaultSoundData();
uint32_t defaultSoundSize();

}  // namespace skm
