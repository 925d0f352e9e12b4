#include "image/ByteStream.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace skm {
namespace {

struct MemoryStream : ::testing::Test {
  uint8_t data[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  ByteStream stream;
  void SetUp() override { stream.attachMemory(data, 10); }
};

TEST_F(MemoryStream, AttachSetsTheFields) {
  EXPECT_EQ(stream.handle, data);
  EXPECT_EQ(stream.kind, StreamKind::Memory);
  EXPECT_EQ(stream.position, 0);
  EXPECT_EQ(stream.size, 10);
  EXPECT_EQ(stream.capacity, 10);
  EXPECT_EQ(stream.borrowed, 1);
  EXPECT_EQ(stream.error(), 0);
}

TEST_F(MemoryStream, ReadCountsWholeItemsOnly) {
  uint8_t out[16] = {};
  EXPECT_EQ(stream.read(out, 4, 4), 2);
  EXPECT_EQ(stream.position, 10);
  EXPECT_EQ(0, std::memcmp(out, data, 10));
  EXPECT_EQ(stream.read(out, 1, 1), 0);

  ASSERT_EQ(stream.seek(8, SEEK_SET), 0);
  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(stream.read(out, 4, 1), 0);  // two bytes copied, no whole item
  EXPECT_EQ(out[0], 8);
  EXPECT_EQ(out[1], 9);
  EXPECT_EQ(out[2], 0xEE);
  EXPECT_EQ(stream.position, 10);
}

TEST_F(MemoryStream, ReadRejectsNullAndEmptyRequests) {
  uint8_t out[4];
  EXPECT_EQ(stream.read(nullptr, 1, 4), 0);
  EXPECT_EQ(stream.read(out, 0, 4), 0);
  EXPECT_EQ(stream.read(out, 4, 0), 0);
  EXPECT_EQ(stream.read(out, -1, 4), 0);
  EXPECT_EQ(stream.position, 0);
  // A request whose byte count overflows 32 bits is cut to what remains, not wrapped.
  uint8_t all[10];
  EXPECT_EQ(stream.read(all, std::numeric_limits<int32_t>::max(), 2), 0);
  EXPECT_EQ(stream.position, 10);
  EXPECT_EQ(all[9], 9);
}

TEST_F(MemoryStream, SeekOrigins) {
  EXPECT_EQ(stream.seek(-3, SEEK_END), 0);
  EXPECT_EQ(stream.position, 7);
  EXPECT_EQ(stream.tell(), 7);
  EXPECT_EQ(stream.seek(-11, SEEK_END), -1);
  EXPECT_EQ(stream.position, 7);
  EXPECT_EQ(stream.seek(2, SEEK_CUR), 0);
  EXPECT_EQ(stream.tell(), 9);
  EXPECT_EQ(stream.seek(0, 3), -1);
  EXPECT_EQ(stream.seek(20, SEEK_SET), 0);
  EXPECT_EQ(stream.position, 20);
  uint8_t out[1];
  EXPECT_EQ(stream.read(out, 1, 1), 0);
}

TEST_F(MemoryStream, PutByteStoresTheLowByte) {
  EXPECT_EQ(stream.putByte(0x1FF), 255);
  EXPECT_EQ(data[0], 255);
  EXPECT_EQ(stream.size, 10);
  EXPECT_EQ(stream.position, 1);
}

TEST(MemoryStreamGrowth, PutByteAtTheEndGrowsByWholeSteps) {
  auto* buffer = static_cast<uint8_t*>(std::malloc(5));
  std::memcpy(buffer, "abcde", 5);
  ByteStream stream;
  stream.attachMemory(buffer, 5);
  EXPECT_EQ(stream.putByte('z'), 'z');
  EXPECT_EQ(stream.size, 5);  // overwrote byte 0
  EXPECT_EQ(buffer[0], 'z');
  ASSERT_EQ(stream.seek(0, SEEK_END), 0);
  EXPECT_EQ(stream.putByte('!'), '!');
  EXPECT_EQ(stream.capacity, 4101);
  EXPECT_EQ(stream.size, 6);
  EXPECT_EQ(stream.position, 6);
  EXPECT_EQ(0, std::memcmp(stream.handle, "zbcde!", 6));
  // The caller's buffer was neither moved nor freed; the grown copy belongs to the stream.
  EXPECT_NE(stream.handle, buffer);
  EXPECT_EQ(buffer[0], 'z');
  EXPECT_EQ(stream.close(), 0);
  std::free(buffer);
}

TEST(MemoryStreamGrowth, ShortfallIsRoundedUpAndAddedToTheOldCapacity) {
  ByteStream stream;
  ASSERT_TRUE(stream.createMemory(100));
  std::vector<uint8_t> bytes(101, 7);
  EXPECT_EQ(stream.write(bytes.data(), 1, 101), 101);
  EXPECT_EQ(stream.capacity, 4196);
  EXPECT_EQ(stream.write(bytes.data(), 101, 1), 1);
  EXPECT_EQ(stream.capacity, 4196);
  EXPECT_EQ(stream.size, 202);
  std::free(stream.takeBuffer());
}

TEST(MemoryStreamGrowth, WritesPastTheEndLeaveZerosInTheGap) {
  ByteStream stream;
  ASSERT_TRUE(stream.createMemory(16));
  ASSERT_EQ(stream.write("ab", 1, 2), 2);
  ASSERT_EQ(stream.seek(6, SEEK_SET), 0);
  ASSERT_EQ(stream.putByte('c'), 'c');
  ASSERT_EQ(stream.seek(4100, SEEK_SET), 0);
  ASSERT_EQ(stream.write("d", 1, 1), 1);
  ASSERT_EQ(stream.size, 4101);
  const int32_t size = stream.size;
  uint8_t* buffer = stream.takeBuffer();
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(buffer[0], 'a');
  for (int32_t i = 2; i < 6; ++i) EXPECT_EQ(buffer[i], 0) << i;
  EXPECT_EQ(buffer[6], 'c');
  for (int32_t i = 7; i < 4100; ++i) ASSERT_EQ(buffer[i], 0) << i;
  EXPECT_EQ(buffer[size - 1], 'd');
  std::free(buffer);
  EXPECT_EQ(stream.handle, nullptr);
  EXPECT_EQ(stream.size, 0);
  EXPECT_EQ(stream.write("x", 1, 1), 0);
}

TEST(MemoryStreamGrowth, ManySingleBytesEncodeIntoMemory) {
  ByteStream stream;
  ASSERT_TRUE(stream.createMemory());
  for (int i = 0; i < 10000; ++i) ASSERT_EQ(stream.putByte(i), i & 0xFF);
  EXPECT_EQ(stream.size, 10000);
  EXPECT_EQ(stream.capacity, 12288);
  EXPECT_EQ(stream.flush(), 0);
  EXPECT_EQ(stream.error(), 0);
  ASSERT_EQ(stream.seek(9999, SEEK_SET), 0);
  uint8_t last = 0;
  EXPECT_EQ(stream.read(&last, 1, 1), 1);
  EXPECT_EQ(last, 9999 & 0xFF);
  std::free(stream.takeBuffer());
}

TEST(MemoryStreamGrowth, FailedGrowthWritesNothingAndSetsTheErrorFlag) {
  ByteStream stream;
  ASSERT_TRUE(stream.createMemory(8));
  ASSERT_EQ(stream.write("12345678", 1, 8), 8);
  ASSERT_EQ(stream.seek(std::numeric_limits<int32_t>::max() - 2, SEEK_SET), 0);
  EXPECT_EQ(stream.write("abcd", 1, 4), 0);
  EXPECT_NE(stream.error(), 0);
  EXPECT_EQ(stream.size, 8);
  EXPECT_EQ(stream.capacity, 8);
  ASSERT_EQ(stream.seek(std::numeric_limits<int32_t>::max(), SEEK_SET), 0);
  EXPECT_EQ(stream.putByte(1), -1);
  EXPECT_EQ(stream.size, 8);
  // Counts whose product overflows 32 bits are refused, not wrapped.
  ASSERT_EQ(stream.seek(0, SEEK_SET), 0);
  EXPECT_EQ(stream.write("x", 65536, 65536), 0);
  EXPECT_EQ(0, std::memcmp(stream.handle, "12345678", 8));
  EXPECT_EQ(stream.close(), 0);
  EXPECT_EQ(stream.handle, nullptr);
}

TEST(StreamWithoutHandle, EveryOperationFails) {
  for (int memory = 0; memory < 2; ++memory) {
    ByteStream stream;
    if (memory)
      stream.attachMemory(nullptr, 10);
    else
      stream.attachFile(nullptr);
    uint8_t byte = 0;
    EXPECT_EQ(stream.read(&byte, 1, 1), 0);
    EXPECT_EQ(stream.write(&byte, 1, 1), 0);
    EXPECT_EQ(stream.seek(3, SEEK_SET), 0);
    EXPECT_EQ(stream.position, 0);
    EXPECT_EQ(stream.tell(), -1);
    EXPECT_EQ(stream.flush(), -1);
    EXPECT_EQ(stream.error(), -1);
    EXPECT_EQ(stream.putByte(1), -1);
    EXPECT_EQ(stream.close(), -1);
  }
}

TEST(FileStream, PassesThroughToStandardIo) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  ByteStream stream;
  stream.attachFile(file);
  EXPECT_EQ(stream.kind, StreamKind::File);
  EXPECT_EQ(stream.write("hello", 1, 5), 5);
  EXPECT_EQ(stream.putByte(0x121), 0x21);
  EXPECT_EQ(stream.tell(), 6);
  EXPECT_EQ(stream.flush(), 0);
  EXPECT_EQ(stream.error(), 0);
  EXPECT_EQ(stream.seek(1, SEEK_SET), 0);
  char out[8] = {};
  EXPECT_EQ(stream.read(out, 2, 4), 2);  // 5 bytes left: two whole items
  EXPECT_STREQ(out, "ello!");
  EXPECT_EQ(stream.close(), -1);  // borrowed: the file stays open
  EXPECT_EQ(std::fseek(file, 0, SEEK_SET), 0);
  EXPECT_EQ(std::fgetc(file), 'h');
  std::fclose(file);
}

TEST(FileStream, WriteErrorsShowInError) {
  std::FILE* file = std::fopen("/dev/full", "wb");
  if (file == nullptr) GTEST_SKIP() << "/dev/full not available";
  ByteStream stream;
  stream.attachFile(file);
  std::vector<uint8_t> bytes(1 << 16, 1);
  stream.write(bytes.data(), 1, int32_t(bytes.size()));
  stream.flush();
  EXPECT_NE(stream.error(), 0);
  std::fclose(file);
}

TEST_F(MemoryStream, CloseOfABorrowedBufferLeavesItAlone) {
  EXPECT_EQ(stream.flush(), 0);
  EXPECT_EQ(stream.close(), -1);
  EXPECT_EQ(stream.handle, data);
}

}  // namespace
}  // namespace skm
