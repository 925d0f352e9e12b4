// `inspect` and `extract`: what a .skm or .trn file holds, told without other tools.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "cli/Commands.h"
#include "cli/Interrupts.h"
#include "cli/Output.h"
#include "cli/Quote.h"
#include "codecs/GifCodec.h"
#include "codecs/ImageFile.h"
#include "convert/FileError.h"
#include "convert/FileIo.h"
#include "convert/FilePath.h"
#include "convert/GestureConverter.h"
#include "convert/Md5.h"
#include "convert/Package.h"
#include "convert/SourceGesture.h"
#include "image/ByteStream.h"
#include "image/Image.h"

namespace skm::cli {

namespace {

using Bytes = std::vector<uint8_t>;
using View = std::span<const uint8_t>;

// Reads a file to inspect or extract; a folder, a missing or an unreadable file is that file's
// error, in the system's words.
bool readWhole(const std::string& path, Bytes& out, std::string& error) {
  int err = readWholeFile(path, out);
  if (err == 0) return true;
  error = err == EISDIR ? "is a folder" : systemMessage(err);
  return false;
}

uint32_t little(View b, std::size_t at, int bytes) {
  uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | b[at + std::size_t(i)];
  return value;
}

std::string plural(long n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

std::string pictureKind(View b) {
  if (b.size() >= 4 && std::memcmp(b.data(), "GIF8", 4) == 0) return "GIF";
  if (b.size() >= 2 && b[0] == 'B' && b[1] == 'M') return "BMP";
  if (b.empty()) return "empty";
  return "unknown data";
}

// "GIF, 1234 bytes, 32 x 32 pixels, 8 bits, 3 frames, loop count 0 (endless), delay 20"
std::string describePicture(View b, bool animation) {
  std::string text = pictureKind(b) + ", " + plural(long(b.size()), "byte");
  if (b.size() > INT32_MAX) return text;
  if (pictureKind(b) == "GIF") {
    GifCodec codec;
    ByteStream stream;
    stream.attachMemory(const_cast<uint8_t*>(b.data()), int32_t(b.size()));
    if (!codec.decode(&stream)) {
      return text + ", does not decode" +
             (codec.lastError()[0] != '\0' ? std::string(": ") + codec.lastError() : std::string());
    }
    text += ", " + std::to_string(codec.width()) + " x " + std::to_string(codec.height()) +
            " pixels, " + plural(codec.bitCount(), "bit");
    if (animation) {
      text += ", " + plural(codec.info.frameCount, "frame") + ", loop count " +
              std::to_string(codec.loopCount()) + (codec.loopCount() == 0 ? " (endless)" : "") +
              ", delay " + std::to_string(codec.info.frameDelay) + ", disposal " +
              std::to_string(codec.disposalMethod());
    }
    return text;
  }
  if (pictureKind(b) == "BMP") {
    Image image;
    if (!loadFromMemory(image, b.data(), int32_t(b.size()), FormatBmp)) {
      return text + ", does not decode: " + image.lastError();
    }
    text += ", " + std::to_string(image.width()) + " x " + std::to_string(image.height()) +
            " pixels, " + plural(image.bitCount(), "bit");
  }
  return text;
}

std::string waveFormatName(uint32_t tag) {
  switch (tag) {
    case 0x0001:
      return "PCM";
    case 0x0002:
      return "Microsoft ADPCM";
    case 0x0006:
      return "A-law";
    case 0x0007:
      return "mu-law";
    case 0x0011:
      return "IMA ADPCM";
    case 0x0055:
      return "MPEG Layer III";
    default:
      return "format tag " + std::to_string(tag);
  }
}

std::string describeSound(View b) {
  std::string text = plural(long(b.size()), "byte");
  if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 ||
      std::memcmp(b.data() + 8, "WAVE", 4) != 0) {
    return "not a WAVE file, " + text;
  }
  for (std::size_t at = 12; at + 8 <= b.size();) {
    uint32_t size = little(b, at + 4, 4);
    if (std::memcmp(b.data() + at, "fmt ", 4) == 0 && size >= 16 && at + 8 + 16 <= b.size()) {
      uint32_t channels = little(b, at + 10, 2);
      return "WAVE, " + text + ", " + waveFormatName(little(b, at + 8, 2)) + ", " +
             std::to_string(little(b, at + 12, 4)) + " Hz, " +
             (channels == 1 ? std::string("mono") : plural(long(channels), "channel"));
    }
    if (size > b.size() - at - 8) break;
    at += 8 + size + (size & 1);
  }
  return "WAVE without a format chunk, " + text;
}

std::string flagNames(uint32_t flags) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08x", flags);
  std::string names;
  if (flags & FlagSound) names += "sound";
  if (flags & FlagLoop) names += names.empty() ? "loop" : ", loop";
  return std::string(hex) + (names.empty() ? "" : " (" + names + ")");
}

void line(const char* label, const std::string& value) {
  printOut("  %-12s %s\n", label, shownText(stdout, value).c_str());
}

bool showSource(const std::string& path, const Bytes& bytes) {
  SourceGesture gesture;
  try {
    if (gesture.readFromMemory(bytes.data(), bytes.size()) == 0) {
      printOut("%s: not a gesture file\n", shownName(stdout, path).c_str());
      return false;
    }
  } catch (const FileError& error) {
    printOut("%s: source gesture, damaged: %s\n", shownName(stdout, path).c_str(), error.what());
    return false;
  }
  printOut("%s: source gesture\n", shownName(stdout, path).c_str());
  line("name:", "\"" + gesture.name + "\"");
  line("identifier:", makeGestureId(gesture.name.c_str()));
  line("version:", gesture.version);
  line("flags:", flagNames(gesture.flags));
  line("frame width:", std::to_string(gesture.frameWidth));
  line("button:", describePicture({gesture.button.data, gesture.button.size}, false));
  line("strip:", describePicture({gesture.strip.data, gesture.strip.size}, false));
  line("loop:", gesture.flags & FlagLoop ? "endless (loop count 0)" : "once (loop count 1)");
  line("sound:", gesture.flags & FlagSound ? describeSound({gesture.sound.data, gesture.sound.size})
                                           : "none (the built-in sound is used)");
  GestureResult result;
  try {
    result = buildPackage(gesture);
  } catch (const std::bad_alloc&) {
    endGesture(result, GestureOutcome::Failed, GestureReason::OutOfMemory);
  }
  if (result.outcome == GestureOutcome::Converted) {
    line("converts:", "yes, " + plural(result.frameCount, "frame"));
    return true;
  }
  line("converts:", "no, " + describeReason(result));
  return false;
}

bool showPackage(const std::string& path, const Bytes& bytes) {
  PackageView package;
  try {
    package = parsePackage(bytes);
  } catch (const FileError& error) {
    // The message says "damaged package: ..." itself.
    printOut("%s: %s\n", shownName(stdout, path).c_str(), error.what());
    return false;
  }
  printOut("%s: gesture package\n", shownName(stdout, path).c_str());
  line("name:", "\"" + package.name + "\"");
  bool matches = package.identifier == makeGestureId(package.name);
  line("identifier:",
       package.identifier + (matches ? " (matches the name)" : " (does NOT match the name)"));
  line("button:", describePicture(package.button, false));
  line("animation:", describePicture(package.animation, true));
  line("sound:", describeSound(package.sound));
  if (package.trailingBytes != 0) {
    line("trailing:", plural(long(package.trailingBytes), "byte") + " after the name");
  }
  return matches && package.trailingBytes == 0;
}

bool writeWhole(const std::string& folder, const char* name, View bytes) {
  const std::string path = folder + name;
  int err = writeFileAtomically(folder, path, bytes.data(), bytes.size(), Placement::Replace);
  if (err != 0) {
    std::fprintf(stderr, "skm2trn: cannot write %s: %s\n", shownQuoted(stderr, path).c_str(),
                 systemMessage(err).c_str());
    return false;
  }
  printOut("%s\n", shownName(stdout, path).c_str());
  return true;
}

}  // namespace

int runShowContents(const std::vector<std::string>& files) {
  bool allGood = true;
  for (const std::string& path : files) {
    Bytes bytes;
    std::string error;
    if (!readWhole(path, bytes, error)) {
      std::fflush(stdout);
      std::fprintf(stderr, "skm2trn: cannot read %s: %s\n", shownQuoted(stderr, path).c_str(),
                   error.c_str());
      allGood = false;
      continue;
    }
    if (bytes.size() >= 4 && std::memcmp(bytes.data(), "SKMG", 4) == 0) {
      allGood = showSource(path, bytes) && allGood;
    } else if (!bytes.empty() && bytes[0] == 0x20) {
      allGood = showPackage(path, bytes) && allGood;
    } else {
      printOut("%s: neither a source gesture nor a gesture package\n",
               shownName(stdout, path).c_str());
      allGood = false;
    }
  }
  return allGood ? ExitOk : ExitSomeNotConverted;
}

int runExtract(const std::string& packagePath, const std::string& folder) {
  Bytes bytes;
  std::string error;
  if (!readWhole(packagePath, bytes, error)) {
    std::fprintf(stderr, "skm2trn: cannot read %s: %s\n", shownQuoted(stderr, packagePath).c_str(),
                 error.c_str());
    return ExitSomeNotConverted;
  }
  // The output folder in the words convert uses for its own.
  std::error_code ec;
  const auto status = std::filesystem::status(pathFromUtf8(folder), ec);
  if (status.type() == std::filesystem::file_type::not_found && ec != std::errc::not_a_directory) {
    std::fprintf(stderr, "skm2trn: output folder %s does not exist\n",
                 shownQuoted(stderr, folder).c_str());
    return ExitUsage;
  }
  if (!std::filesystem::is_directory(status)) {
    std::fprintf(stderr, "skm2trn: output path %s is not a folder\n",
                 shownQuoted(stderr, folder).c_str());
    return ExitUsage;
  }
  // A source is the likeliest wrong file here; say what to do with it.
  if (bytes.size() >= 4 && std::memcmp(bytes.data(), "SKMG", 4) == 0) {
    std::fprintf(stderr,
                 "skm2trn: cannot extract %s: this is a source gesture (.skm); convert it first\n",
                 shownQuoted(stderr, packagePath).c_str());
    return ExitSomeNotConverted;
  }
  PackageView package;
  try {
    package = parsePackage(bytes);
  } catch (const FileError& failure) {
    // The message says "damaged package" or "not a gesture package" itself.
    std::fprintf(stderr, "skm2trn: cannot extract %s: %s\n",
                 shownQuoted(stderr, packagePath).c_str(), failure.what());
    return ExitSomeNotConverted;
  }
  std::string dir = folder;
  if (dir.back() != '/' && dir.back() != std::filesystem::path::preferred_separator) {
    dir += char(std::filesystem::path::preferred_separator);
  }
  View name(reinterpret_cast<const uint8_t*>(package.name.data()), package.name.size());
  // An interrupt stops between two files; the one being written is whole or absent.
  catchInterrupts();
  const std::pair<const char*, View> parts[] = {{"button.bmp", package.button},
                                                {"animation.gif", package.animation},
                                                {"sound.wav", package.sound},
                                                {"name.txt", name}};
  for (const auto& [fileName, part] : parts) {
    if (interruptSignal() != 0) break;
    if (!writeWhole(dir, fileName, part)) return ExitSomeNotConverted;
  }
  if (int signal = interruptSignal()) {
    std::fflush(stdout);
    std::fprintf(stderr, "skm2trn: interrupted by %s\n", interruptName(signal));
    return 128 + signal;
  }
  return ExitOk;
}

}  // namespace skm::cli
