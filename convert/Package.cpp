#include "convert/Package.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <random>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "convert/FileError.h"
#include "convert/FilePath.h"

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

// Emits the layout through put(pointer, count), one call per field as the file is laid out.
template <typename Put>
void emitPackage(const PackageParts& parts, Put&& put) {
  const uint8_t space = 0x20;
  put(&space, 1);
  put(reinterpret_cast<const uint8_t*>(parts.identifier.data()), kIdentifierLength);
  for (auto part : {parts.button, parts.animation, parts.sound}) {
    uint32_t n = uint32_t(part.size());
    const uint8_t length[4] = {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
    put(length, 4);
    if (n) put(part.data(), n);
  }
  uint16_t n = uint16_t(parts.name.size());
  const uint8_t length[2] = {uint8_t(n >> 8), uint8_t(n)};
  put(length, 2);
  if (n) put(reinterpret_cast<const uint8_t*>(parts.name.data()), n);
}

std::string systemError(int err) {
  return std::strerror(err);
}

// The source of temporary-name suffixes, seeded once per thread: opening the system's random
// device for every package cost a tenth of a conversion.
std::mt19937_64& nameGenerator() {
  thread_local std::mt19937_64 generator = [] {
    // The clock and an address keep threads apart should random_device be missing.
    int local = 0;
    uint64_t seed = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                    uint64_t(reinterpret_cast<uintptr_t>(&local));
    try {
      std::random_device device;
      seed ^= uint64_t(device()) << 32 | device();
    } catch (const std::exception&) {
    }
    return std::mt19937_64(seed);
  }();
  return generator;
}

// Opens a new, uniquely named file next to target for writing; returns its name in tempPath.
std::FILE* createTemporary(const std::string& target, std::string& tempPath) {
#ifdef _WIN32
  size_t cut = target.find_last_of("/\\:");
#else
  size_t cut = target.find_last_of('/');
#endif
  cut = cut == std::string::npos ? 0 : cut + 1;
  if (cut == target.size()) throw FileError("cannot create \"" + target + "\": no file name");
  std::string folder = target.substr(0, cut);
  std::string base(1, '.');
  base.append(target, cut, std::string::npos);
  base += '.';
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::mt19937_64& random = nameGenerator();
  std::uniform_int_distribution<int> pick(0, 35);
  int err = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    // The name is handed out only once the file exists, so a caller never removes a file
    // that belongs to someone else.
    std::string candidate = folder + base;
    for (int i = 0; i < 6; ++i) candidate += kChars[pick(random)];
    // "x": fail rather than reuse a file someone else made under the same name.
    errno = 0;
    if (std::FILE* file = openFile(candidate, "wbx")) {
      tempPath.swap(candidate);
      return file;
    }
    err = errno;
    if (err == EINVAL) {
      // An older C runtime without "x": check for the name first. The random suffix makes a
      // race with another writer unlikely, and the folder is the user's own output folder.
      if (std::FILE* existing = openFile(candidate, "rb")) {
        std::fclose(existing);
        err = EEXIST;
        continue;
      }
      errno = 0;
      if (std::FILE* file = openFile(candidate, "wb")) {
        tempPath.swap(candidate);
        return file;
      }
      err = errno;
    }
    if (err != EEXIST) break;
  }
  throw FileError("cannot create " + target + ": " + systemError(err ? err : EEXIST));
}

}  // namespace

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
    bytes.resize(size_t(size));
  } catch (const std::exception&) {
    throw FileError("out of memory: cannot build a package of " + std::to_string(size) + " bytes");
  }
  size_t pos = 0;
  emitPackage(parts, [&](const uint8_t* p, size_t n) {
    std::memcpy(bytes.data() + pos, p, n);
    pos += n;
  });
  return bytes;
}

// The temporary file of one write: closed and removed on every way out, running out of memory
// included, unless it has become the package.
struct TemporaryFile {
  std::FILE* file = nullptr;
  std::string path;
  bool placed = false;
  ~TemporaryFile() {
    if (file != nullptr) std::fclose(file);
    if (!placed && !path.empty()) removeFile(path);
  }
};

void writePackage(const std::string& path, const PackageParts& parts) {
  checkParts(parts);
  TemporaryFile temp;
  // The package is laid out in memory and written in one go, past the stream's buffer: one
  // system call instead of one per 4 KB, and no buffer to set up per file.
  const std::vector<uint8_t> bytes = buildPackageBytes(parts);
  temp.file = createTemporary(path, temp.path);
  int err = 0;
  std::setvbuf(temp.file, nullptr, _IONBF, 0);
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), temp.file) != bytes.size()) {
    err = errno ? errno : EIO;
  }
  errno = 0;
  if (err == 0 && std::fflush(temp.file) != 0) err = errno ? errno : EIO;
  errno = 0;
  std::FILE* file = std::exchange(temp.file, nullptr);
  if (std::fclose(file) != 0 && err == 0) err = errno ? errno : EIO;
  if (err != 0) throw FileError("cannot write " + path + ": " + systemError(err));
  // filesystem::rename replaces an existing file on every platform, unlike std::rename.
  std::error_code ec;
  std::filesystem::rename(pathFromUtf8(temp.path), pathFromUtf8(path), ec);
  if (ec) throw FileError("cannot write " + path + ": " + ec.message());
  temp.placed = true;
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
