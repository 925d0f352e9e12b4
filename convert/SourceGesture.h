#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace skm {

namespace detail {
class GestureInput;  // where the parser takes its bytes from: a file or a memory block
}

// Flag bits of a source gesture; every other bit is carried along uninterpreted.
inline constexpr uint32_t FlagLoop = 1;   // the animation plays forever
inline constexpr uint32_t FlagSound = 8;  // the file holds a sound blob

// An owned heap buffer and its size; data is null exactly when size is 0.
struct Blob {
  uint8_t* data = nullptr;
  uint32_t size = 0;
};

// One parsed source gesture file (.skm). The record owns the buffers of its three blobs.
class SourceGesture {
 public:
  SourceGesture();
  virtual ~SourceGesture();
  SourceGesture(const SourceGesture&) = delete;
  SourceGesture& operator=(const SourceGesture&) = delete;

  // Releases the blobs and restores the default field values.
  void reset();

  // Replaces target's bytes with a copy of size bytes at source; a null source or a size of 0
  // leaves it empty. Raises FileError when the copy cannot be allocated.
  void setBlob(Blob& target, const uint8_t* source, uint32_t size);

  // Parses the file at path into this record (without resetting it first). The file is read
  // whole first, without seeking. Returns 1 on success; 0 when the path is empty, the file
  // cannot be opened or read (readError then holds the system's reason) or it does not start
  // with "SKMG". A file that ends inside a field or a blob raises FileError; fields parsed
  // before that point stay set.
  int read(const std::string& path);

  // The same rules over bytes in memory; path is left as it is.
  int readFromMemory(const uint8_t* bytes, size_t size);

  std::string getName() const { return name; }

  std::string path;
  std::string readError;  // why the last read() could not read its file; empty otherwise
  std::string version;
  std::string name;
  uint32_t flags = 0;
  int32_t frameWidth = 0;
  uint32_t value24 = 0;
  uint32_t byteField1 = 0;
  uint32_t byteField2 = 0;
  uint32_t switchField = 0;
  Blob button;
  Blob strip;
  Blob sound;

 private:
  int parse(detail::GestureInput& in);
  void readBlob(detail::GestureInput& in, Blob& target, const char* what);
  static void release(Blob& blob);

  std::vector<uint8_t> fileBytes_;  // the file being parsed, kept between small files
};

}  // namespace skm
