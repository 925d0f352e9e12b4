// Feeds arbitrary bytes to the source gesture reader and the package parser. A gesture that
// reads must survive a trip through the package writer and parser unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "convert/FileError.h"
#include "convert/Md5.h"
#include "convert/Package.h"
#include "convert/SourceGesture.h"

namespace {

bool same(std::span<const uint8_t> view, const skm::Blob& blob) {
  if (view.size() != blob.size) return false;
  for (size_t i = 0; i < view.size(); ++i)
    if (view[i] != blob.data[i]) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    skm::parsePackage(std::span<const uint8_t>(data, size));
  } catch (const skm::FileError&) {
  }

  skm::SourceGesture gesture;
  int result = 0;
  try {
    result = gesture.readFromMemory(data, size);
  } catch (const skm::FileError&) {
    return 0;
  }
  if (result != 1) return 0;

  std::string name = gesture.getName();
  std::string id = skm::makeGestureId(name.c_str());
  skm::PackageParts parts{id,
                          {gesture.button.data, gesture.button.size},
                          {gesture.strip.data, gesture.strip.size},
                          {gesture.sound.data, gesture.sound.size},
                          name};
  auto bytes = skm::buildPackageBytes(parts);
  if (bytes.size() != skm::packageSize(parts)) std::abort();
  skm::PackageView view = skm::parsePackage(bytes);
  if (view.identifier != id || view.name != name || view.trailingBytes != 0 ||
      !same(view.button, gesture.button) || !same(view.animation, gesture.strip) ||
      !same(view.sound, gesture.sound))
    std::abort();
  return 0;
}
