#include "codecs/GifCodec.h"

#include <cstring>

namespace skm {

GifCodec::GifCodec() : Image(FormatGif) {}

void GifCodec::setCommentText(const char* text) {
  std::size_t n = 0;
  if (text != nullptr) {
    while (n < sizeof commentText - 1 && text[n] != '\0') ++n;
    std::memcpy(commentText, text, n);
  }
  commentText[n] = '\0';
}

}  // namespace skm
