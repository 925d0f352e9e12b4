#include "tests/job/GestureFiles.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "codecs/ImageFile.h"
#include "image/ByteStream.h"
#include "image/Image.h"

namespace skm::test {

namespace {

void putBig32(Bytes& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(value >> shift));
}

void putBlob(Bytes& out, const Bytes& blob) {
  putBig32(out, uint32_t(blob.size()));
  out.insert(out.end(), blob.begin(), blob.end());
}

}  // namespace

Bytes makeGif(int width, int height, int colours) {
  Image image(width, height, 8, FormatGif);
  for (int i = 0; i < colours; ++i) {
    image.setPaletteColor(uint32_t(i), uint8_t(i * 16), uint8_t(255 - i * 8), uint8_t(i * 5));
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) image.setPixelIndex(x, y, uint8_t((x + 3 * y) % colours));
  }
  ByteStream stream;
  if (!stream.createMemory()) throw std::runtime_error("out of memory");
  bool ok = saveToStream(image, stream, FormatGif);
  Bytes bytes(static_cast<uint8_t*>(stream.handle),
              static_cast<uint8_t*>(stream.handle) + stream.size);
  std::free(stream.takeBuffer());
  if (!ok) throw std::runtime_error("test GIF could not be encoded");
  return bytes;
}

Bytes makeSkm(const GestureDraft& draft) {
  Bytes out = {'S', 'K', 'M', 'G', '0', '1', '0', '0'};
  out.push_back(uint8_t(draft.name.size()));
  out.insert(out.end(), draft.name.begin(), draft.name.end());
  putBig32(out, draft.flags);
  out.push_back(uint8_t(uint16_t(draft.frameWidth) >> 8));
  out.push_back(uint8_t(uint16_t(draft.frameWidth)));
  out.insert(out.end(), {1, 2, 3, 4, 5, 0});  // value24, two byte fields, switch
  out.insert(out.end(), 28, 0);
  putBlob(out, draft.button.empty() ? makeGif(4, 4) : draft.button);
  putBlob(out, draft.strip.empty() ? makeGif(12, 3) : draft.strip);
  if (draft.flags & 8) putBlob(out, draft.sound);
  return out;
}

void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TempFolder::TempFolder() {
  std::random_device random;
  auto base = std::filesystem::temp_directory_path();
  for (;;) {
    auto candidate = base / ("skm2trn-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate.string() + std::string(1, std::filesystem::path::preferred_separator);
      return;
    }
  }
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

}  // namespace skm::test
