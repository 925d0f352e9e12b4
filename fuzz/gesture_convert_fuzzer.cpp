// A whole gesture conversion in memory: bytes of a .skm in, package bytes or a skip out.
// Beyond "no crash", a package that comes out must parse back to the same name, identifier,
// sound and frame count.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "codecs/GifCodec.h"
#include "convert/DefaultSound.h"
#include "convert/GestureConverter.h"
#include "convert/Md5.h"
#include "convert/Package.h"
#include "convert/SourceGesture.h"
#include "image/ByteStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  skm::SourceGesture gesture;
  skm::GestureResult result = skm::convertBytes(gesture, {data, size}, "fuzz.skm");
  if (result.outcome != skm::GestureOutcome::Converted) {
    // Every refusal carries a reason in words; an empty one would reach the user as a blank.
    if (result.reason == skm::GestureReason::None || skm::describeReason(result).empty()) {
      std::abort();
    }
    return 0;
  }
  if (result.baseName != "fuzz") std::abort();

  std::vector<uint8_t> bytes = skm::buildPackageBytes(skm::packagePartsOf(result));
  skm::PackageView view = skm::parsePackage(bytes);
  if (view.name != gesture.getName() || view.identifier != skm::makeGestureId(view.name) ||
      view.trailingBytes != 0) {
    std::abort();
  }
  // The gesture's own sound, or the built-in one when it has none; the gesture keeps its own.
  const bool own = (gesture.flags & skm::FlagSound) != 0;
  const uint8_t* sound = own ? gesture.sound.data : skm::defaultSoundData();
  const std::size_t soundSize = own ? gesture.sound.size : skm::defaultSoundSize();
  if (view.sound.size() != soundSize || std::memcmp(view.sound.data(), sound, soundSize) != 0) {
    std::abort();
  }
  if (result.frameCount < 1 || result.frameCount > skm::MaxFrames) std::abort();

  skm::GifCodec animation;
  skm::ByteStream stream;
  stream.attachMemory(const_cast<uint8_t*>(view.animation.data()), int32_t(view.animation.size()));
  if (!animation.decode(&stream) || animation.info.frameCount != result.frameCount) std::abort();
  if (view.button.size() < 54 || view.button[0] != 'B' || view.button[1] != 'M') std::abort();
  return 0;
}
