// The in-memory conversion every front end shares, against the path-reading one the command
// line uses: same outcome, words and package bytes for real and damaged sources.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "convert/GestureConverter.h"
#include "convert/Package.h"
#include "convert/SourceGesture.h"
#include "tests/codecs/gif_test_support.h"
#include "tests/job/GestureFiles.h"

namespace skm::test {
namespace {

std::vector<std::string> sourcesIn(const std::string& folder) {
  std::vector<std::string> paths;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    paths.push_back(entry.path().string());
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

Bytes packageOf(const GestureResult& result) {
  if (result.outcome != GestureOutcome::Converted) return {};
  return buildPackageBytes(packagePartsOf(result));
}

TEST(ConvertBytes, MatchesThePathReadingConversionForSamplesAndBadInputs) {
  std::vector<std::string> paths = sourcesIn(std::string(SKM_SOURCE_DIR) + "/samples");
  std::vector<std::string> bad = sourcesIn(std::string(SKM_SOURCE_DIR) + "/tests/bad-inputs");
  paths.insert(paths.end(), bad.begin(), bad.end());
  ASSERT_GT(paths.size(), 30u);
  int converted = 0, damaged = 0;
  SourceGesture fromFile, fromMemory;
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    GestureResult viaPath = convertSource(fromFile, path);
    GestureResult viaBytes = convertBytes(fromMemory, readFile(path), path);
    EXPECT_EQ(viaBytes.outcome, viaPath.outcome);
    EXPECT_EQ(viaBytes.reason, viaPath.reason);
    EXPECT_EQ(describeReason(viaBytes), describeReason(viaPath));
    EXPECT_EQ(viaBytes.baseName, viaPath.baseName);
    EXPECT_EQ(viaBytes.frameCount, viaPath.frameCount);
    EXPECT_EQ(packageOf(viaBytes), packageOf(viaPath));
    converted += viaBytes.outcome == GestureOutcome::Converted;
    damaged += viaBytes.reason == GestureReason::Damaged;
  }
  // Both kinds are really exercised.
  EXPECT_GE(converted, 10);
  EXPECT_GE(damaged, 10);
}

TEST(ConvertBytes, TheLabelNamesTheSourceAndThePackage) {
  Bytes source = makeSkm(GestureDraft{});
  SourceGesture gesture;
  GestureResult result = convertBytes(gesture, source, "folder/sub/Wave.SKM");
  ASSERT_EQ(result.outcome, GestureOutcome::Converted);
  EXPECT_EQ(result.baseName, "Wave");
  EXPECT_EQ(result.frameCount, 3);

  Bytes cut(source.begin(), source.end() - 5);
  result = convertBytes(gesture, cut, "dropped/cut.skm");
  EXPECT_EQ(result.outcome, GestureOutcome::Failed);
  EXPECT_EQ(result.reason, GestureReason::Damaged);
  EXPECT_EQ(describeReason(result),
            "damaged file: the strip picture runs past the end of the file");
  EXPECT_EQ(result.baseName, "cut");

  // A label that names no package is refused before anything is parsed.
  result = convertBytes(gesture, source, "dropped/.skm");
  EXPECT_EQ(result.reason, GestureReason::NoPackageName);
}

TEST(ConvertBytes, NothingOrStrayBytesAreNotAGesture) {
  SourceGesture gesture;
  for (const Bytes& bytes : {Bytes{}, Bytes{'S', 'K', 'M'}, Bytes{'G', 'I', 'F', '8', '9', 'a'}}) {
    GestureResult result = convertBytes(gesture, bytes, "x.skm");
    EXPECT_EQ(result.outcome, GestureOutcome::Skipped);
    EXPECT_EQ(describeReason(result), "not a gesture file");
  }
}

// Pictures as editors write them and pictures that give no pixel, each as the strip and as the
// button: metadata changes nothing in the package; a blank picture is never converted.
TEST(ConvertBytes, PicturesWithMetadataConvertAndBlankOnesAreRefused) {
  using gif_test::CodeWriter;
  using gif_test::literalLzw;
  struct Picture {
    const char* what;
    Bytes before, after;  // blocks around the image
    int width, height;    // -1: the picture's own size
    uint32_t minimumSize;
    Bytes lzw;            // empty: the picture's pixels
    const char* refusal;  // after "the strip picture" / "the button picture"; null: converts
  };
  auto codes = [](std::initializer_list<uint32_t> list) {
    CodeWriter writer;
    for (uint32_t c : list) writer.put(c, 3);
    return writer.finish();
  };
  // A loop block and a graphic control block are in every picture; the cases add to them.
  const Bytes profile = gif_test::applicationBlock("ICCRGBG1012", {Bytes(255, 0x2C), {0x3B}});
  Bytes metadata = gif_test::xmpBlock();
  metadata.insert(metadata.end(), profile.begin(), profile.end());
  const Bytes unknown = gif_test::applicationBlock("SOMEAPP", {{0x21, 0x3B}});
  const Bytes empty = gif_test::applicationBlock("EMPTYAPP1.0", {});
  const char* const undecodable = "'s image data cannot be decoded";
  const char* const noPixels = " has no pixels";
  const Picture pictures[] = {
      {"plain", {}, {}, -1, -1, 2, {}, nullptr},
      {"XMP and profile before", metadata, {}, -1, -1, 2, {}, nullptr},
      {"XMP and profile after", {}, metadata, -1, -1, 2, {}, nullptr},
      {"unknown and empty before", unknown, empty, -1, -1, 2, {}, nullptr},
      {"code size 0", {}, {}, -1, -1, 0, {0x44, 0x01}, undecodable},
      {"code size 1", {}, {}, -1, -1, 1, {0x46, 0x01}, undecodable},
      {"code size 10", {}, {}, -1, -1, 10, {0x00, 0x04, 0x01}, undecodable},
      {"code size 11", {}, {}, -1, -1, 11, {0x00, 0x08, 0x01}, undecodable},
      {"code size 12", {}, {}, -1, -1, 12, {0x00, 0x10, 0x01}, undecodable},
      {"code size 255", {}, {}, -1, -1, 255, {0xFF, 0xFF}, undecodable},
      {"first code past the table", {}, {}, -1, -1, 2, codes({7, 7, 5}), undecodable},
      {"end code first", {}, {}, -1, -1, 2, codes({5}), noPixels},
      {"0 x N", {}, {}, 0, -1, 2, {}, noPixels},
      {"N x 0", {}, {}, -1, 0, 2, {}, noPixels},
      {"0 x 0", {}, {}, 0, 0, 2, {}, noPixels},
  };
  auto build = [&](const Picture& p, uint32_t width, uint32_t height) {
    std::vector<uint8_t> pixels;
    for (uint32_t i = 0; i < width * height; ++i) pixels.push_back(uint8_t(i * 7 % 4));
    gif_test::Bytes b;
    b.screen(width, height, 0x81).rampTable(4).append(p.before);
    b.append(gif_test::applicationBlock("NETSCAPE2.0", {{0x01, 0x00, 0x00}}));
    b.graphicControl(0x01, 5, 3);
    b.descriptor(0, 0, p.width < 0 ? width : uint32_t(p.width),
                 p.height < 0 ? height : uint32_t(p.height), 0);
    b.imageData(p.minimumSize, p.lzw.empty() ? literalLzw(pixels, 2) : p.lzw);
    return b.append(p.after).u8(0x3B).data;
  };
  SourceGesture gesture;
  Bytes plain[2];
  for (const Picture& p : pictures) {
    for (int asButton = 0; asButton < 2; ++asButton) {
      SCOPED_TRACE(std::string(p.what) + (asButton ? " as the button" : " as the strip"));
      GestureDraft draft;
      (asButton ? draft.button : draft.strip) = asButton ? build(p, 4, 4) : build(p, 12, 3);
      const GestureResult result = convertBytes(gesture, makeSkm(draft), "g.skm");
      if (p.refusal == nullptr) {
        ASSERT_EQ(result.outcome, GestureOutcome::Converted);
        EXPECT_EQ(result.frameCount, 3);
        const Bytes package = packageOf(result);
        if (plain[asButton].empty()) plain[asButton] = package;
        EXPECT_EQ(package, plain[asButton]);
        continue;
      }
      EXPECT_EQ(result.outcome, GestureOutcome::Skipped);
      EXPECT_EQ(result.reason,
                asButton ? GestureReason::ButtonUnreadable : GestureReason::StripUnreadable);
      EXPECT_EQ(describeReason(result),
                std::string("the ") + (asButton ? "button" : "strip") + " picture" + p.refusal);
    }
  }
  // A picture too large to hold says its size, whichever it is.
  for (int asButton = 0; asButton < 2; ++asButton) {
    GestureDraft draft;
    const Picture huge = {"huge", {}, {}, 65535, 65535, 2, {}, nullptr};
    (asButton ? draft.button : draft.strip) = build(huge, 4, 4);
    const GestureResult result = convertBytes(gesture, makeSkm(draft), "g.skm");
    EXPECT_EQ(result.outcome, GestureOutcome::Skipped);
    EXPECT_EQ(describeReason(result), std::string(asButton ? "button" : "strip") +
                                          " picture too large: 65535 x 65535 pixels");
  }
}

TEST(ConvertSource, ReadsOnlyFilesAndSaysWhyNot) {
  TempFolder folder;
  SourceGesture gesture;
  GestureResult missing = convertSource(gesture, folder.file("gone.skm"));
  EXPECT_EQ(missing.reason, GestureReason::CannotRead);
  EXPECT_NE(describeReason(missing).find("No such file or directory"), std::string::npos);
  EXPECT_EQ(missing.baseName, "gone");

  std::filesystem::create_directory(folder.file("dir.skm"));
  GestureResult directory = convertSource(gesture, folder.file("dir.skm"));
  EXPECT_EQ(directory.reason, GestureReason::CannotRead);
  EXPECT_NE(describeReason(directory).find("is a folder"), std::string::npos);

  // A stray file that only starts like a gesture is read whole and refused by the parser.
  writeFile(folder.file("stray.skm"), Bytes{'S', 'K', 'M', 'G', '0'});
  GestureResult stray = convertSource(gesture, folder.file("stray.skm"));
  EXPECT_EQ(stray.reason, GestureReason::Damaged);
  EXPECT_NE(describeReason(stray).find("the version runs past the end"), std::string::npos);
}

}  // namespace
}  // namespace skm::test
