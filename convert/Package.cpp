#include "convert/Package.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>

#include "convert/FileError.h"
#include "convert/FileIo.h"

namespace skm {
namespace {

constexpr size_t kIdentifierLength = 32;

void checkParts(const PackageParts& parts) {
  if (parts.identifier.size() != kIdentifierLength)
    throw std::invalid_argument("package identifier must be 32 characters");
  for (auto part : {parts.button, parts.animation, parts.sound})
    if (part.size() > 0xffffffffu) throw std::invalid_argument("package part longer than 4 GiB");
  if (parts.name.size() > 0xffffu) throw std::invalid_argument("package name too long");
}

}  // namespace

PackageLayout::PackageLayout(const PackageParts& parts) {
  checkParts(parts);
  auto bigEndian = [](uint8_t* at, uint64_t n, int bytes) {
    for (int k = bytes - 1; k >= 0; --k, n >>= 8) at[k] = uint8_t(n);
  };
  head_[0] = 0x20;
  std::memcpy(head_ + 1, parts.identifier.data(), kIdentifierLength);
  bigEndian(head_ + 1 + kIdentifierLength, parts.button.size(), 4);
  bigEndian(animationLength_, parts.animation.size(), 4);
  bigEndian(soundLength_, parts.sound.size(), 4);
  bigEndian(nameLength_, parts.name.size(), 2);
  pieces_ = {std::span<const uint8_t>(head_),
             parts.button,
             std::span<const uint8_t>(animationLength_),
             parts.animation,
             std::span<const uint8_t>(soundLength_),
             parts.sound,
             std::span<const uint8_t>(nameLength_),
             {reinterpret_cast<const uint8_t*>(parts.name.data()), parts.name.size()}};
}

uint64_t packageSize(const PackageParts& parts) {
  return 47 + uint64_t(parts.button.size()) + parts.animation.size() + parts.sound.size() +
         parts.name.size();
}

std::vector<uint8_t> buildPackageBytes(const PackageParts& parts) {
  checkParts(parts);
  uint64_t size = packageSize(parts);
  std::vector<uint8_t> bytes;
  try {
    if (size > bytes.max_size()) throw std::bad_alloc();
    bytes.reserve(size_t(size));
  } catch (const std::exception&) {
    throw FileError("out of memory: cannot build a package of " + std::to_string(size) + " bytes");
  }
  // Appended into the reserved space: no zero-fill of bytes that are written next anyway.
  const PackageLayout layout(parts);
  for (const std::span<const uint8_t> piece : layout.pieces()) {
    bytes.insert(bytes.end(), piece.begin(), piece.end());
  }
  return bytes;
}

bool writePackage(const std::string& path, const PackageParts& parts, Placement placement) {
  // Written from its parts where they lie, with one gathering write where the system has one.
  const PackageLayout layout(parts);
#ifdef _WIN32
  size_t cut = path.find_last_of("/\\:");
#else
  size_t cut = path.find_last_of('/');
#endif
  cut = cut == std::string::npos ? 0 : cut + 1;
  if (cut == path.size()) throw FileError("cannot write \"" + path + "\": no file name");
  int err = writeFileAtomically(path.substr(0, cut), path, layout.pieces(), placement);
  if (err == EEXIST && placement == Placement::KeepExisting) return false;
  if (err != 0) throw FileError("could not write the package " + path + ": " + systemMessage(err));
  return true;
}

void writePackage(const std::string& path, std::string_view identifier, const uint8_t* button,
                  uint32_t buttonSize, const uint8_t* animation, uint32_t animationSize,
                  const uint8_t* sound, uint32_t soundSize, std::string_view name) {
  PackageParts parts{identifier,
                     {button, button ? buttonSize : 0u},
                     {animation, animation ? animationSize : 0u},
                     {sound, sound ? soundSize : 0u},
                     name};
  writePackage(path, parts);
}

PackageView parsePackage(std::span<const uint8_t> bytes) {
  size_t pos = 0;
  auto need = [&](size_t n, const char* what) {
    if (bytes.size() - pos < n)
      throw FileError(std::string("damaged package: ") + what + " runs past the end of the file");
  };
  need(1 + kIdentifierLength, "the identifier");
  if (bytes[0] != 0x20) throw FileError("not a gesture package: the first byte is not 20 (hex)");
  PackageView view;
  view.identifier.assign(reinterpret_cast<const char*>(bytes.data() + 1), kIdentifierLength);
  pos = 1 + kIdentifierLength;
  const char* names[3] = {"the button picture", "the animation", "the sound"};
  std::span<const uint8_t>* targets[3] = {&view.button, &view.animation, &view.sound};
  for (int i = 0; i < 3; ++i) {
    need(4, names[i]);
    const uint8_t* p = bytes.data() + pos;
    size_t n = size_t(uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]);
    pos += 4;
    need(n, names[i]);
    *targets[i] = bytes.subspan(pos, n);
    pos += n;
  }
  need(2, "the name");
  size_t n = size_t(bytes[pos]) << 8 | bytes[pos + 1];
  pos += 2;
  need(n, "the name");
  view.name.assign(reinterpret_cast<const char*>(bytes.data() + pos), n);
  pos += n;
  view.trailingBytes = bytes.size() - pos;
  return view;
}

}  // namespace skm
