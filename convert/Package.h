#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "convert/FileIo.h"

namespace skm {

// The parts of one gesture package, in file order. The views are not owned.
struct PackageParts {
  std::string_view identifier;  // 32 lower-case hex characters
  std::span<const uint8_t> button;
  std::span<const uint8_t> animation;
  std::span<const uint8_t> sound;
  std::string_view name;
};

// The package file as the pieces it is laid out from, in file order: the small fields are held
// here, the parts pointed to. Checks the parts as buildPackageBytes does. Not copyable, since
// the pieces point into it.
class PackageLayout {
 public:
  explicit PackageLayout(const PackageParts& parts);
  PackageLayout(const PackageLayout&) = delete;
  PackageLayout& operator=(const PackageLayout&) = delete;
  BytePieces pieces() const { return pieces_; }

 private:
  uint8_t head_[37];  // the space, the identifier and the button's length
  uint8_t animationLength_[4];
  uint8_t soundLength_[4];
  uint8_t nameLength_[2];
  std::array<std::span<const uint8_t>, 8> pieces_;
};

// Exact size of the package file for parts: 47 + the three lengths + the name length.
uint64_t packageSize(const PackageParts& parts);

// The package file's bytes. Raises std::invalid_argument for an identifier that is not 32
// characters or a part too long for its length field, FileError when memory runs out.
std::vector<uint8_t> buildPackageBytes(const PackageParts& parts);

// Writes the package to path. The bytes go to a temporary file in the same folder, which
// takes the name path only once it is complete and closed; on any failure the temporary file
// is removed, an existing package stays as it was, and FileError says why. With KeepExisting
// an existing file at path is left alone and false returned.
bool writePackage(const std::string& path, const PackageParts& parts,
                  Placement placement = Placement::Replace);

// The same, with the parameters in the order of the package layout.
void writePackage(const std::string& path, std::string_view identifier, const uint8_t* button,
                  uint32_t buttonSize, const uint8_t* animation, uint32_t animationSize,
                  const uint8_t* sound, uint32_t soundSize, std::string_view name);

// A parsed package; the spans point into the bytes given to parsePackage.
struct PackageView {
  std::string identifier;
  std::span<const uint8_t> button;
  std::span<const uint8_t> animation;
  std::span<const uint8_t> sound;
  std::string name;
  size_t trailingBytes = 0;  // bytes after the name; a package written by us has none
};

// Splits package bytes into their parts. Raises FileError when the first byte is not 20 (hex)
// or a length runs past the end of the bytes.
PackageView parsePackage(std::span<const uint8_t> bytes);

}  // namespace skm
