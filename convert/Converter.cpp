#include "convert/Converter.h"

#include <new>

#include "codecs/GifCodec.h"

namespace skm {

Converter::Converter() : gif_(new (std::nothrow) GifWorkspace) {}

Converter::~Converter() = default;

GestureResult Converter::convertBytes(std::span<const uint8_t> bytes, const std::string& label) {
  return skm::convertBytes(gesture_, bytes, label, gif_.get());
}

GestureResult Converter::convertSource(const std::string& path) {
  return skm::convertSource(gesture_, path, gif_.get());
}

}  // namespace skm
