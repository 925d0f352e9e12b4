#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "convert/ConversionJob.h"
#include "convert/DefaultSound.h"
#include "convert/GestureConverter.h"
#include "convert/JobHost.h"
#include "convert/Md5.h"
#include "tests/job/GestureFiles.h"

namespace skm::test {
namespace {

// Sets an environment variable, or removes it when value is null.
void setVariable(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value ? value : "");
#else
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
#endif
}

const char* outcomeName(GestureOutcome outcome) {
  switch (outcome) {
    case GestureOutcome::Converted:
      return "converted";
    case GestureOutcome::Skipped:
      return "skipped";
    case GestureOutcome::Failed:
      return "failed";
  }
  return "?";
}

// Records every event of a run in order.
class RecorderHost : public JobHost {
 public:
  std::vector<std::string> paths;
  std::string output;
  std::vector<std::string> events;
  std::vector<GestureResult> results;

  const std::vector<std::string>& sourcePaths() const override { return paths; }
  const std::string& outputFolder() const override { return output; }
  void runStarted(std::size_t count) override { events.push_back("run " + std::to_string(count)); }
  void fileStarted(std::size_t index) override {
    events.push_back("start " + std::to_string(index));
  }
  void fileFinished(std::size_t index, const GestureResult& result) override {
    events.push_back("finish " + std::to_string(index) + " " + outcomeName(result.outcome));
    results.push_back(result);
  }
  void runEnded(const RunSummary& summary) override {
    events.push_back(
        "end " + std::to_string(summary.files) + " files, " + std::to_string(summary.converted) +
        " converted, " + std::to_string(summary.skipped) + " skipped, " +
        std::to_string(summary.failed) + " failed" + (summary.stopped ? ", stopped" : ""));
  }
};

// The fields of a package, parsed independently of the product's own reader.
struct PackageFields {
  std::string id;
  Bytes button, animation, sound;
  std::string name;
};

uint32_t big32(const Bytes& b, std::size_t at) {
  return uint32_t(b.at(at)) << 24 | uint32_t(b.at(at + 1)) << 16 | uint32_t(b.at(at + 2)) << 8 |
         b.at(at + 3);
}

PackageFields parse(const Bytes& b) {
  PackageFields p;
  EXPECT_EQ(b.at(0), 0x20);
  p.id.assign(b.begin() + 1, b.begin() + 33);
  std::size_t at = 33;
  for (Bytes* field : {&p.button, &p.animation, &p.sound}) {
    uint32_t n = big32(b, at);
    at += 4;
    field->assign(b.begin() + std::ptrdiff_t(at), b.begin() + std::ptrdiff_t(at + n));
    at += n;
  }
  std::size_t n = std::size_t(b.at(at)) << 8 | b.at(at + 1);
  at += 2;
  p.name.assign(b.begin() + std::ptrdiff_t(at), b.begin() + std::ptrdiff_t(at + n));
  EXPECT_EQ(at + n, b.size()) << "package has trailing bytes";
  return p;
}

struct GifBlocks {
  int loopCount = -1;
  std::vector<Bytes> controls;  // the 4 body bytes of each graphic control extension
  int images = 0;
  int width = 0, height = 0;
};

// Walks the block structure of a GIF the way any reader must.
GifBlocks walkGif(const Bytes& g) {
  GifBlocks out;
  EXPECT_EQ(std::string(g.begin(), g.begin() + 6), "GIF87a");
  out.width = g.at(6) | g.at(7) << 8;
  out.height = g.at(8) | g.at(9) << 8;
  std::size_t at = 13;
  if (g.at(10) & 0x80) at += 3u << ((g.at(10) & 7) + 1);
  auto skipSubBlocks = [&] {
    while (g.at(at) != 0) at += g.at(at) + 1u;
    ++at;
  };
  while (at < g.size()) {
    uint8_t introducer = g.at(at++);
    if (introducer == 0x3B) break;
    if (introducer == 0x21) {
      uint8_t label = g.at(at++);
      if (label == 0xF9)
        out.controls.emplace_back(g.begin() + std::ptrdiff_t(at + 1),
                                  g.begin() + std::ptrdiff_t(at + 5));
      if (label == 0xFF && std::memcmp(&g.at(at + 1), "NETSCAPE2.0", 11) == 0) {
        out.loopCount = g.at(at + 14) | g.at(at + 15) << 8;
      }
      skipSubBlocks();
    } else if (introducer == 0x2C) {
      ++out.images;
      uint8_t packed = g.at(at + 8);
      at += 9;
      if (packed & 0x80) at += 3u << ((packed & 7) + 1);
      ++at;  // minimum code size
      skipSubBlocks();
    } else {
      ADD_FAILURE() << "unexpected block " << int(introducer);
      break;
    }
  }
  return out;
}

class ConversionJobTest : public ::testing::Test {
 protected:
  TempFolder sources;
  TempFolder output;
  RecorderHost host;

  void SetUp() override { host.output = output.path(); }

  std::string addSource(const std::string& fileName, const Bytes& bytes) {
    std::string path = sources.file(fileName);
    writeFile(path, bytes);
    host.paths.push_back(path);
    return path;
  }
  bool hasPackage(const std::string& base) const {
    return std::filesystem::exists(output.file(base + ".trn"));
  }
  PackageFields package(const std::string& base) const {
    return parse(readFile(output.file(base + ".trn")));
  }
};

TEST_F(ConversionJobTest, EventsComeInSourceOrderAndTheSummaryCountsWhatWasWritten) {
  addSource("good.skm", makeSkm({}));
  addSource("bad.skm", Bytes{'n', 'o', 'p', 'e'});
  GestureDraft empty;
  empty.flags = 8;
  addSource("silent.skm", makeSkm(empty));
  Bytes cut = makeSkm({});
  cut.erase(cut.end() - 10, cut.end());
  addSource("cut.skm", cut);
  const RunSummary summary = ConversionJob(host);
  EXPECT_EQ(host.events, (std::vector<std::string>{
                             "run 4", "start 0", "finish 0 converted", "start 1",
                             "finish 1 skipped", "start 2", "finish 2 skipped", "start 3",
                             "finish 3 failed", "end 4 files, 1 converted, 2 skipped, 1 failed"}));
  EXPECT_EQ(summary.converted, 1u);
  EXPECT_FALSE(summary.stopped);
  ASSERT_EQ(host.results.size(), 4u);
  EXPECT_EQ(host.results[1].reason, GestureReason::NotGesture);
  EXPECT_EQ(host.results[2].reason, GestureReason::EmptySound);
  EXPECT_EQ(host.results[3].reason, GestureReason::Damaged);
  EXPECT_TRUE(hasPackage("good"));
  EXPECT_FALSE(hasPackage("cut"));
}

// A host that asks to stop once the first file has started.
class StoppingHost : public RecorderHost {
 public:
  bool stopRequested() const override { return events.size() > 1; }
};

TEST_F(ConversionJobTest, StopLeavesTheRestUnconvertedAndSaysSo) {
  StoppingHost stopping;
  stopping.output = output.path();
  for (const char* name : {"a.skm", "b.skm", "c.skm"}) {
    writeFile(sources.file(name), makeSkm({}));
    stopping.paths.push_back(sources.file(name));
  }
  const RunSummary summary = ConversionJob(stopping);
  EXPECT_EQ(stopping.events,
            (std::vector<std::string>{"run 3", "start 0", "finish 0 skipped", "finish 1 skipped",
                                      "finish 2 skipped",
                                      "end 3 files, 0 converted, 3 skipped, 0 failed, stopped"}));
  EXPECT_TRUE(summary.stopped);
  for (const GestureResult& r : stopping.results) EXPECT_EQ(r.reason, GestureReason::Stopped);
  EXPECT_FALSE(hasPackage("a"));
}

TEST_F(ConversionJobTest, BaseNamesDropTheExtensionWhateverItsCase) {
  addSource("Hi.SKM", makeSkm({}));
  addSource("wave.skm", makeSkm({}));
  ConversionJob(host);
  EXPECT_TRUE(hasPackage("Hi"));
  EXPECT_TRUE(hasPackage("wave"));
  EXPECT_EQ(baseNameOf("/gestures/x.y.skm"), "x.y");
  EXPECT_EQ(baseNameOf("/gestures/wave.gesture"), "wave");
  EXPECT_EQ(baseNameOf("/gestures/gesture.skmx"), "gesture");
  EXPECT_EQ(baseNameOf("abc"), "abc");
  EXPECT_EQ(baseNameOf("ext/wave"), "wave");
  EXPECT_EQ(baseNameOf("/a/.skm"), "");
  EXPECT_EQ(baseNameOf("/a/.hidden.skm"), ".hidden");
  EXPECT_EQ(packageNameProblem("wave"), "");
  EXPECT_NE(packageNameProblem(""), "");
  EXPECT_NE(packageNameProblem(".hidden"), "");
#ifdef _WIN32
  EXPECT_EQ(baseNameOf("C:\\gestures\\wave.skm"), "wave");
#else
  EXPECT_EQ(baseNameOf("/odd\\name.skm"), "odd\\name");
#endif
}

TEST_F(ConversionJobTest, PackageNameIsTheFileNameWithItsLastExtensionReplaced) {
  addSource("wave.gesture", makeSkm({}));
  addSource("plain", makeSkm({}));
  addSource(".skm", makeSkm({}));
  addSource(".hidden.skm", makeSkm({}));
  ConversionJob(host);
  EXPECT_TRUE(hasPackage("wave"));
  EXPECT_TRUE(hasPackage("plain"));
  ASSERT_EQ(host.results.size(), 4u);
  for (std::size_t i : {2u, 3u}) {
    EXPECT_EQ(host.results[i].outcome, GestureOutcome::Skipped);
    EXPECT_EQ(host.results[i].reason, GestureReason::NoPackageName);
  }
  EXPECT_EQ(describeReason(host.results[2]), "no package name: nothing before the extension");
  // Only the two packages: nothing hidden, no ".trn".
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(output.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"plain.trn", "wave.trn"}));
}

TEST_F(ConversionJobTest, KeepExistingLeavesAnEarlierPackageAlone) {
  addSource("keep.skm", makeSkm({}));
  writeFile(output.file("keep.trn"), {'o', 'l', 'd'});
  ConversionJob(host);
  ASSERT_EQ(host.results.size(), 1u);
  ASSERT_EQ(host.results[0].outcome, GestureOutcome::Converted);
  EXPECT_NE(readFile(output.file("keep.trn")), (Bytes{'o', 'l', 'd'}));

  writeFile(output.file("keep.trn"), {'o', 'l', 'd'});
  GestureResult result = convertSource(*std::make_unique<SourceGesture>(), host.paths[0]);
  ASSERT_EQ(result.outcome, GestureOutcome::Converted);
  writeResultPackage(result, output.path(), Placement::KeepExisting);
  EXPECT_EQ(result.outcome, GestureOutcome::Skipped);
  EXPECT_EQ(describeReason(result), "package exists");
  EXPECT_EQ(result.packagePath, "");
  EXPECT_EQ(readFile(output.file("keep.trn")), (Bytes{'o', 'l', 'd'}));
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(output.path())) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1u) << "a temporary file was left behind";
}

TEST_F(ConversionJobTest, PackageHoldsIdentifierNameAndDefaultSound) {
  GestureDraft draft;
  draft.name = "Hello";
  addSource("hello.skm", makeSkm(draft));
  ConversionJob(host);
  PackageFields p = package("hello");
  EXPECT_EQ(p.name, "Hello");
  EXPECT_EQ(p.id, makeGestureId("Hello"));
  EXPECT_EQ(p.id, "8b1a9953c4611296a827abf8c47804d7");
  Bytes expectedSound(defaultSoundData(), defaultSoundData() + defaultSoundSize());
  EXPECT_EQ(p.sound, expectedSound);
  // The button is a 16 x 16 BMP.
  ASSERT_GE(p.button.size(), 54u);
  EXPECT_EQ(p.button[0], 'B');
  EXPECT_EQ(p.button[18] | p.button[19] << 8, 16);
  EXPECT_EQ(p.button[22] | p.button[23] << 8, 16);
}

TEST_F(ConversionJobTest, OwnSoundIsCarriedUnchanged) {
  GestureDraft draft;
  draft.flags = 8;
  draft.sound = {'R', 'I', 'F', 'F', 1, 2, 3};
  addSource("s.skm", makeSkm(draft));
  ConversionJob(host);
  EXPECT_EQ(package("s").sound, draft.sound);
}

TEST_F(ConversionJobTest, SilentSkips) {
  GestureDraft zeroWidth;
  zeroWidth.frameWidth = 0;
  GestureDraft negativeWidth;
  negativeWidth.frameWidth = -1;
  GestureDraft emptySound;
  emptySound.flags = 8;
  GestureDraft badStrip;
  badStrip.strip = {'n', 'o', 't', ' ', 'a', ' ', 'g', 'i', 'f'};
  GestureDraft badButton;
  badButton.button = {'G', 'I', 'F'};
  addSource("zero.skm", makeSkm(zeroWidth));
  addSource("negative.skm", makeSkm(negativeWidth));
  addSource("sound.skm", makeSkm(emptySound));
  addSource("strip.skm", makeSkm(badStrip));
  addSource("button.skm", makeSkm(badButton));
  addSource("missing.skm", {});
  std::filesystem::remove(host.paths.back());
  ConversionJob(host);
  for (const char* base : {"zero", "negative", "sound", "strip", "button", "missing"}) {
    EXPECT_FALSE(hasPackage(base)) << base;
  }
  std::vector<GestureReason> reasons;
  for (const GestureResult& r : host.results) {
    EXPECT_EQ(r.outcome, GestureOutcome::Skipped);
    reasons.push_back(r.reason);
  }
  EXPECT_EQ(reasons,
            (std::vector<GestureReason>{GestureReason::NotGesture, GestureReason::NotGesture,
                                        GestureReason::EmptySound, GestureReason::StripNotGif,
                                        GestureReason::ButtonNotGif, GestureReason::CannotRead}));
  EXPECT_EQ(describeReason(host.results.back()), "cannot read: No such file or directory");
}

TEST_F(ConversionJobTest, FrameCountFollowsStripWidth) {
  struct Case {
    int stripWidth;
    int frames;  // 0: too many
    int firstWidth;
  };
  const Case cases[] = {{320, 10, 32}, {100, 3, 32}, {20, 1, 20}, {992, 0, 0}, {960, 30, 32}};
  for (const Case& c : cases) {
    GestureDraft draft;
    draft.frameWidth = 32;
    draft.strip = makeGif(c.stripWidth, 5);
    std::string base = "w" + std::to_string(c.stripWidth);
    addSource(base + ".skm", makeSkm(draft));
  }
  ConversionJob(host);
  for (const Case& c : cases) {
    std::string base = "w" + std::to_string(c.stripWidth);
    if (c.frames == 0) {
      EXPECT_FALSE(hasPackage(base));
      continue;
    }
    GifBlocks blocks = walkGif(package(base).animation);
    EXPECT_EQ(blocks.images, c.frames) << base;
    EXPECT_EQ(blocks.width, c.firstWidth) << base;
    EXPECT_EQ(blocks.height, 5);
  }
  EXPECT_EQ(host.results[3].reason, GestureReason::TooManyFrames);
  EXPECT_EQ(host.results[3].frameCount, 31);
}

// A GIF whose one frame declares width x height pixels but whose data is just a clear code, one
// pixel and an end code: a few bytes that ask for a large picture.
Bytes declaredGif(int width, int height) {
  Bytes g = {'G',
             'I',
             'F',
             '8',
             '9',
             'a',
             4,
             0,
             4,
             0,
             0x80,
             0,
             0,
             0,
             0,
             0,
             255,
             255,
             255,
             0x2C,
             0,
             0,
             0,
             0,
             uint8_t(width),
             uint8_t(width >> 8),
             uint8_t(height),
             uint8_t(height >> 8),
             0,
             2,
             2,
             0x4C,
             0x01,
             0,
             0x3B};
  return g;
}

TEST_F(ConversionJobTest, HugeStripIsRefusedBeforeTheWork) {
  GestureDraft huge;
  huge.frameWidth = 5000;
  huge.strip = declaredGif(5000, 5000);
  addSource("huge.skm", makeSkm(huge));
  GestureDraft edge;
  edge.frameWidth = 2048;
  edge.strip = declaredGif(2048, 2048);
  addSource("edge.skm", makeSkm(edge));
  ConversionJob(host);
  EXPECT_FALSE(hasPackage("huge"));
  EXPECT_EQ(host.results.at(0).reason, GestureReason::StripTooLarge);
  EXPECT_EQ(describeReason(host.results.at(0)),
            "strip picture too large: 5000 x 5000 pixels, at most 4194304");
  ASSERT_TRUE(hasPackage("edge"));
  EXPECT_EQ(walkGif(package("edge").animation).width, 2048);
}

TEST_F(ConversionJobTest, EveryFrameHasDelay20AndDisposal2AndLoopFollowsTheFlag) {
  GestureDraft looping;
  looping.flags = 1;
  addSource("loop.skm", makeSkm(looping));
  addSource("once.skm", makeSkm({}));
  ConversionJob(host);
  GifBlocks loop = walkGif(package("loop").animation);
  GifBlocks once = walkGif(package("once").animation);
  EXPECT_EQ(loop.loopCount, 0);
  EXPECT_EQ(once.loopCount, 1);
  ASSERT_EQ(loop.controls.size(), 3u);
  for (const Bytes& control : loop.controls) {
    EXPECT_EQ(control[0] >> 2 & 7, 2);
    EXPECT_EQ(control[1] | control[2] << 8, 20);
  }
}

TEST_F(ConversionJobTest, StripMarkerIsNeutralisedOnceOnly) {
  Bytes strip = makeGif(12, 3);
  Bytes marker(StripMarker, StripMarker + 14);
  // An application block right after the screen and table: 21 FF 0B id, then one data
  // sub-block and a terminator.
  std::size_t at = 13 + 3 * 256;
  Bytes block = marker;
  block.insert(block.end(), {0x02, 0x10, 0x11, 0x00});
  strip.insert(strip.begin() + std::ptrdiff_t(at), block.begin(), block.end());
  Bytes twice = strip;
  twice.insert(twice.begin() + std::ptrdiff_t(at), block.begin(), block.end());

  Bytes copy = twice;
  EXPECT_TRUE(neutraliseStripMarker(copy.data(), uint32_t(copy.size())));
  EXPECT_EQ(copy[at], 0xFF);
  EXPECT_EQ(copy[at + block.size()], 0x21) << "second marker stays";
  Bytes cut(marker.begin(), marker.end() - 1);
  EXPECT_FALSE(neutraliseStripMarker(cut.data(), uint32_t(cut.size())));
  // Near misses before the marker, which sits flush with the end.
  Bytes tail = {0x21, 0x21, 0xFF, 0x0B, 'Q', 0x00};
  tail.insert(tail.end(), marker.begin(), marker.end() - 1);
  tail.push_back(0x00);
  tail.insert(tail.end(), marker.begin(), marker.end());
  const std::size_t flush = tail.size() - marker.size();
  EXPECT_TRUE(neutraliseStripMarker(tail.data(), uint32_t(tail.size())));
  EXPECT_EQ(tail[flush], 0xFF);
  EXPECT_EQ(std::count(tail.begin(), tail.begin() + std::ptrdiff_t(flush), 0xFF), 2);
  Bytes exact = marker;
  EXPECT_TRUE(neutraliseStripMarker(exact.data(), uint32_t(exact.size())));
  EXPECT_EQ(exact[0], 0xFF);
  // Introducers that start no marker, one cut short just before a whole one, which ends the data.
  Bytes decoys = {0x21, 0x21, 0x00};
  decoys.insert(decoys.end(), marker.begin(), marker.end() - 1);
  decoys.insert(decoys.end(), marker.begin(), marker.end());
  Bytes scanned = decoys;
  EXPECT_TRUE(neutraliseStripMarker(scanned.data(), uint32_t(scanned.size())));
  const std::size_t last = decoys.size() - marker.size();
  EXPECT_EQ(scanned[last], 0xFF);
  scanned[last] = 0x21;
  EXPECT_EQ(scanned, decoys) << "only the whole marker's introducer changes";

  GestureDraft once;
  once.strip = strip;
  addSource("once.skm", makeSkm(once));
  ConversionJob(host);
  ASSERT_TRUE(hasPackage("once"));
  EXPECT_EQ(walkGif(package("once").animation).images, 3);
}

TEST_F(ConversionJobTest, UnwritableOutputFailsEveryFileAndTheRunStillEnds) {
  addSource("a.skm", makeSkm({}));
  addSource("b.skm", makeSkm({}));
  host.output = output.file("missing/");
  ConversionJob(host);
  EXPECT_EQ(host.events.back(), "end 2 files, 0 converted, 0 skipped, 2 failed");
  for (const GestureResult& r : host.results) EXPECT_EQ(r.reason, GestureReason::WriteFailed);
}

TEST_F(ConversionJobTest, NoTemporaryFilesAreLeft) {
  TempFolder temp;
  // The temporary folder comes from TMPDIR on POSIX and from TMP on Windows.
#ifdef _WIN32
  const char* variable = "TMP";
#else
  const char* variable = "TMPDIR";
#endif
  const char* old = std::getenv(variable);
  std::string saved = old ? old : "";
  setVariable(variable, temp.path().c_str());
  addSource("a.skm", makeSkm({}));
  ConversionJob(host);
  setVariable(variable, old ? saved.c_str() : nullptr);
  EXPECT_TRUE(std::filesystem::is_empty(temp.path()));
  // Nothing but the package lands in the output folder either.
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(output.path())) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"a.trn"});
}

TEST_F(ConversionJobTest, WorkerCountDoesNotChangeUpdatesOrPackages) {
  for (int i = 0; i < 9; ++i) {
    GestureDraft draft;
    draft.name = "g" + std::to_string(i);
    draft.flags = uint32_t(i % 2);
    draft.strip = makeGif(4 * (i + 1), 3, 2 + i * 20);
    if (i == 4) draft.frameWidth = 0;
    addSource("g" + std::to_string(i) + ".skm", makeSkm(draft));
  }
  ConversionJob(host, 1);
  std::vector<Bytes> single;
  for (int i = 0; i < 9; ++i) {
    if (i != 4) single.push_back(readFile(output.file("g" + std::to_string(i) + ".trn")));
  }
  TempFolder second;
  RecorderHost parallel;
  parallel.paths = host.paths;
  parallel.output = second.path();
  ConversionJob(parallel, 4);
  EXPECT_EQ(parallel.events, host.events);
  std::vector<Bytes> many;
  for (int i = 0; i < 9; ++i) {
    if (i != 4) many.push_back(readFile(second.file("g" + std::to_string(i) + ".trn")));
  }
  EXPECT_EQ(single, many);
}

}  // namespace
}  // namespace skm::test
