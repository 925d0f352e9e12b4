#include "codecs/ImageFile.h"

#include "codecs/BmpCodec.h"
#include "codecs/GifCodec.h"

namespace skm {

namespace {

constexpr const char* Unsupported = "Unsupported operation for this format";

template <typename Codec>
bool encodeShared(Image& image, ByteStream& stream) {
  Codec codec;
  codec.shareFrom(&image);
  if (codec.encode(&stream)) return true;
  // A message an encoder leaves while succeeding stays with the codec.
  image.setLastError(codec.lastErrorKind(), codec.lastError());
  return false;
}

template <typename Codec>
bool decodeInto(Codec& codec, Image& image, ByteStream& stream) {
  if (!codec.decode(&stream)) {
    image.setLastError(codec.lastErrorKind(), codec.lastError());
    return false;
  }
  image.transfer(codec);
  return true;
}

}  // namespace

bool save(Image& image, const char* path, int formatType) {
  if (path == nullptr) return false;
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  const bool saved = saveToFile(image, file, formatType);
  // Data still buffered when the disk fills up is lost at close; that is a failed save.
  const bool closed = std::fclose(file) == 0;
  return saved && closed;
}

bool saveToFile(Image& image, std::FILE* file, int formatType) {
  ByteStream stream;
  stream.attachFile(file);
  const bool saved = saveToStream(image, stream, formatType);
  stream.close();
  return saved;
}

bool saveToStream(Image& image, ByteStream& stream, int formatType) {
  switch (formatType) {
    case FormatBmp:
      return encodeShared<BmpCodec>(image, stream);
    case FormatGif:
      return encodeShared<GifCodec>(image, stream);
    default:
      image.setLastError(ImageError::Unsupported, Unsupported);
      return false;
  }
}

bool loadFromMemory(Image& image, const uint8_t* buffer, int32_t byteCount, int formatType,
                    GifWorkspace* gif) {
  ByteStream stream;
  // The stream only reads; the cast lets one stream type serve reading and writing.
  stream.attachMemory(const_cast<uint8_t*>(buffer), byteCount < 0 ? 0 : byteCount);
  const bool loaded = loadFromStream(image, stream, formatType, gif);
  stream.close();
  return loaded;
}

bool loadFromStream(Image& image, ByteStream& stream, int formatType, GifWorkspace* gif) {
  switch (formatType) {
    case FormatBmp: {
      BmpCodec codec;
      return decodeInto(codec, image, stream);
    }
    case FormatGif: {
      GifCodec codec(gif);
      codec.info.frameIndex = image.info.frameIndex;
      return decodeInto(codec, image, stream);
    }
    default:
      image.setLastError(ImageError::Unsupported, Unsupported);
      return false;
  }
}

}  // namespace skm
