#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace skm {

// The few file operations the converter needs, kept together so that every file is opened in
// one place. Failures come back as errno values, never as exceptions.

// Reads the whole file at path into bytes. A regular file is read in one read sized by its
// length; pipes, FIFOs and devices, which cannot tell their length or seek, are read to their
// end, at most maxStreamBytes. Returns 0 or the errno of the failure (EISDIR for a folder,
// EFBIG for a stream longer than maxStreamBytes, EINTR for a stream once abandonStreamReads()
// was called).
int readWholeFile(const std::string& path, std::vector<uint8_t>& bytes,
                  std::size_t maxStreamBytes = std::size_t{256} << 20);

// Bytes to write as one file: pieces laid end to end, so that a file made of parts never has to
// be copied together first.
using BytePieces = std::span<const std::span<const uint8_t>>;

// How a finished temporary file takes the package's name.
enum class Placement { Replace, KeepExisting };

// Writes bytes to a new temporary file in folder (which ends in a separator) and gives it the
// name target: an unnamed one where the system offers them (see writeInFolder), else a hidden
// named one. With KeepExisting an existing target is left alone and EEXIST returned. The
// temporary name is short and fixed in length (".skm2trn-" and 8 letters or digits), so a
// package name that fits the file system never fails because of it. On any failure the
// temporary file is removed. Returns 0 or the errno of the failure.
int writeFileAtomically(const std::string& folder, const std::string& target, BytePieces bytes,
                        Placement placement);
int writeFileAtomically(const std::string& folder, const std::string& target, const uint8_t* bytes,
                        std::size_t size, Placement placement);

// Which file a name leads to: device and inode. Windows tells neither through the C runtime;
// there identities are never known and the calls below that need one say ENOSYS.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  friend auto operator<=>(const FileIdentity&, const FileIdentity&) = default;
};

// The identity of the file at path, following a final symbolic link or not, and (when asked)
// whether what was looked at is a symbolic link. Returns 0 or errno.
int identityOf(const std::string& path, bool followLinks, FileIdentity& identity,
               bool* isLink = nullptr);

// What a folder holds under one name, the entry itself (a symbolic link is not followed, so a
// dangling one exists too).
struct EntryState {
  bool exists = false;
  bool isFolder = false;
  bool identityKnown = false;
  FileIdentity identity;
};

// A folder that packages are written into. On POSIX systems it is held open, and every name is
// taken relative to it, so the run keeps writing into the folder it started with even when the
// folder is moved or its path is made to lead elsewhere meanwhile. On Windows it is a path.
class OutputFolder {
 public:
  OutputFolder() = default;
  ~OutputFolder();
  OutputFolder(OutputFolder&& other) noexcept;
  OutputFolder& operator=(OutputFolder&& other) noexcept;
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;

  // Opens the folder at path. Returns 0 or errno (ENOTDIR for anything but a folder).
  int open(const std::string& path);
  // Opens the folder relative below base (components separated by '/' or the platform's
  // separator), creating the missing ones when create is set; symbolic links in it are
  // followed. On failure, failedAt is the path of the folder asked for.
  int openBelow(const OutputFolder& base, const std::string& relative, bool create,
                std::string& failedAt);

  bool isOpen() const { return open_; }
  // The path it was opened by, ending in a separator: for messages, and for the calls on Windows.
  const std::string& path() const { return path_; }
  int descriptor() const { return fd_; }

 private:
  void close();
  std::string path_;
  int fd_ = -1;
  bool open_ = false;
};

// The entry name in folder (or at path), by lstat. Returns 0 (also when there is none) or errno.
int lookUpEntry(const OutputFolder& folder, const std::string& name, EntryState& state);
int lookUpEntry(const std::string& path, EntryState& state);

// The names of the folder's entries, when it can be read and holds at most `most` of them; false
// otherwise (and on Windows), when names holds nothing to go by. A name looked up in the folder
// exists only if the list holds it exactly, as long as the folder tells letter cases apart.
bool listEntryNames(const OutputFolder& folder, std::size_t most, std::set<std::string>& names);

// The files that writes must leave as they are. Asked only when a write finds its name taken, so
// a guard may put off working out what it holds until then; one that cannot tell says yes.
class FileGuard {
 public:
  virtual bool guards(const FileIdentity& identity) const noexcept = 0;

 protected:
  ~FileGuard() = default;
};

// Returned by writeInFolder when the name leads to a guarded file, which is left as it is.
inline constexpr int GuardedEntry = -1;

// Writes bytes as the file name in folder without ever showing a partial file under that name:
// into an unnamed temporary file where the system offers one (Linux O_TMPFILE, then linked in),
// so a killed process leaves nothing behind, otherwise into a named temporary file (".skm2trn-"
// and 8 letters or digits) renamed at the end. With KeepExisting an existing entry of the name is
// left alone and EEXIST returned. When the name already leads to a file that guarded guards,
// nothing is replaced and GuardedEntry returned, with the file's identity in found. The written
// file's identity goes to written (where identities are known). Returns 0, GuardedEntry or errno.
int writeInFolder(const OutputFolder& folder, const std::string& name, BytePieces bytes,
                  Placement placement, const FileGuard* guarded, FileIdentity* written,
                  FileIdentity* found);

// Whether the file system of folder takes names that differ only in letter case for one name.
// Asked without creating anything where the system can tell: the folder's case-folding
// attribute, then the file system's type. Only a file system that cannot tell (FUSE, network
// file systems that pass another one through, ones with a case option) is asked by looking an
// existing name up in the other case, the folder's own name or its entries; an empty folder
// there gets a probe file, created and removed at once (also in a dry run, which would otherwise
// have to guess). Returns 0 or errno.
int ignoresLetterCase(const std::string& folder, bool& ignores);

// Whether a file can be created in folder: an unnamed one where the system offers them, else a
// hidden probe file, removed at once. Returns 0 or errno.
int checkCanCreate(const std::string& folder);

// The prefix of every temporary file name the converter creates.
inline constexpr char TemporaryPrefix[] = ".skm2trn-";

// Makes every read of a pipe, FIFO or device, the ones waiting now and all later ones, give up
// with EINTR. An interrupt calls it, so that a worker thread waiting for a writer that never
// comes does not hold the run. Async-signal-safe.
void abandonStreamReads() noexcept;

// Removes every temporary file this process is writing at the moment. Async-signal-safe: an
// interrupt handler calls it before ending the process at once.
void removeLiveTemporaries() noexcept;

// The system's words for an errno value.
std::string systemMessage(int err);

}  // namespace skm
