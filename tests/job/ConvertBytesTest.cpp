// The in-memory conversion every front end shares, against the path-reading one the command
// line uses: same outcome, words and package bytes for real and damaged sources.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "convert/DefaultSound.h"
#include "convert/GestureConverter.h"
#include "convert/Package.h"
#include "convert/SourceGesture.h"
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

TEST(BuildPackage, LeavesTheGestureAsItWasRead) {
  // A strip with the marker block right after its screen and table, in a source without and
  // one with its own sound.
  Bytes strip = makeGif(12, 3);
  Bytes block(StripMarker, StripMarker + 14);
  block.insert(block.end(), {0x02, 0x10, 0x11, 0x00});
  strip.insert(strip.begin() + 13 + 3 * 256, block.begin(), block.end());
  GestureDraft silent, sounding;
  silent.strip = sounding.strip = strip;
  sounding.flags = FlagSound;
  sounding.sound = {'R', 'I', 'F', 'F', 1, 2};
  const Bytes builtIn(defaultSoundData(), defaultSoundData() + defaultSoundSize());
  for (const auto& [draft, packaged] : {std::pair{silent, builtIn}, {sounding, sounding.sound}}) {
    SourceGesture gesture;
    const Bytes source = makeSkm(draft);
    ASSERT_EQ(gesture.readFromMemory(source.data(), source.size()), 1);
    const GestureResult result = buildPackage(gesture);
    ASSERT_EQ(result.outcome, GestureOutcome::Converted);
    EXPECT_EQ(result.sound, packaged);
    EXPECT_EQ(Bytes(gesture.sound.data, gesture.sound.data + gesture.sound.size), draft.sound);
    EXPECT_EQ(Bytes(gesture.strip.data, gesture.strip.data + gesture.strip.size), strip);
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
