#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/JobDisplay.h"
#include "convert/ConversionJob.h"
#include "convert/GestureConverter.h"
#include "tests/job/GestureFiles.h"

namespace skm::test {
namespace {

// Records every control update in order, as the dialog shows them.
class RecorderDisplay : public JobDisplay {
 public:
  std::vector<std::string> paths;
  std::string output;
  std::vector<std::string> updates;

  const std::vector<std::string>& sourcePaths() const override { return paths; }
  const std::string& outputFolder() const override { return output; }

 protected:
  void setProgressPosition(int position) override {
    updates.push_back("progress " + std::to_string(position));
  }
  void setStatusText(const std::string& text) override { updates.push_back("status " + text); }
  void setMessageText(const std::string& text) override { updates.push_back("message " + text); }
  void enableButton(int id) override { updates.push_back("enable " + std::to_string(id)); }
};

class JobDisplayTest : public ::testing::Test {
 protected:
  TempFolder sources;
  TempFolder output;
  RecorderDisplay display;

  void SetUp() override { display.output = output.path(); }

  void addSource(const std::string& fileName, const Bytes& bytes) {
    writeFile(sources.file(fileName), bytes);
    display.paths.push_back(sources.file(fileName));
  }
  std::size_t count(const std::string& update) const {
    return std::size_t(std::count(display.updates.begin(), display.updates.end(), update));
  }
};

TEST_F(JobDisplayTest, ThreeFilesShowCountsAndTextsInOrder) {
  addSource("a.skm", makeSkm({}));
  addSource("b.skm", makeSkm({}));
  addSource("c.skm", makeSkm({}));
  ConversionJob(display);
  std::vector<std::string> expected;
  for (int i = 0; i < 3; ++i) {
    expected.push_back("progress " + std::to_string(i));
    expected.push_back("status " + std::to_string(i + 1) + " gestures converted.");
    expected.push_back(std::string("message Converting: ") + char('a' + i) + ".skm");
  }
  expected.insert(expected.end(), {"progress 3", "status 3 gestures converted.",
                                   "message Converting Finished.", "enable 1000", "enable 1001"});
  EXPECT_EQ(display.updates, expected);
}

TEST_F(JobDisplayTest, EmptyListGoesStraightToTheEnd) {
  ConversionJob(display);
  std::vector<std::string> expected = {"progress 0", "status 0 gestures converted.",
                                       "message Converting Finished.", "enable 1000",
                                       "enable 1001"};
  EXPECT_EQ(display.updates, expected);
}

TEST_F(JobDisplayTest, FinalCountIsThePackagesActuallyWrittenAndSkipsAreSilent) {
  addSource("good.skm", makeSkm({}));
  addSource("bad.skm", Bytes{'n', 'o', 'p', 'e'});
  GestureDraft empty;
  empty.flags = 8;
  addSource("silent.skm", makeSkm(empty));
  addSource("Hi.SKM", makeSkm({}));
  ConversionJob(display);
  ASSERT_GE(display.updates.size(), 5u);
  EXPECT_EQ(display.updates[display.updates.size() - 4], "status 2 gestures converted.");
  EXPECT_EQ(display.updates[display.updates.size() - 3], "message Converting Finished.");
  // Silent skips leave the file's "Converting" text in place; the extension shows in lower case.
  EXPECT_EQ(count("message Error: Gesture skipped."), 0u);
  EXPECT_EQ(count("message Converting: Hi.skm"), 1u);
}

TEST_F(JobDisplayTest, FailuresShowTheErrorLine) {
  Bytes cut = makeSkm({});
  cut.erase(cut.end() - 10, cut.end());
  addSource("cut.skm", cut);
  ConversionJob(display);
  EXPECT_EQ(display.updates[display.updates.size() - 6], "message Error: Gesture skipped.");

  RecorderDisplay unwritable;
  unwritable.paths = {sources.file("a.skm"), sources.file("b.skm")};
  for (const std::string& path : unwritable.paths) writeFile(path, makeSkm({}));
  unwritable.output = output.file("missing/");
  ConversionJob(unwritable);
  const std::vector<std::string>& updates = unwritable.updates;
  EXPECT_EQ(std::count(updates.begin(), updates.end(), "message Error: Gesture skipped."), 2);
  EXPECT_EQ(updates[updates.size() - 3], "message Converting Finished.");
  EXPECT_EQ(updates[updates.size() - 4], "status 0 gestures converted.");
}

// One package name from three sources: the first that converts gets it, a later one never
// replaces it.
TEST_F(JobDisplayTest, APackageNameGoesToTheFirstSourceThatConverts) {
  addSource("wave.skm", Bytes{'n', 'o', 'p', 'e'});
  GestureDraft first, second;
  first.name = "first";
  second.name = "second";
  addSource("wave.SKM", makeSkm(first));
  TempFolder other;
  writeFile(other.file("wave.skm"), makeSkm(second));
  display.paths.push_back(other.file("wave.skm"));
  ConversionJob(display);
  EXPECT_EQ(display.updates[display.updates.size() - 4], "status 1 gestures converted.");
  const Bytes package = readFile(output.file("wave.trn"));
  EXPECT_EQ(std::string(package.end() - 5, package.end()), "first");
}

}  // namespace
}  // namespace skm::test
