#pragma once

#include <cstdint>
#include <cstdio>

#include "image/ByteStream.h"
#include "image/Image.h"

namespace skm {

class GifWorkspace;

// Load and save by format type (FormatBmp, FormatGif). Each call builds the codec it needs for
// the duration of the call. Failures leave the codec's message in image.lastError(); any other
// format type fails with "Unsupported operation for this format".

// Creates or empties the file at path ("wb"), then saves into it. A file that cannot be opened
// gives false and leaves lastError as it was.
bool save(Image& image, const char* path, int formatType);
// Saves into an open file, which stays open.
bool saveToFile(Image& image, std::FILE* file, int formatType);
// Encodes a shared copy of image; on failure the encoder's lastError replaces image's.
bool saveToStream(Image& image, ByteStream& stream, int formatType);
// Decodes from a buffer that is only read and stays with its owner.
// A GIF decode uses `gif`'s tables when given (see GifWorkspace), else tables of its own.
bool loadFromMemory(Image& image, const uint8_t* buffer, int32_t byteCount, int formatType,
                    GifWorkspace* gif = nullptr);
// Decodes into a fresh codec and moves the picture into image on success (its settings then
// all come from the decoder; a GIF decode keeps image's frameIndex). On failure image keeps its
// picture and settings, and its lastError becomes the decoder's (empty when it gave none).
bool loadFromStream(Image& image, ByteStream& stream, int formatType, GifWorkspace* gif = nullptr);

}  // namespace skm
