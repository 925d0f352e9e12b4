#include "convert/GestureConverter.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <span>

#include "codecs/GifCodec.h"
#include "codecs/ImageFile.h"
#include "convert/DefaultSound.h"
#include "convert/FileIo.h"
#include "convert/Md5.h"
#include "convert/Package.h"
#include "image/ByteStream.h"
#include "image/Image.h"

namespace skm {

const uint8_t StripMarker[14] = {0x21, 0xFF, 0x0B, 'Q', 'U', 'I', 'M',
                                 'B',  '_',  'I',  'D', '1', '.', '0'};

namespace {

struct FreeDeleter {
  void operator()(uint8_t* p) const { std::free(p); }
};
using MallocBuffer = std::unique_ptr<uint8_t, FreeDeleter>;

GestureResult skipped(GestureReason reason, std::string detail = {}) {
  return endedGesture(GestureOutcome::Skipped, reason, std::move(detail));
}

GestureResult failed(GestureReason reason, std::string detail = {}) {
  return endedGesture(GestureOutcome::Failed, reason, std::move(detail));
}

// A picture that did not load: a damaged picture is a silent skip, running out of memory is a
// failure of this gesture. The decoder's message becomes a sentence that names the picture.
GestureResult pictureRefused(const Image& picture, bool isStrip) {
  const ImageError kind = picture.lastErrorKind();
  const char* why = picture.lastError();
  if (kind == ImageError::OutOfMemory) return failed(GestureReason::OutOfMemory);
  const std::string name = isStrip ? "strip" : "button";
  if (kind == ImageError::TooLarge) {
    // The decoder's text is "<message>: W x H pixels"; the size is the detail.
    const std::size_t large = std::strlen(GifTooLargeMessage);
    const char* size = std::strncmp(why, GifTooLargeMessage, large) == 0 ? why + large : why;
    if (*size == ':') ++size;
    while (*size == ' ') ++size;
    return skipped(isStrip ? GestureReason::StripTooLarge : GestureReason::ButtonTooLarge, size);
  }
  static const struct {
    ImageError kind;
    const char* sentence;  // after "the strip picture" or "the button picture"
  } causes[] = {
      {ImageError::NoImage, " holds no image"},
      {ImageError::NoSuchFrame, " holds no image"},
      {ImageError::Damaged, " is damaged before its image"},
      {ImageError::Undecodable, "'s image data cannot be decoded"},
      {ImageError::NoPixels, " has no pixels"},
  };
  for (const auto& cause : causes) {
    if (kind == cause.kind) {
      return skipped(isStrip ? GestureReason::StripUnreadable : GestureReason::ButtonUnreadable,
                     "the " + name + " picture" + cause.sentence);
    }
  }
  // Not a GIF; a message of another kind is passed on as it is.
  const bool plain = why[0] == '\0' || kind == ImageError::NotThisFormat;
  return skipped(isStrip ? GestureReason::StripNotGif : GestureReason::ButtonNotGif,
                 plain ? std::string() : std::string(why));
}

// Runs an encoder into a memory stream and returns the bytes; empty on failure, with the
// encoder's message (or `fallback`) in `why`.
template <typename Encode>
std::vector<uint8_t> encodeToMemory(Encode&& encode, const Image& encoder, const char* fallback,
                                    std::string& why) {
  ByteStream stream;
  if (!stream.createMemory()) throw std::bad_alloc();
  const bool ok = encode(stream) && stream.error() == 0;
  const int32_t size = stream.size;
  MallocBuffer bytes(stream.takeBuffer());
  if (!ok) {
    why = encoder.lastError()[0] != '\0' ? encoder.lastError() : fallback;
    return {};
  }
  return std::vector<uint8_t>(bytes.get(), bytes.get() + size);
}

std::vector<uint8_t> encodeFrames(Image** frames, int count, bool loop, GifWorkspace* gif,
                                  std::string& why) {
  GifCodec codec(gif);
  codec.setLoopCount(loop ? 0 : 1);
  codec.setDisposalMethod(GestureDisposalMethod);
  return encodeToMemory(
      [&](ByteStream& stream) { return codec.encodeAnimation(&stream, frames, count); }, codec,
      "the animation could not be encoded", why);
}

std::vector<uint8_t> encodeButton(Image& button, std::string& why) {
  return encodeToMemory([&](ByteStream& stream) { return saveToStream(button, stream, FormatBmp); },
                        button, "the button could not be encoded", why);
}

constexpr std::size_t NoMarker = std::size_t(-1);

// Where the first StripMarker in the strip starts; NoMarker when there is none.
std::size_t stripMarkerAt(const uint8_t* data, uint32_t size) {
  if (data == nullptr || size < sizeof StripMarker) return NoMarker;
  // Jump between introducer bytes: comparing the whole marker at every offset made this scan a
  // twentieth of a conversion in the WebAssembly build, whose memcmp is a plain byte loop.
  const uint8_t* const last = data + (size - sizeof StripMarker);
  for (const uint8_t* at = data; at <= last; ++at) {
    at = static_cast<const uint8_t*>(std::memchr(at, StripMarker[0], std::size_t(last - at) + 1));
    if (at == nullptr) return NoMarker;
    if (std::memcmp(at + 1, StripMarker + 1, sizeof StripMarker - 1) == 0) {
      return std::size_t(at - data);
    }
  }
  return NoMarker;
}

}  // namespace

void endGesture(GestureResult& result, GestureOutcome outcome, GestureReason reason,
                std::string detail) {
  result.outcome = outcome;
  result.reason = reason;
  result.detail = std::move(detail);
}

GestureResult endedGesture(GestureOutcome outcome, GestureReason reason, std::string detail) {
  GestureResult result;
  endGesture(result, outcome, reason, std::move(detail));
  return result;
}

std::string describeReason(const GestureResult& result) {
  auto with = [&](std::string text) {
    if (!result.detail.empty()) text += ": " + result.detail;
    return text;
  };
  switch (result.reason) {
    case GestureReason::None:
      return {};
    case GestureReason::NotGesture:
      return with("not a gesture file");
    case GestureReason::EmptySound:
      return "empty sound";
    case GestureReason::StripNotGif:
      return with("strip is not a GIF picture");
    case GestureReason::ButtonNotGif:
      return with("button is not a GIF picture");
    case GestureReason::StripUnreadable:
    case GestureReason::ButtonUnreadable:
      return result.detail;
    case GestureReason::TooManyFrames:
      return "too many frames (" + std::to_string(result.frameCount) + ", at most " +
             std::to_string(MaxFrames) + ")";
    case GestureReason::StripTooLarge:
      return with("strip picture too large");
    case GestureReason::ButtonTooLarge:
      return with("button picture too large");
    case GestureReason::EncodeFailed:
      return with("could not encode the pictures");
    case GestureReason::Damaged:
      return with("damaged file");
    case GestureReason::WriteFailed:
      // The detail names the package and gives the system's reason.
      return result.detail.empty() ? "could not write the package" : result.detail;
    case GestureReason::OutOfMemory:
      return "out of memory";
    case GestureReason::Stopped:
      return "not converted: the run was stopped";
    case GestureReason::CannotRead:
      return with("cannot read");
    case GestureReason::NoPackageName:
      return with("no package name");
    case GestureReason::PackageExists:
      return "package exists";
  }
  return {};
}

std::string baseNameOf(const std::string& path) {
#ifdef _WIN32
  std::size_t cut = path.find_last_of("\\/");
#else
  std::size_t cut = path.find_last_of('/');
#endif
  std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  std::size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  return name;
}

std::string packageNameProblem(const std::string& baseName) {
  if (baseName.empty()) return "nothing before the extension";
  if (baseName[0] == '.') return "the package would be a hidden file";
  return {};
}

bool neutraliseStripMarker(uint8_t* data, uint32_t size) {
  const std::size_t at = stripMarkerAt(data, size);
  if (at == NoMarker) return false;
  data[at] = 0xFF;
  return true;
}

namespace {

// The pictures of a gesture, decoded.
struct Pictures {
  Image strip{FormatBmp};
  Image button{FormatBmp};
};

// The frames cut from a strip, in order; frames[j] points into slots[j].
struct Frames {
  std::array<std::unique_ptr<Image>, MaxFrames> slots;
  std::array<Image*, MaxFrames> frames{};
  int count = 0;
};

// The encoded files of a package.
struct Encoded {
  std::vector<uint8_t> animation;  // GIF
  std::vector<uint8_t> button;     // BMP
};

// A step's end of the gesture; empty when the step succeeded.
using Refusal = std::optional<GestureResult>;

// The sound the package carries: the source's own, or the built-in one when it has none.
std::span<const uint8_t> soundOf(const SourceGesture& gesture) {
  if ((gesture.flags & FlagSound) == 0) return {defaultSoundData(), defaultSoundSize()};
  return {gesture.sound.data, gesture.sound.size};
}

// Decodes the strip with its marker block neutralised. The source's bytes stay as they were
// read: a strip with a marker is decoded from a patched copy.
bool loadStrip(Image& strip, const Blob& bytes, GifWorkspace* gif) {
  const std::size_t at = stripMarkerAt(bytes.data, bytes.size);
  if (at == NoMarker) return loadFromMemory(strip, bytes.data, int32_t(bytes.size), FormatGif, gif);
  std::vector<uint8_t> patched(bytes.data, bytes.data + bytes.size);
  patched[at] = 0xFF;
  return loadFromMemory(strip, patched.data(), int32_t(patched.size()), FormatGif, gif);
}

Refusal loadPictures(const SourceGesture& gesture, GifWorkspace* gif, Pictures& pictures) {
  // Blobs are bounded by the source file; the loader takes an int count.
  if (gesture.strip.size > INT32_MAX || gesture.button.size > INT32_MAX) {
    return failed(GestureReason::Damaged, "embedded picture too large");
  }
  if (!loadStrip(pictures.strip, gesture.strip, gif)) return pictureRefused(pictures.strip, true);
  if (!loadFromMemory(pictures.button, gesture.button.data, int32_t(gesture.button.size), FormatGif,
                      gif)) {
    return pictureRefused(pictures.button, false);
  }
  const Image& strip = pictures.strip;
  if (int64_t(strip.width()) * strip.height() > MaxStripPixels) {
    return skipped(GestureReason::StripTooLarge,
                   std::to_string(strip.width()) + " x " + std::to_string(strip.height()) +
                       " pixels, at most " + std::to_string(MaxStripPixels));
  }
  return {};
}

Refusal cutFrames(Image& strip, int32_t frameWidth, Frames& out) {
  int frameCount = strip.width() / frameWidth;
  if (frameCount == 0) frameCount = 1;
  if (frameCount > MaxFrames) {
    GestureResult result = skipped(GestureReason::TooManyFrames);
    result.frameCount = frameCount;
    return result;
  }
  for (int j = 0; j < frameCount; ++j) {
    out.slots[j] = std::make_unique<Image>(FormatGif);
    Image* frame = out.frames[j] = out.slots[j].get();
    // A strip without pixels cuts into nothing; encoding a frame without a block would write
    // garbage, so such a gesture fails instead.
    if (!strip.crop(j * frameWidth, 0, (j + 1) * frameWidth, strip.height(), frame)) {
      return failed(GestureReason::EncodeFailed, "the strip picture has no pixels");
    }
    frame->info.frameDelay = GestureFrameDelay;
    frame->reduceBitDepth(8, false, nullptr);
  }
  out.count = frameCount;
  return {};
}

// Takes the frames, so they are gone before the button is worked on.
Refusal encodePictures(Frames frames, Image& button, bool loop, GifWorkspace* gif, Encoded& out) {
  std::string why;
  out.animation = encodeFrames(frames.frames.data(), frames.count, loop, gif, why);
  frames = {};
  if (out.animation.empty()) return failed(GestureReason::EncodeFailed, why);
  // Packaging a button of the wrong size would be a corrupted result.
  if (!button.resample(ButtonSize, ButtonSize, 1)) {
    return failed(GestureReason::EncodeFailed, "the button could not be resampled");
  }
  out.button = encodeButton(button, why);
  if (out.button.empty()) return failed(GestureReason::EncodeFailed, why);
  return {};
}

GestureResult assemble(const std::string& name, int frameCount, Encoded&& encoded,
                       std::span<const uint8_t> sound) {
  GestureResult result;
  result.outcome = GestureOutcome::Converted;
  result.frameCount = frameCount;
  result.identifier = makeGestureId(name.c_str());
  result.name = name;
  result.button = std::move(encoded.button);
  result.animation = std::move(encoded.animation);
  result.sound.assign(sound.begin(), sound.end());
  return result;
}

}  // namespace

GestureResult buildPackage(const SourceGesture& gesture, GifWorkspace* gif) {
  if (gesture.frameWidth < 1) {
    return skipped(GestureReason::NotGesture, "frame width " + std::to_string(gesture.frameWidth));
  }
  const std::span<const uint8_t> sound = soundOf(gesture);
  if (sound.empty()) return skipped(GestureReason::EmptySound);
  Pictures pictures;
  if (Refusal refused = loadPictures(gesture, gif, pictures)) return std::move(*refused);
  Frames frames;
  if (Refusal refused = cutFrames(pictures.strip, gesture.frameWidth, frames)) {
    return std::move(*refused);
  }
  const int frameCount = frames.count;
  Encoded encoded;
  if (Refusal refused = encodePictures(std::move(frames), pictures.button,
                                       (gesture.flags & FlagLoop) != 0, gif, encoded)) {
    return std::move(*refused);
  }
  return assemble(gesture.getName(), frameCount, std::move(encoded), sound);
}

GestureResult convertBytes(SourceGesture& gesture, std::span<const uint8_t> bytes,
                           const std::string& label, GifWorkspace* gif) {
  GestureResult result;
  const std::string baseName = baseNameOf(label);
  const std::string problem = packageNameProblem(baseName);
  try {
    gesture.reset();
    if (!problem.empty()) {
      result = skipped(GestureReason::NoPackageName, problem);
    } else if (gesture.readFromMemory(bytes.data(), bytes.size()) == 0) {
      result = skipped(GestureReason::NotGesture);
    } else {
      result = buildPackage(gesture, gif);
    }
  } catch (const std::bad_alloc&) {
    result = failed(GestureReason::OutOfMemory);
  } catch (const std::exception& error) {  // FileError: the source is damaged
    result = failed(GestureReason::Damaged, error.what());
  }
  result.baseName = baseName;
  return result;
}

GestureResult convertSource(SourceGesture& gesture, const std::string& path, GifWorkspace* gif) {
  const std::string baseName = baseNameOf(path);
  auto refused = [&](GestureResult result) {
    result.baseName = baseName;
    return result;
  };
  // A name that cannot become a package is refused before its file is read.
  if (std::string problem = packageNameProblem(baseName); !problem.empty()) {
    return refused(skipped(GestureReason::NoPackageName, problem));
  }
  if (path.empty()) return refused(skipped(GestureReason::NotGesture));
  // Sources come one after another on each worker thread, so each keeps its read buffer;
  // one of an unusually large source is let go afterwards.
  constexpr std::size_t KeptReadBuffer = std::size_t{4} << 20;
  thread_local std::vector<uint8_t> bytes;
  struct Trim {
    ~Trim() {
      if (bytes.capacity() > KeptReadBuffer) bytes = {};
    }
  } trim;
  int err = 0;
  try {
    // Read whole, without seeking, so pipes and FIFOs work as sources.
    err = readWholeFile(path, bytes);
  } catch (const std::bad_alloc&) {
    err = ENOMEM;
  }
  if (err == ENOMEM) return refused(failed(GestureReason::OutOfMemory));
  if (err != 0) {
    GestureResult result =
        skipped(GestureReason::CannotRead, err == EISDIR ? "is a folder" : systemMessage(err));
    result.systemError = err;
    return refused(std::move(result));
  }
  GestureResult result = convertBytes(gesture, bytes, path, gif);
  gesture.path = path;
  return result;
}

void writeResultPackage(GestureResult& result, const std::string& outputFolder,
                        Placement placement) {
  if (result.outcome != GestureOutcome::Converted) return;
  auto fail = [&](GestureReason reason, const char* detail) {
    result.packagePath.clear();
    endGesture(result, GestureOutcome::Failed, reason, detail);
  };
  try {
    // The path is in place before the package is, so success cannot fail afterwards.
    result.packagePath = outputFolder + result.baseName + ".trn";
    if (!writePackage(result.packagePath, packagePartsOf(result), placement)) {
      result.packagePath.clear();
      endGesture(result, GestureOutcome::Skipped, GestureReason::PackageExists);
    }
  } catch (const std::bad_alloc&) {
    fail(GestureReason::OutOfMemory, "");
  } catch (const std::exception& error) {  // FileError with the system's reason
    fail(GestureReason::WriteFailed, error.what());
  }
  result.button = {};
  result.animation = {};
  result.sound = {};
}

PackageParts packagePartsOf(const GestureResult& result) {
  PackageParts parts;
  parts.identifier = result.identifier;
  parts.button = result.button;
  parts.animation = result.animation;
  parts.sound = result.sound;
  parts.name = result.name;
  return parts;
}

}  // namespace skm
