#include "convert/DefaultSound.h"

namespace skm {
namespace detail {
extern const uint8_t defaultSoundBytes[];
extern const uint32_t defaultSoundBytesSize;
}  // namespace detail

const uint8_t* defaultSoundData() {
  return detail::defaultSoundBytes;
}

uint32_t defaultSoundSize() {
  return detail::defaultSoundBytesSize;
}

}  // namespace skm
