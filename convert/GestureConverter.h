#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "convert/FileIo.h"
#include "convert/SourceGesture.h"

namespace skm {

class GifWorkspace;

inline constexpr int MaxFrames = 30;
inline constexpr uint32_t GestureFrameDelay = 20;
inline constexpr int GestureDisposalMethod = 2;
inline constexpr int ButtonSize = 16;
// Largest strip picture a gesture may have, in pixels (2048 x 2048). Real strips are a few
// thousand pixels; the bound keeps the work a few bytes of input can ask for to a fraction of a
// second.
inline constexpr int64_t MaxStripPixels = int64_t{1} << 22;

// How one source ended. Skipped files are the silent skips of a run (no message); failed ones
// show "Error: Gesture skipped.".
enum class GestureOutcome { Converted, Skipped, Failed };

enum class GestureReason {
  None,
  NotGesture,  // unreadable, wrong magic, or a frame width below 1
  EmptySound,
  StripNotGif,  // not a GIF at all
  ButtonNotGif,
  StripUnreadable,   // a GIF without an image, damaged before it, or whose image gives no pixel;
  ButtonUnreadable,  // detail is the sentence saying which
  TooManyFrames,
  StripTooLarge,
  ButtonTooLarge,
  EncodeFailed,  // the animation or the button could not be encoded
  Damaged,       // the source ends inside a field or a blob
  WriteFailed,   // the package could not be written
  OutOfMemory,
  Stopped,        // the run ended before this file
  CannotRead,     // the source could not be opened or read; detail is the system's reason
  NoPackageName,  // the file name gives no usable package name; detail says why
  PackageExists,  // an existing package was kept (no-clobber)
};

struct GestureResult {
  GestureOutcome outcome = GestureOutcome::Skipped;
  GestureReason reason = GestureReason::None;
  std::string detail;   // the system's or the decoder's words, when there are any
  int systemError = 0;  // the errno behind CannotRead, when there is one
  std::string baseName;
  std::string packagePath;  // set when a package was written
  int frameCount = 0;
  // The package's contents, between building and writing.
  std::string identifier;
  std::string name;
  std::vector<uint8_t> button;     // BMP file
  std::vector<uint8_t> animation;  // GIF file
  std::vector<uint8_t> sound;      // WAVE file
};

struct PackageParts;
// Views of the contents held by a converted result.
PackageParts packagePartsOf(const GestureResult& result);

// Ends a gesture without a package: sets the outcome, reason and detail, and leaves the rest
// (base name, frame count, contents) as it is.
void endGesture(GestureResult& result, GestureOutcome outcome, GestureReason reason,
                std::string detail = {});
// A fresh result that ends so.
GestureResult endedGesture(GestureOutcome outcome, GestureReason reason, std::string detail = {});

// A sentence for the reason, as the command line shows it.
std::string describeReason(const GestureResult& result);

// The file name of a path without its folder and without its final extension (".skm" in any
// letter case, or any other): "a/wave.SKM" and "a/wave" give "wave", "a/x.y.skm" gives "x.y",
// "a/.skm" gives "".
std::string baseNameOf(const std::string& path);

// Why a base name cannot name a package: empty when it can. An empty name has nothing before
// its extension; a name starting with a dot would make a hidden package.
std::string packageNameProblem(const std::string& baseName);

// The 14-byte application-extension header whose first byte the converter overwrites so the
// GIF decoder steps over that block.
extern const uint8_t StripMarker[14];

// Replaces the introducer of the first StripMarker in the strip with FF; returns whether one
// was found.
bool neutraliseStripMarker(uint8_t* data, uint32_t size);

// Builds the package contents of a gesture already read into `gesture`, which is left as it is
// (a gesture without a sound gets the built-in one in its package). Every outcome is in the
// result; only running out of memory raises (std::bad_alloc). A converting thread passes its
// own `gif` tables to reuse them from one gesture to the next; without them each picture makes
// its own.
GestureResult buildPackage(const SourceGesture& gesture, GifWorkspace* gif = nullptr);

// Converts a source held in memory: the one conversion every front end goes through (the job,
// the web module, the fuzzers). `label` is the source's path, or its file name where there is
// no path; it gives the result its base name. Every outcome, running out of memory included, is
// in the result. A converting thread passes its own `gif` tables, as to buildPackage.
GestureResult convertBytes(SourceGesture& gesture, std::span<const uint8_t> bytes,
                           const std::string& label, GifWorkspace* gif = nullptr);

// Reads the source at `path` whole into memory and converts it with convertBytes (no file is
// written). A file that cannot be read is skipped with the system's reason.
GestureResult convertSource(SourceGesture& gesture, const std::string& path,
                            GifWorkspace* gif = nullptr);

// Writes the package of a converted result to folder + baseName + ".trn" atomically, then
// releases its contents; a failure turns the result into a failed one. With KeepExisting an
// existing package is left as it is and the result becomes a skipped one (PackageExists).
void writeResultPackage(GestureResult& result, const std::string& outputFolder,
                        Placement placement = Placement::Replace);

}  // namespace skm
