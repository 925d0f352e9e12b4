#pragma once

#include <cstdint>
#include <cstdio>

namespace skm {

enum class StreamKind : int32_t { File = 0, Memory = 1 };

// The one byte channel the codecs read and write: a standard I/O file or a growable memory
// buffer. A plain type with a kind tag; every operation branches on the kind. Streams made by
// attachFile and attachMemory borrow their handle and never close or free it.
struct ByteStream {
  void* handle = nullptr;
  StreamKind kind = StreamKind::File;
  int32_t position = 0;  // memory kind only
  int32_t size = 0;      // memory kind only: valid bytes
  int32_t capacity = 0;  // memory kind only: allocated bytes
  int32_t borrowed = 1;
  int32_t writeFailed = 0;  // memory kind only: set when a write could not grow the buffer

  void attachFile(std::FILE* file);
  void attachMemory(void* buffer, int32_t byteCount);
  // An empty memory stream for writing, with a buffer of its own allocated with std::malloc.
  // The bytes written are handle[0, size); takeBuffer hands them to the caller, who frees them
  // with std::free. Returns false when the first buffer cannot be allocated.
  bool createMemory(int32_t initialCapacity = 4096);
  uint8_t* takeBuffer();

  int32_t read(void* destination, int32_t itemSize, int32_t itemCount);
  int32_t write(const void* source, int32_t itemSize, int32_t itemCount);
  int32_t seek(int32_t offset, int origin);
  int32_t tell() const;
  int32_t flush();
  int32_t error() const;
  int32_t putByte(int32_t value);
  int32_t close();

 private:
  bool reserve(int64_t needed);
};

}  // namespace skm
