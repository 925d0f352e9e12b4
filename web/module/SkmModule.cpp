// The WebAssembly module's entry points. A page worker (or a Node script) hands in the bytes of
// one source and reads back the outcome, the reason in the command line's words and the package
// bytes. Each module instance converts one source at a time and keeps its last result until the
// next call, so the caller copies what it needs out of the module's memory first.

#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "convert/Converter.h"
#include "convert/GestureConverter.h"
#include "convert/Md5.h"
#include "convert/Package.h"
#include "convert/PackagePlan.h"
#include "convert/Version.h"

namespace {

struct LastResult {
  skm::GestureResult result;
  std::string reason;
  std::vector<uint8_t> package;
  skm::PackageView view;  // parsed back from `package`, as `skm2trn inspect` reads a package
  bool identifierMatches = false;
};

LastResult& last() {
  static LastResult state;
  return state;
}

// The source record and the GIF tables, kept once per module as a converting thread of the
// command line keeps them: made per picture the tables cost more than the conversion itself
// here, where fresh memory is zeroed by hand.
skm::Converter& converter() {
  static skm::Converter reused;
  return reused;
}

std::vector<skm::PackagePlan>& plans() {
  static std::vector<skm::PackagePlan> last;
  return last;
}

const skm::PackagePlan* planAt(uint32_t index) {
  return index < plans().size() ? &plans()[index] : nullptr;
}

std::span<const uint8_t> part(int which) {
  const skm::PackageView& view = last().view;
  switch (which) {
    case 0:
      return view.button;
    case 1:
      return view.animation;
    case 2:
      return view.sound;
  }
  return {};
}

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE uint8_t* skm_alloc(uint32_t size) {
  return static_cast<uint8_t*>(std::malloc(size ? size : 1));
}

EMSCRIPTEN_KEEPALIVE void skm_free(uint8_t* bytes) {
  std::free(bytes);
}

// Converts `size` bytes at `bytes`; `label` (UTF-8) is the source's path or file name and gives the
// package its name. Returns 0 converted, 1 skipped, 2 failed.
EMSCRIPTEN_KEEPALIVE int skm_convert(const uint8_t* bytes, uint32_t size, const char* label) {
  LastResult& state = last();
  state = LastResult{};
  state.result = converter().convertBytes({bytes, size}, label);
  if (state.result.outcome == skm::GestureOutcome::Converted) {
    try {
      state.package = skm::buildPackageBytes(skm::packagePartsOf(state.result));
      state.view = skm::parsePackage(state.package);
      state.identifierMatches = state.view.identifier == skm::makeGestureId(state.view.name);
    } catch (const std::bad_alloc&) {
      state.package = {};
      skm::endGesture(state.result, skm::GestureOutcome::Failed, skm::GestureReason::OutOfMemory);
    } catch (const std::exception& error) {  // the package could not be laid out
      state.package = {};
      skm::endGesture(state.result, skm::GestureOutcome::Failed, skm::GestureReason::WriteFailed,
                      error.what());
    }
  }
  state.result.button = {};
  state.result.animation = {};
  state.result.sound = {};
  state.reason = skm::describeReason(state.result);
  return int(state.result.outcome);
}

EMSCRIPTEN_KEEPALIVE const char* skm_reason() {
  return last().reason.c_str();
}

EMSCRIPTEN_KEEPALIVE int skm_frames() {
  return last().result.frameCount;
}

EMSCRIPTEN_KEEPALIVE const char* skm_base_name() {
  return last().result.baseName.c_str();
}

EMSCRIPTEN_KEEPALIVE const uint8_t* skm_package() {
  return last().package.data();
}

EMSCRIPTEN_KEEPALIVE uint32_t skm_package_size() {
  return uint32_t(last().package.size());
}

// The package's name and identifier as read back from its bytes.
EMSCRIPTEN_KEEPALIVE const char* skm_name() {
  return last().view.name.c_str();
}

EMSCRIPTEN_KEEPALIVE uint32_t skm_name_size() {
  return uint32_t(last().view.name.size());
}

EMSCRIPTEN_KEEPALIVE const char* skm_identifier() {
  return last().view.identifier.c_str();
}

EMSCRIPTEN_KEEPALIVE int skm_identifier_matches() {
  return last().identifierMatches ? 1 : 0;
}

// Where the button (0), the animation (1) and the sound (2) lie inside the package bytes.
EMSCRIPTEN_KEEPALIVE uint32_t skm_part_offset(int which) {
  std::span<const uint8_t> bytes = part(which);
  return bytes.empty() ? 0 : uint32_t(bytes.data() - last().package.data());
}

EMSCRIPTEN_KEEPALIVE uint32_t skm_part_size(int which) {
  return uint32_t(part(which).size());
}

// Plans the packages of a list of sources: `size` bytes at `paths` hold each source's path (UTF-8,
// '/' between folders, as the page lists them) followed by a NUL, in run order. A package keeps
// its source's folder, and names that differ only in letter case or normalisation are one name,
// since the zip may be unpacked where they are. Returns the number of sources; the plan stays
// until the next call.
EMSCRIPTEN_KEEPALIVE uint32_t skm_plan(const char* paths, uint32_t size) {
  std::vector<skm::PlanSource> sources;
  for (uint32_t at = 0; at < size;) {
    const std::string path(paths + at);
    at += uint32_t(path.size()) + 1;
    sources.push_back({path, path.substr(0, path.rfind('/') + 1)});
  }
  skm::PlanRules rules;
  rules.ignoresCase = true;
  try {
    plans() = skm::planPackages(sources, rules);
  } catch (const std::bad_alloc&) {
    plans().clear();
    return 0;
  }
  return uint32_t(plans().size());
}

// Source `index`'s verdict: 0 planned, 1 a device name, 2 nothing before the extension, 3 a
// hidden name, 4 it would replace a source.
EMSCRIPTEN_KEEPALIVE int skm_plan_verdict(uint32_t index) {
  const skm::PackagePlan* plan = planAt(index);
  return plan ? int(plan->verdict) : -1;
}

// The first source in run order whose package has the same name; `index` itself when none.
EMSCRIPTEN_KEEPALIVE uint32_t skm_plan_first(uint32_t index) {
  const skm::PackagePlan* plan = planAt(index);
  return plan ? uint32_t(plan->first) : index;
}

// The package's path below the output ("" when the source makes none), and why it makes none.
EMSCRIPTEN_KEEPALIVE const char* skm_plan_package(uint32_t index) {
  const skm::PackagePlan* plan = planAt(index);
  return plan ? plan->package.c_str() : "";
}

EMSCRIPTEN_KEEPALIVE const char* skm_plan_reason(uint32_t index) {
  const skm::PackagePlan* plan = planAt(index);
  return plan ? plan->reason.c_str() : "";
}

EMSCRIPTEN_KEEPALIVE const char* skm_version() {
  return skm::versionText();
}

}  // extern "C"
