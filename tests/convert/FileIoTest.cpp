#include "convert/FileIo.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <set>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "TestFiles.h"

namespace skm {
namespace {

using Bytes = std::vector<uint8_t>;

class FileIoTest : public ::testing::Test {
 protected:
  test::TempDir dir;
  std::string folder() const { return dir.file(""); }
};

TEST_F(FileIoTest, ReadsWholeFilesAndNamesWhatStopsIt) {
  Bytes data(100000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
  test::writeFile(dir.file("a.bin"), data);
  Bytes got{1, 2, 3};
  EXPECT_EQ(readWholeFile(dir.file("a.bin"), got), 0);
  EXPECT_EQ(got, data);
  test::writeFile(dir.file("empty.bin"), {});
  EXPECT_EQ(readWholeFile(dir.file("empty.bin"), got), 0);
  EXPECT_TRUE(got.empty());
  EXPECT_EQ(readWholeFile(dir.file("missing.bin"), got), ENOENT);
  EXPECT_EQ(readWholeFile(dir.path().string(), got), EISDIR);
}

TEST_F(FileIoTest, WritesUnderItsNameOnlyAndKeepsExistingFilesWhenAsked) {
  const Bytes first = {'o', 'n', 'e'};
  const Bytes second = {'t', 'w', 'o', '!'};
  const std::string target = dir.file("p.trn");
  EXPECT_EQ(writeFileAtomically(folder(), target, first.data(), first.size(), Placement::Replace),
            0);
  EXPECT_EQ(test::readFile(target), first);
  EXPECT_EQ(
      writeFileAtomically(folder(), target, second.data(), second.size(), Placement::KeepExisting),
      EEXIST);
  EXPECT_EQ(test::readFile(target), first);
  EXPECT_EQ(writeFileAtomically(folder(), target, second.data(), second.size(), Placement::Replace),
            0);
  EXPECT_EQ(test::readFile(target), second);
  EXPECT_EQ(test::listFolder(dir.path()), (std::vector<std::string>{"p.trn"}));
}

// A file written from pieces is them laid end to end, whatever their number and sizes: empty
// ones, and more than one gathering write takes at a time.
TEST_F(FileIoTest, PiecesAreWrittenEndToEnd) {
  Bytes big(300000);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i * 13 + 5);
  const std::span<const uint8_t> all(big);
  std::vector<std::vector<std::span<const uint8_t>>> cases = {
      {},
      {all.first(0), all.first(0)},
      {all.first(1), all.subspan(1, 0), all.subspan(1)},
      {all.first(100000), all.subspan(100000, 100000), all.subspan(200000)},
  };
  std::vector<std::span<const uint8_t>> many;  // 40 pieces of 7,500 bytes, some of them empty
  for (std::size_t at = 0; at < big.size(); at += 7500) {
    many.push_back(all.subspan(at, 7500));
    if (at % 3 == 0) many.push_back(all.subspan(at + 7500, 0));
  }
  cases.push_back(many);
  OutputFolder out;
  ASSERT_EQ(out.open(folder()), 0);
  for (std::size_t k = 0; k < cases.size(); ++k) {
    Bytes expected;
    for (const auto& piece : cases[k]) expected.insert(expected.end(), piece.begin(), piece.end());
    const std::string name = std::to_string(k) + ".trn";
    EXPECT_EQ(writeInFolder(out, name, cases[k], Placement::Replace, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(test::readFile(dir.file(name)), expected) << "case " << k;
  }
}

TEST_F(FileIoTest, AFailedWriteLeavesNoTemporaryFile) {
  const Bytes data = {'x'};
  // The target is a folder: the temporary file is written, then cannot take the name.
  std::filesystem::create_directory(dir.file("busy.trn"));
  std::filesystem::create_directory(dir.file("busy.trn/inside"));
  EXPECT_NE(writeFileAtomically(folder(), dir.file("busy.trn"), data.data(), 1, Placement::Replace),
            0);
  EXPECT_EQ(test::listFolder(dir.path()), (std::vector<std::string>{"busy.trn"}));
  // A folder that does not exist: no temporary file can be created.
  EXPECT_EQ(writeFileAtomically(dir.file("none/"), dir.file("none/p.trn"), data.data(), 1,
                                Placement::Replace),
            ENOENT);
}

#ifndef _WIN32
TEST_F(FileIoTest, WritesInAnOpenFolderNeverReplaceAGuardedFile) {
  const Bytes source = {'s', 'k', 'm'};
  const Bytes package = {'t', 'r', 'n'};
  const std::span<const uint8_t> whole(package);
  const BytePieces pieces(&whole, 1);
  test::writeFile(dir.file("src.skm"), source);
  ASSERT_EQ(::symlink("src.skm", dir.file("link.trn").c_str()), 0);
  ASSERT_EQ(::link(dir.file("src.skm").c_str(), dir.file("hard.trn").c_str()), 0);
  FileIdentity src, written, found;
  ASSERT_EQ(identityOf(dir.file("src.skm"), true, src), 0);
  // Asked only when a name is taken, so that a caller may put off working out what it guards.
  struct : FileGuard {
    FileIdentity file;
    mutable int asked = 0;
    bool guards(const FileIdentity& identity) const noexcept override {
      return ++asked, identity == file;
    }
  } guarded;
  guarded.file = src;
  OutputFolder out;
  ASSERT_EQ(out.open(folder()), 0);
  EXPECT_EQ(writeInFolder(out, "new.trn", pieces, Placement::Replace, &guarded, &written, &found),
            0);
  EXPECT_EQ(guarded.asked, 0);
  // A hard link is the file itself; a symbolic link is only replaced, never followed.
  for (Placement placement : {Placement::Replace, Placement::KeepExisting}) {
    EXPECT_EQ(writeInFolder(out, "hard.trn", pieces, placement, &guarded, &written, &found),
              GuardedEntry);
    EXPECT_EQ(found, src);
  }
  EXPECT_EQ(
      writeInFolder(out, "link.trn", pieces, Placement::KeepExisting, &guarded, &written, &found),
      EEXIST);
  EXPECT_EQ(writeInFolder(out, "link.trn", pieces, Placement::Replace, &guarded, &written, &found),
            0);
  EXPECT_EQ(test::readFile(dir.file("src.skm")), source);
  EXPECT_EQ(test::readFile(dir.file("link.trn")), package);
  FileIdentity now;
  ASSERT_EQ(identityOf(dir.file("link.trn"), false, now), 0);
  EXPECT_EQ(now, written);
  EXPECT_EQ(test::listFolder(dir.path()),
            (std::vector<std::string>{"hard.trn", "link.trn", "new.trn", "src.skm"}));
}

// Every name of the folder, or none to go by once the folder holds more than asked for.
TEST_F(FileIoTest, FolderListingIsWholeOrRefused) {
  for (const char* name : {"a.trn", "B.TRN", "c"}) test::writeFile(dir.file(name), {});
  std::filesystem::create_directory(dir.file("sub"));
  OutputFolder out;
  ASSERT_EQ(out.open(folder()), 0);
  std::set<std::string> names{"stale"};
  ASSERT_TRUE(listEntryNames(out, 6, names));
  EXPECT_EQ(names, (std::set<std::string>{".", "..", "B.TRN", "a.trn", "c", "sub"}));
  EXPECT_FALSE(listEntryNames(out, 5, names));
  EXPECT_TRUE(names.empty());
}

TEST_F(FileIoTest, StreamsAreReadToTheirEndWithinTheLimit) {
  // The reader stops early in the second round; the writer must see EPIPE, not die of it.
  std::signal(SIGPIPE, SIG_IGN);
  const std::string fifo = dir.file("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  Bytes data(300000, 0x5a);
  for (std::size_t limit : {data.size(), data.size() - 1}) {
    std::thread writer([&] {
      int fd = open(fifo.c_str(), O_WRONLY);
      std::size_t done = 0;
      while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n <= 0) break;  // the reader gave up: EPIPE
        done += std::size_t(n);
      }
      close(fd);
    });
    Bytes got;
    int err = readWholeFile(fifo, got, limit);
    writer.join();
    if (limit == data.size()) {
      EXPECT_EQ(err, 0);
      EXPECT_EQ(got, data);
    } else {
      EXPECT_EQ(err, EFBIG);
    }
  }
}
#endif

}  // namespace
}  // namespace skm
