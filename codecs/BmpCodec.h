#pragma once

#include "image/ByteStream.h"
#include "image/Image.h"

namespace skm {

// Reads and writes Windows BMP files. The codec is an Image: decode fills this object, encode
// writes it (usually a shared copy of the caller's Image). Both report through lastError.
class BmpCodec : public Image {
 public:
  BmpCodec() : Image(FormatBmp) {}

  // Writes the 14-byte file header and the bitmap block as it is held in memory.
  bool encode(ByteStream* stream);
  // Reads a BMP from the stream's current position into this Image: 1/4/8/24-bit, RLE8, RLE4,
  // 16-bit and 32-bit bit fields, core (12-byte) and longer information headers, top-down rows.
  bool decode(ByteStream* stream);
};

}  // namespace skm
