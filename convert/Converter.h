#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "convert/GestureConverter.h"
#include "convert/SourceGesture.h"

namespace skm {

// One converting thread's state, kept from one gesture to the next: the source record and the
// GIF codec's tables (made per picture they would cost more than the conversion itself). Use
// one per thread; the faces hold one of these and never the codec's tables themselves.
class Converter {
 public:
  Converter();
  ~Converter();
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // convertBytes and convertSource (GestureConverter.h) with this thread's state.
  GestureResult convertBytes(std::span<const uint8_t> bytes, const std::string& label);
  GestureResult convertSource(const std::string& path);

 private:
  SourceGesture gesture_;
  // Null when there was no memory for it: each picture then makes its own tables.
  std::unique_ptr<GifWorkspace> gif_;
};

}  // namespace skm
