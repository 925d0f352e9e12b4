#include <gtest/gtest.h>

#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "codecs/ImageFile.h"
#include "convert/GestureConverter.h"
#include "convert/Package.h"
#include "convert/SourceGesture.h"
#include "image/Image.h"
#include "tests/faults/FailingAllocator.h"
#include "tests/job/GestureFiles.h"

namespace skm::test {
namespace {

// Converts one source entirely in memory-backed steps; a bad_alloc that escapes is the job's to
// catch, so it counts as a failed file here.
GestureResult convertOnce(const std::string& path, const std::string& folder) {
  SourceGesture gesture;
  GestureResult result;
  try {
    result = convertSource(gesture, path);
    writeResultPackage(result, folder);
  } catch (const std::bad_alloc&) {
    result = GestureResult{};
    result.outcome = GestureOutcome::Failed;
    result.reason = GestureReason::OutOfMemory;
  }
  return result;
}

void walkEveryAllocation(const GestureDraft& draft) {
  TempFolder folder;
  std::string source = folder.file("g.skm");
  writeFile(source, makeSkm(draft));
  TempFolder reference;
  ASSERT_EQ(convertOnce(source, reference.path()).outcome, GestureOutcome::Converted);
  const Bytes expected = readFile(reference.file("g.trn"));

  // Counted into an empty folder, as every run below writes into one.
  TempFolder counted;
  armAllocator(0);
  convertOnce(source, counted.path());
  const std::size_t total = disarmAllocator();
  ASSERT_GT(total, 10u);

  std::size_t failures = 0;
  for (std::size_t n = 1; n <= total; ++n) {
    TempFolder out;
    armAllocator(n);
    GestureResult result = convertOnce(source, out.path());
    disarmAllocator();
    ASSERT_TRUE(allocationFailed()) << "allocation " << n << " was never made";
    if (result.outcome == GestureOutcome::Converted) {
      // A failure the code could work around must not change a single byte.
      EXPECT_EQ(readFile(out.file("g.trn")), expected) << "allocation " << n;
    } else {
      ++failures;
      EXPECT_FALSE(std::filesystem::exists(out.file("g.trn"))) << "allocation " << n;
    }
    // Nothing but the package may be left in the output folder.
    for (const auto& entry : std::filesystem::directory_iterator(out.path())) {
      EXPECT_EQ(entry.path().filename(), "g.trn") << "allocation " << n;
    }
  }
  EXPECT_GT(failures, 0u);
  ::testing::Test::RecordProperty("allocations", int(total));
}

TEST(AllocationFailure, EveryAllocationOfAConversionCanFail) {
  walkEveryAllocation({});
}

TEST(AllocationFailure, EveryAllocationOfALoopingGestureWithOwnSound) {
  GestureDraft draft;
  draft.flags = 9;
  draft.sound = {'R', 'I', 'F', 'F', 0, 0, 0, 0};
  draft.strip = makeGif(40, 6, 200);
  draft.frameWidth = 8;
  walkEveryAllocation(draft);
}

// Every allocation a BMP decode makes (the picture and the 32-bit reader's row buffer) may fail;
// each such failure must read as running out of memory, never as a damaged picture.
TEST(AllocationFailure, EveryFailedAllocationOfABmpDecodeIsOutOfMemory) {
  // 2 x 2 pixels, 32 bits with bit-field masks: the reader's row-buffer path.
  // clang-format off
  std::vector<uint8_t> bmp = {
      'B', 'M', 82, 0, 0, 0, 0, 0, 0, 0, 66, 0, 0, 0,  // file header, pixels at 66
      40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 32, 0,  // header size, 2 x 2, 32 bits
      3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // bit fields
      0, 0, 0, 0, 0, 0, 0, 0,                          // colours used, important
      0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0};   // red, green, blue masks
  // clang-format on
  bmp.resize(66 + 16, 0x7F);
  Image reference;
  ASSERT_TRUE(loadFromMemory(reference, bmp.data(), int32_t(bmp.size()), FormatBmp))
      << reference.lastError();
  armAllocator(0);
  {
    Image counted;
    loadFromMemory(counted, bmp.data(), int32_t(bmp.size()), FormatBmp);
  }
  const std::size_t total = disarmAllocator();
  ASSERT_GE(total, 2u);
  for (std::size_t n = 1; n <= total; ++n) {
    Image image;
    armAllocator(n);
    const bool loaded = loadFromMemory(image, bmp.data(), int32_t(bmp.size()), FormatBmp);
    disarmAllocator();
    EXPECT_FALSE(loaded) << "allocation " << n;
    EXPECT_EQ(image.lastErrorKind(), ImageError::OutOfMemory)
        << "allocation " << n << ": " << image.lastError();
  }
}

}  // namespace
}  // namespace skm::test
