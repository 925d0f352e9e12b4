#pragma once

#include <cstdint>

namespace skm {

// Resource id of the default sound in the Windows build's resources (type "WAVE").
inline constexpr int IDR_DEFAULT_SOUND = 130;

// The built-in sound a package gets when its gesture has none: an 8076-byte RIFF WAVE file
// holding MPEG Layer III audio. The bytes live as long as the program.
const uint8_t* defaultSoundData();
uint32_t defaultSoundSize();

}  // namespace skm
