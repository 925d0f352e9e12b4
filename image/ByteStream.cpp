#include "image/ByteStream.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace skm {

namespace {

constexpr int64_t GrowthStep = 4096;
constexpr int64_t MaxStreamBytes = std::numeric_limits<int32_t>::max();

std::FILE* fileOf(const ByteStream& s) {
  return static_cast<std::FILE*>(s.handle);
}
uint8_t* bytesOf(const ByteStream& s) {
  return static_cast<uint8_t*>(s.handle);
}

}  // namespace

void ByteStream::attachFile(std::FILE* file) {
  handle = file;
  kind = StreamKind::File;
  position = size = capacity = 0;
  borrowed = 1;
  writeFailed = 0;
}

void ByteStream::attachMemory(void* buffer, int32_t byteCount) {
  handle = buffer;
  kind = StreamKind::Memory;
  position = 0;
  size = capacity = byteCount < 0 ? 0 : byteCount;
  borrowed = 1;
  writeFailed = 0;
}

bool ByteStream::createMemory(int32_t initialCapacity) {
  if (kind == StreamKind::Memory && borrowed == 0) std::free(handle);
  const int32_t bytes = initialCapacity > 0 ? initialCapacity : 0;
  // malloc(0) may legitimately return null; ask for at least one byte.
  void* buffer = std::malloc(bytes > 0 ? std::size_t(bytes) : 1);
  attachMemory(buffer, 0);
  if (buffer == nullptr) return false;
  capacity = bytes;
  borrowed = 0;
  return true;
}

uint8_t* ByteStream::takeBuffer() {
  auto* buffer = bytesOf(*this);
  handle = nullptr;
  position = size = capacity = 0;
  borrowed = 1;
  writeFailed = 0;
  return buffer;
}

bool ByteStream::reserve(int64_t needed) {
  if (needed <= capacity) return true;
  const int64_t shortfall = needed - capacity;
  const int64_t grown = capacity + (shortfall + GrowthStep - 1) / GrowthStep * GrowthStep;
  if (grown > MaxStreamBytes) return false;
  void* buffer = nullptr;
  if (borrowed != 0) {
    // The caller's buffer is not ours to reallocate or free: continue in a copy we own.
    buffer = std::malloc(std::size_t(grown));
    if (buffer == nullptr) return false;
    if (size > 0) std::memcpy(buffer, handle, std::size_t(size));
    borrowed = 0;
  } else {
    buffer = std::realloc(handle, std::size_t(grown));
    if (buffer == nullptr) return false;
  }
  handle = buffer;
  capacity = int32_t(grown);
  return true;
}

int32_t ByteStream::read(void* destination, int32_t itemSize, int32_t itemCount) {
  if (handle == nullptr || destination == nullptr || itemSize <= 0 || itemCount <= 0) return 0;
  if (kind == StreamKind::File)
    return int32_t(
        std::fread(destination, std::size_t(itemSize), std::size_t(itemCount), fileOf(*this)));
  if (position > size) return 0;
  int64_t bytes = int64_t(itemSize) * itemCount;
  if (position + bytes > size) bytes = size - position;
  if (bytes == 0) return 0;
  std::memcpy(destination, bytesOf(*this) + position, std::size_t(bytes));
  position += int32_t(bytes);
  return int32_t(bytes / itemSize);
}

int32_t ByteStream::write(const void* source, int32_t itemSize, int32_t itemCount) {
  if (handle == nullptr || source == nullptr || itemSize <= 0 || itemCount <= 0) return 0;
  if (kind == StreamKind::File)
    return int32_t(
        std::fwrite(source, std::size_t(itemSize), std::size_t(itemCount), fileOf(*this)));
  const int64_t bytes = int64_t(itemSize) * itemCount;
  const int64_t end = position + bytes;
  if (end > MaxStreamBytes || !reserve(end)) {
    writeFailed = 1;
    return 0;
  }
  uint8_t* base = bytesOf(*this);
  // A write that starts past the end leaves zeros in the gap, never stale heap bytes.
  if (position > size) std::memset(base + size, 0, std::size_t(position - size));
  std::memcpy(base + position, source, std::size_t(bytes));
  position = int32_t(end);
  if (position > size) size = position;
  return itemCount;
}

int32_t ByteStream::seek(int32_t offset, int origin) {
  if (handle == nullptr) return 0;
  if (kind == StreamKind::File) return std::fseek(fileOf(*this), offset, origin);
  int64_t base = 0;
  switch (origin) {
    case SEEK_SET:
      base = 0;
      break;
    case SEEK_CUR:
      base = position;
      break;
    case SEEK_END:
      base = size;
      break;
    default:
      return -1;
  }
  const int64_t target = base + offset;
  if (target < 0 || target > MaxStreamBytes) return -1;
  position = int32_t(target);
  return 0;
}

int32_t ByteStream::tell() const {
  if (handle == nullptr) return -1;
  if (kind == StreamKind::File) {
    const long at = std::ftell(fileOf(*this));
    return at > MaxStreamBytes ? -1 : int32_t(at);
  }
  return position;
}

int32_t ByteStream::flush() {
  if (handle == nullptr) return -1;
  if (kind == StreamKind::File) return std::fflush(fileOf(*this));
  return 0;
}

int32_t ByteStream::error() const {
  if (handle == nullptr) return -1;
  if (kind == StreamKind::File) return std::ferror(fileOf(*this));
  return writeFailed;
}

int32_t ByteStream::putByte(int32_t value) {
  if (handle == nullptr) return -1;
  const uint8_t byte = uint8_t(value);
  if (kind == StreamKind::File) {
    const int result = std::fputc(byte, fileOf(*this));
    return result == EOF ? -1 : result;
  }
  if (!reserve(int64_t(position) + 1)) {
    writeFailed = 1;
    return -1;
  }
  uint8_t* base = bytesOf(*this);
  if (position > size) std::memset(base + size, 0, std::size_t(position - size));
  base[position] = byte;
  ++position;
  if (position > size) size = position;
  return byte;
}

int32_t ByteStream::close() {
  if (borrowed != 0 || handle == nullptr) return -1;
  int32_t result = 0;
  if (kind == StreamKind::File)
    result = std::fclose(fileOf(*this));
  else
    std::free(handle);
  handle = nullptr;
  position = size = capacity = 0;
  borrowed = 1;
  return result;
}

}  // namespace skm
