#include "convert/SourceGesture.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "convert/FileError.h"
#include "convert/FileIo.h"

namespace skm {
namespace detail {

// A bounded byte source: the parser asks how much is left before it allocates or reads.
class GestureInput {
 public:
  virtual ~GestureInput() = default;
  // Bytes left between the read position and the end of the input.
  virtual uint64_t remaining() const = 0;
  // Reads n bytes; n never exceeds remaining(). Raises FileError when they do not arrive.
  virtual void readExact(uint8_t* dst, size_t n) = 0;
};

}  // namespace detail

namespace {

using detail::GestureInput;

// The caller says "damaged file" and names the file; the message says where.
[[noreturn]] void throwDamaged(const char* what) {
  throw FileError(std::string(what) + " runs past the end of the file");
}

class MemoryInput final : public GestureInput {
 public:
  MemoryInput(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}
  uint64_t remaining() const override { return size_ - pos_; }
  void readExact(uint8_t* dst, size_t n) override {
    if (n > size_ - pos_) throw FileError("read past the end of the data");
    if (n) std::memcpy(dst, bytes_ + pos_, n);
    pos_ += n;
  }

 private:
  const uint8_t* bytes_;
  size_t size_;
  size_t pos_ = 0;
};

// Reads n bytes after checking that the input still holds them.
void take(GestureInput& in, uint8_t* dst, size_t n, const char* what) {
  if (in.remaining() < n) throwDamaged(what);
  in.readExact(dst, n);
}

uint32_t bigEndian32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// Text of at most n bytes, cut at the first zero byte.
std::string cutAtZero(const uint8_t* bytes, size_t n) {
  const void* zero = std::memchr(bytes, 0, n);
  size_t length = zero ? size_t(static_cast<const uint8_t*>(zero) - bytes) : n;
  return std::string(reinterpret_cast<const char*>(bytes), length);
}

}  // namespace

SourceGesture::SourceGesture() {
  reset();
}

SourceGesture::~SourceGesture() {
  reset();
}

void SourceGesture::release(Blob& blob) {
  std::free(blob.data);
  blob.data = nullptr;
  blob.size = 0;
}

void SourceGesture::reset() {
  release(button);
  release(sound);
  release(strip);
  path.clear();
  version = "0100";
  name.clear();
  flags = 0;
  frameWidth = 0;
  value24 = 0;
  byteField1 = 0;
  byteField2 = 0;
  switchField = 0;
}

void SourceGesture::setBlob(Blob& target, const uint8_t* source, uint32_t size) {
  release(target);
  if (!source || size == 0) return;
  auto* copy = static_cast<uint8_t*>(std::malloc(size));
  if (!copy) throw FileError("out of memory: cannot hold " + std::to_string(size) + " bytes");
  std::memcpy(copy, source, size);
  target.data = copy;
  target.size = size;
}

void SourceGesture::readBlob(GestureInput& in, Blob& target, const char* what) {
  uint8_t lengthBytes[4];
  std::string lengthWhat = std::string("the length of ") + what;
  take(in, lengthBytes, 4, lengthWhat.c_str());
  uint32_t length = bigEndian32(lengthBytes);
  release(target);
  if (length == 0) return;
  // Checked before allocating, so a short file cannot ask for gigabytes.
  if (in.remaining() < length) throwDamaged(what);
  auto* bytes = static_cast<uint8_t*>(std::malloc(length));
  if (!bytes) throw FileError("out of memory: cannot hold " + std::to_string(length) + " bytes");
  try {
    in.readExact(bytes, length);
  } catch (...) {
    std::free(bytes);
    throw;
  }
  target.data = bytes;
  target.size = length;
}

int SourceGesture::parse(GestureInput& in) {
  uint8_t magic[4];
  if (in.remaining() < 4) return 0;
  in.readExact(magic, 4);
  if (std::memcmp(magic, "SKMG", 4) != 0) return 0;

  uint8_t fixed[28];
  take(in, fixed, 4, "the version");
  version = cutAtZero(fixed, 4);

  take(in, fixed, 1, "the name length");
  uint8_t nameBytes[255];
  size_t n = fixed[0];
  take(in, nameBytes, n, "the name");
  name = cutAtZero(nameBytes, n);

  take(in, fixed, 4, "the flags");
  flags = bigEndian32(fixed);

  take(in, fixed, 2, "the frame width");
  frameWidth = int16_t(uint16_t(fixed[0] << 8 | fixed[1]));

  take(in, fixed, 3, "value24");
  value24 = uint32_t(fixed[0]) | uint32_t(fixed[1]) << 8 | uint32_t(fixed[2]) << 16;

  take(in, fixed, 3, "the header bytes");
  byteField1 = fixed[0];
  byteField2 = fixed[1];
  switchField = fixed[2] != 0 ? 1 : 0;

  take(in, fixed, 28, "the reserved block");

  readBlob(in, button, "the button picture");
  readBlob(in, strip, "the strip picture");
  if (flags & FlagSound) readBlob(in, sound, "the sound");
  return 1;
}

int SourceGesture::read(const std::string& filePath) {
  path = filePath;
  readError.clear();
  if (filePath.empty()) return 0;
  // Read whole, without seeking, so pipes and FIFOs work as sources.
  int err = readWholeFile(filePath, fileBytes_);
  if (err != 0) {
    fileBytes_.clear();
    if (err == ENOMEM) throw std::bad_alloc();
    readError = err == EISDIR ? "is a folder" : systemMessage(err);
    return 0;
  }
  MemoryInput in(fileBytes_.data(), fileBytes_.size());
  int result = parse(in);
  // The blobs are copies; a big source's bytes are not kept beyond its conversion.
  if (fileBytes_.capacity() > (std::size_t{1} << 20)) {
    std::vector<uint8_t>().swap(fileBytes_);
  }
  return result;
}

int SourceGesture::readFromMemory(const uint8_t* bytes, size_t size) {
  if (!bytes) size = 0;
  MemoryInput in(bytes, size);
  return parse(in);
}

}  // namespace skm
