#include "convert/FileIo.h"

#include "convert/FilePath.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <mutex>
#include <new>
#include <random>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <io.h>
#include <stdio.h>  // _wrename
#include <wchar.h>
#else
#include <dirent.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/statfs.h>
#include <sys/uio.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/fs.h>
#endif
#endif

namespace skm {
namespace {

#ifdef _WIN32
// Paths are UTF-8; the wide calls reach every name, the narrow ones only the code page's.
std::wstring wide(const char* path) {
  const std::u16string units = utf16FromUtf8(path);
  return std::wstring(units.begin(), units.end());
}
using StatRecord = struct _stat64;
int openRead(const char* path) {
  // No Windows name holds a wildcard: what does is a pattern that matched nothing, and for
  // that the system's word is "invalid argument" where "no such file" is meant.
  if (std::strpbrk(path, "*?") != nullptr) {
    errno = ENOENT;
    return -1;
  }
  const std::wstring name = wide(path);
  const int fd = _wopen(name.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (fd < 0 && errno == EACCES) {
    // Windows refuses to open a folder as "access denied"; say what it is.
    std::error_code ec;
    if (std::filesystem::is_directory(std::filesystem::path(name), ec)) errno = EISDIR;
  }
  return fd;
}
int openNew(const char* path) {
  return _wopen(wide(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                _S_IREAD | _S_IWRITE);
}
int statOpen(int fd, StatRecord& st) {
  return _fstat64(fd, &st);
}
bool isRegular(const StatRecord& st) {
  return (st.st_mode & _S_IFMT) == _S_IFREG;
}
bool isFolder(const StatRecord& st) {
  return (st.st_mode & _S_IFMT) == _S_IFDIR;
}
long long readSome(int fd, uint8_t* dst, std::size_t n) {
  return _read(fd, dst, unsigned(n > 0x40000000 ? 0x40000000 : n));
}
long long writeSome(int fd, const uint8_t* src, std::size_t n) {
  return _write(fd, src, unsigned(n > 0x40000000 ? 0x40000000 : n));
}
int closeFile(int fd) {
  return _close(fd);
}
// Also called from the console's interrupt handler, which Windows runs as a thread of its own,
// so converting the name there is safe.
int unlinkPath(const char* path) {
  return _wunlink(wide(path).c_str());
}
#else
using StatRecord = struct stat;
int openRead(const char* path) {
  // Non-blocking, so that opening a FIFO does not wait for a writer: the wait happens in
  // waitReadable, where an interrupt can end it.
  return ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
}
int statOpen(int fd, StatRecord& st) {
  return ::fstat(fd, &st);
}
bool isRegular(const StatRecord& st) {
  return S_ISREG(st.st_mode);
}
bool isFolder(const StatRecord& st) {
  return S_ISDIR(st.st_mode);
}
long long readSome(int fd, uint8_t* dst, std::size_t n) {
  return ::read(fd, dst, n);
}
int closeFile(int fd) {
  return ::close(fd);
}
#endif

// Closes the descriptor on every way out.
struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) closeFile(fd);
  }
};

// Reads until n bytes have arrived or the input ends; returns the count or -1 with errno set.
long long readFully(int fd, uint8_t* dst, std::size_t n) {
  std::size_t got = 0;
  while (got < n) {
    long long r = readSome(fd, dst + got, n - got);
    if (r < 0) return -1;
    if (r == 0) break;
    got += std::size_t(r);
  }
  return (long long)got;
}

std::atomic<bool> streamsAbandoned{false};
static_assert(std::atomic<bool>::is_always_lock_free);

#ifndef _WIN32
// A pipe that turns readable when stream reads are abandoned; every stream wait polls it beside
// its own descriptor, so a signal handled on another thread still ends the wait.
std::atomic<int> wakeReadEnd{-1};
std::atomic<int> wakeWriteEnd{-1};

int wakeDescriptor() {
  static std::once_flag once;
  std::call_once(once, [] {
    int ends[2];
    if (::pipe(ends) != 0) return;
    for (int end : ends) {
      ::fcntl(end, F_SETFD, FD_CLOEXEC);
      ::fcntl(end, F_SETFL, O_NONBLOCK);
    }
    wakeReadEnd.store(ends[0]);
    wakeWriteEnd.store(ends[1]);
  });
  return wakeReadEnd.load();
}
#endif

// Waits until fd has data or has ended; returns 0, or EINTR once stream reads are abandoned. A
// FIFO opened before any writer came reads as ended at once but does not poll as ended, so the
// wait comes before every read.
int waitReadable(int fd) {
#ifdef _WIN32
  (void)fd;
  return streamsAbandoned.load() ? EINTR : 0;
#else
  // Created before the flag is looked at: an abandon that finds no pipe yet is seen here.
  const int wake = wakeDescriptor();
  for (;;) {
    if (streamsAbandoned.load()) return EINTR;
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
    // Without the wake pipe (no descriptors left) the flag is looked at ten times a second.
    const int ready = ::poll(fds, 2, wake < 0 ? 100 : -1);
    if (ready < 0 && errno != EINTR) return errno;
    if (ready > 0 && fds[0].revents != 0) return 0;
  }
#endif
}

int readStream(int fd, std::vector<uint8_t>& bytes, std::size_t limit) {
  std::size_t used = 0;
  std::size_t chunk = 64 * 1024;
  for (;;) {
    if (const int err = waitReadable(fd)) return err;
    if (bytes.size() - used < chunk) bytes.resize(used + chunk);
    errno = 0;
    long long r = readSome(fd, bytes.data() + used, bytes.size() - used);
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
    if (r < 0) return errno ? errno : EIO;
    if (r == 0) break;
    used += std::size_t(r);
    if (used > limit) return EFBIG;
    if (chunk < (std::size_t{4} << 20)) chunk *= 2;
  }
  bytes.resize(used);
  return 0;
}

// Live temporary paths, readable from a signal handler: a slot is filled while it is marked
// busy and published with a release store, so the handler sees only whole paths.
constexpr int SlotCount = 16;
constexpr std::size_t SlotLength = 4096;
// Initialized as a constant (all zero), so the table costs a process nothing until a slot is
// used: set up at start-up, it took a page fault for each slot.
struct Slot {
  std::atomic<int> state{0};  // 0 free, 1 being filled or emptied, 2 live
  int folder = 0;             // the path is relative to this descriptor (POSIX), once live
  char path[SlotLength] = {};
};
constinit Slot slots[SlotCount];
static_assert(std::atomic<int>::is_always_lock_free);

// Returns the slot that now holds path, or -1 when the path is too long or every slot is taken
// (the file is then written unguarded, as it would have been before).
int registerTemporary(int folder, const std::string& path) {
  if (path.size() >= SlotLength) return -1;
  for (int i = 0; i < SlotCount; ++i) {
    int expected = 0;
    if (slots[i].state.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
      slots[i].folder = folder;
      std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
      slots[i].state.store(2, std::memory_order_release);
      return i;
    }
  }
  return -1;
}

void unregisterTemporary(int slot) {
  if (slot >= 0) slots[slot].state.store(0, std::memory_order_release);
}

std::mt19937_64& nameGenerator() {
  // Seeded once per thread: opening the random device for every package cost a tenth of a
  // conversion. The clock and an address keep threads apart should the device be missing.
  thread_local std::mt19937_64 generator = [] {
    int local = 0;
    uint64_t seed = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                    uint64_t(reinterpret_cast<uintptr_t>(&local));
    try {
      std::random_device device;
      seed ^= uint64_t(device()) << 32 | device();
    } catch (const std::exception&) {
    }
    return std::mt19937_64(seed);
  }();
  return generator;
}

std::string randomTemporaryName() {
  static const char Chars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::mt19937_64& random = nameGenerator();
  std::string name = TemporaryPrefix;
  uint64_t bits = random();
  for (int i = 0; i < 8; ++i, bits >>= 6) name += Chars[bits % 36];
  return name;
}

// The pieces one after another, with as few calls as the system allows: one gathering write
// where it has them, so that a package never has to be copied together first.
int writeAll(int fd, BytePieces pieces) {
#ifdef _WIN32
  for (const std::span<const uint8_t> piece : pieces) {
    for (std::size_t done = 0; done < piece.size();) {
      errno = 0;
      const long long n = writeSome(fd, piece.data() + done, piece.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return errno ? errno : EIO;
      done += std::size_t(n);
    }
  }
  return 0;
#else
  std::size_t at = 0, offset = 0;  // where writing resumes: a piece, and a byte within it
  while (at < pieces.size()) {
    if (offset == pieces[at].size()) {
      ++at, offset = 0;
      continue;
    }
    iovec vectors[16];
    int count = 0;
    for (std::size_t k = at; k < pieces.size() && count < 16; ++k) {
      const std::size_t skip = k == at ? offset : 0;
      if (pieces[k].size() == skip) continue;
      vectors[count++] = {const_cast<uint8_t*>(pieces[k].data() + skip), pieces[k].size() - skip};
    }
    errno = 0;
    const ssize_t n = ::writev(fd, vectors, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return errno ? errno : EIO;
    for (std::size_t left = std::size_t(n); left > 0;) {
      const std::size_t step = std::min(left, pieces[at].size() - offset);
      left -= step, offset += step;
      if (offset == pieces[at].size()) ++at, offset = 0;
    }
  }
  return 0;
#endif
}

// Where a file goes: names relative to a folder descriptor (POSIX), or paths.
struct Destination {
  int folder;              // descriptor the names are relative to, or AT_FDCWD
  std::string openFolder;  // what O_TMPFILE opens: "." below the descriptor, or the folder's path
  std::string tempPrefix;  // put before a temporary's name: "" or the folder's path
  std::string target;      // the file's name, relative like the others
};

// Creates a named temporary file in the destination; returns its descriptor or -1 with err set.
// The name is registered before the file exists, so an interrupt can never miss it; the random
// name makes it ours once the exclusive create has made it.
int createNamedTemporary(const Destination& to, std::string& temp, int& slot, int& err) {
  err = EEXIST;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = to.tempPrefix + randomTemporaryName();
#ifdef _WIN32
    slot = registerTemporary(-1, temp);
    errno = 0;
    const int fd = openNew(temp.c_str());
#else
    slot = registerTemporary(to.folder, temp);
    errno = 0;
    const int fd = ::openat(to.folder, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
    if (fd >= 0) return fd;
    err = errno ? errno : EIO;
    unregisterTemporary(slot);
    slot = -1;
    if (err != EEXIST) return -1;
  }
  return -1;
}

#ifdef _WIN32

int placeFile(const std::string& temp, const std::string& target, Placement placement) {
  if (placement == Placement::KeepExisting) {
    // The C runtime's rename never replaces an existing file here.
    if (_wrename(wide(temp.c_str()).c_str(), wide(target.c_str()).c_str()) == 0) return 0;
    const int err = errno;
    std::error_code ec;
    return std::filesystem::exists(pathFromUtf8(target), ec) ? EEXIST : err;
  }
  // filesystem::rename replaces an existing file, unlike std::rename.
  std::error_code ec;
  std::filesystem::rename(pathFromUtf8(temp), pathFromUtf8(target), ec);
  return ec ? ec.value() : 0;
}

// Windows has no unnamed temporaries and gives no identities: a named temporary, renamed.
int writeFile(const Destination& to, BytePieces bytes, Placement placement, const FileGuard*,
              FileIdentity*, FileIdentity*) {
  std::string temp;
  int slot = -1, err = 0;
  const int fd = createNamedTemporary(to, temp, slot, err);
  if (fd < 0) return err;
  err = writeAll(fd, bytes);
  errno = 0;
  if (closeFile(fd) != 0 && err == 0) err = errno ? errno : EIO;
  if (err == 0) err = placeFile(temp, to.target, placement);
  if (err != 0) unlinkPath(temp.c_str());
  unregisterTemporary(slot);
  return err;
}

#else

FileIdentity identityOfStat(const struct stat& st) {
  return {uint64_t(st.st_dev), uint64_t(st.st_ino)};
}

// Whether the entry name in folder leads to a guarded file (the entry itself, not a link's
// target: replacing a link replaces only the link).
bool isGuarded(int folder, const std::string& name, const FileGuard* guarded, FileIdentity* found) {
  struct stat st {};
  if (guarded == nullptr || ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return false;
  }
  if (!guarded->guards(identityOfStat(st))) return false;
  if (found != nullptr) *found = identityOfStat(st);
  return true;
}

// Gives the complete temporary its name. An existing entry is looked at first, right before the
// final rename: a guarded file is never replaced.
int placeNamed(const Destination& to, const std::string& temp, Placement placement,
               const FileGuard* guarded, FileIdentity* found) {
  const char* from = temp.c_str();
  const char* name = to.target.c_str();
  if (placement == Placement::Replace) {
    if (isGuarded(to.folder, to.target, guarded, found)) return GuardedEntry;
    return ::renameat(to.folder, from, to.folder, name) == 0 ? 0 : errno;
  }
  int err = 0;
#ifdef RENAME_NOREPLACE
  if (::renameat2(to.folder, from, to.folder, name, RENAME_NOREPLACE) == 0) return 0;
  err = errno;
#else
  err = EINVAL;
#endif
  if (err == EINVAL || err == ENOSYS) {
    // A hard link fails on an existing name just as atomically.
    err = ::linkat(to.folder, from, to.folder, name, 0) == 0 ? 0 : errno;
    if (err == 0) ::unlinkat(to.folder, from, 0);
  }
  if (err == EEXIST && isGuarded(to.folder, to.target, guarded, found)) return GuardedEntry;
  return err;
}

int writeNamed(const Destination& to, BytePieces bytes, Placement placement,
               const FileGuard* guarded, FileIdentity* written, FileIdentity* found) {
  std::string temp;
  int slot = -1, err = 0;
  const int fd = createNamedTemporary(to, temp, slot, err);
  if (fd < 0) return err;
  err = writeAll(fd, bytes);
  struct stat st {};
  if (err == 0 && written != nullptr && ::fstat(fd, &st) == 0) *written = identityOfStat(st);
  errno = 0;
  if (closeFile(fd) != 0 && err == 0) err = errno ? errno : EIO;
  if (err == 0) err = placeNamed(to, temp, placement, guarded, found);
  if (err != 0) ::unlinkat(to.folder, temp.c_str(), 0);
  unregisterTemporary(slot);
  return err;
}

// Writes into an unnamed temporary and links it in: straight under the target name when that is
// free (which also refuses an existing one for KeepExisting), else under a temporary name that is
// then renamed over the target. Sets fallBack, having changed nothing, where the file system or
// the system refuses unnamed temporaries or linking them.
int writeUnnamed(const Destination& to, BytePieces bytes, Placement placement,
                 const FileGuard* guarded, FileIdentity* written, FileIdentity* found,
                 bool& fallBack) {
  fallBack = true;
#ifdef O_TMPFILE
  Descriptor file;
  file.fd = ::openat(to.folder, to.openFolder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (file.fd < 0) return 0;
  fallBack = false;
  if (const int err = writeAll(file.fd, bytes)) return err;
  struct stat st {};
  if (::fstat(file.fd, &st) != 0) return errno;
  if (written != nullptr) *written = identityOfStat(st);
  char link[40];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", file.fd);
  const auto linkAs = [&](const char* name) {
    return ::linkat(AT_FDCWD, link, to.folder, name, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
  };
  int err = linkAs(to.target.c_str());
  if (err == EEXIST) {
    if (isGuarded(to.folder, to.target, guarded, found)) return GuardedEntry;
    if (placement == Placement::KeepExisting) return EEXIST;
    std::string temp;
    int slot = -1;
    for (int attempt = 0; attempt < 100 && err == EEXIST; ++attempt) {
      temp = to.tempPrefix + randomTemporaryName();
      slot = registerTemporary(to.folder, temp);
      err = linkAs(temp.c_str());
      if (err != 0) unregisterTemporary(slot);
    }
    if (err == 0) {
      err = placeNamed(to, temp, placement, guarded, found);
      if (err != 0) ::unlinkat(to.folder, temp.c_str(), 0);
      unregisterTemporary(slot);
      if (err != 0) return err;
    }
  }
  // No /proc to link through, or a file system that cannot link: the named way may still work.
  if (err != 0) {
    fallBack = true;
    return 0;
  }
  // Some file systems report write failures only at close; the package is then taken back.
  const int fd = file.fd;
  file.fd = -1;
  errno = 0;
  if (closeFile(fd) == 0) return 0;
  err = errno ? errno : EIO;
  struct stat now {};
  if (::fstatat(to.folder, to.target.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
      identityOfStat(now) == identityOfStat(st)) {
    ::unlinkat(to.folder, to.target.c_str(), 0);
  }
  return err;
#else
  (void)to, (void)bytes, (void)placement, (void)guarded, (void)written, (void)found;
  return 0;
#endif
}

int writeFile(const Destination& to, BytePieces bytes, Placement placement,
              const FileGuard* guarded, FileIdentity* written, FileIdentity* found) {
  bool fallBack = false;
  const int err = writeUnnamed(to, bytes, placement, guarded, written, found, fallBack);
  if (!fallBack) return err;
  return writeNamed(to, bytes, placement, guarded, written, found);
}

#endif

}  // namespace

std::string systemMessage(int err) {
  return std::strerror(err);
}

int readWholeFile(const std::string& path, std::vector<uint8_t>& bytes,
                  std::size_t maxStreamBytes) {
  bytes.clear();
  Descriptor in;
  errno = 0;
  in.fd = openRead(path.c_str());
  // (On Windows, openRead has already turned a folder's "permission denied" into EISDIR.)
  if (in.fd < 0) return errno ? errno : ENOENT;
  StatRecord st{};
  if (statOpen(in.fd, st) != 0) return errno;
  if (isFolder(st)) return EISDIR;
  if (!isRegular(st) || st.st_size <= 0) return readStream(in.fd, bytes, maxStreamBytes);
  if (uint64_t(st.st_size) > bytes.max_size()) return EFBIG;
  try {
    bytes.resize(std::size_t(st.st_size));
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  }
  // One read for the whole file; a file that shrank meanwhile is simply shorter.
  long long got = readFully(in.fd, bytes.data(), bytes.size());
  if (got < 0) return errno ? errno : EIO;
  bytes.resize(std::size_t(got));
  return 0;
}

int writeFileAtomically(const std::string& folder, const std::string& target, BytePieces bytes,
                        Placement placement) {
#ifdef _WIN32
  const Destination to{-1, folder, folder, target};
#else
  const Destination to{AT_FDCWD, folder.empty() ? "." : folder, folder, target};
#endif
  return writeFile(to, bytes, placement, nullptr, nullptr, nullptr);
}

int writeFileAtomically(const std::string& folder, const std::string& target, const uint8_t* bytes,
                        std::size_t size, Placement placement) {
  const std::span<const uint8_t> whole(bytes, size);
  return writeFileAtomically(folder, target, BytePieces(&whole, 1), placement);
}

int identityOf(const std::string& path, bool followLinks, FileIdentity& identity, bool* isLink) {
#ifdef _WIN32
  (void)path, (void)followLinks, (void)identity, (void)isLink;
  return ENOSYS;
#else
  struct stat st {};
  const int result = followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
  if (result != 0) return errno;
  identity = identityOfStat(st);
  if (isLink != nullptr) *isLink = S_ISLNK(st.st_mode);
  return 0;
#endif
}

#ifndef _WIN32
// An entry found by lstat: whatever it is, the name is taken.
static int entryOf(const struct stat& st, EntryState& state) {
  state.exists = true;
  state.isFolder = S_ISDIR(st.st_mode);
  state.identityKnown = true;
  state.identity = identityOfStat(st);
  return 0;
}
#endif

int lookUpEntry(const std::string& path, EntryState& state) {
  state = EntryState();
#ifdef _WIN32
  std::error_code ec;
  const std::filesystem::file_status status =
      std::filesystem::symlink_status(pathFromUtf8(path), ec);
  if (status.type() == std::filesystem::file_type::not_found) return 0;
  if (ec) return ec.value();
  state.exists = true;
  state.isFolder = std::filesystem::is_directory(status);
  return 0;
#else
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
  return entryOf(st, state);
#endif
}

int lookUpEntry(const OutputFolder& folder, const std::string& name, EntryState& state) {
#ifdef _WIN32
  return lookUpEntry(folder.path() + name, state);
#else
  state = EntryState();
  struct stat st {};
  if (::fstatat(folder.descriptor(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? 0 : errno;
  }
  return entryOf(st, state);
#endif
}

bool listEntryNames(const OutputFolder& folder, std::size_t most, std::set<std::string>& names) {
  names.clear();
#ifdef _WIN32
  (void)folder, (void)most;
  return false;
#else
  // A descriptor of its own, which the listing closes, reading from the start.
  const int fd = ::openat(folder.descriptor(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    ::close(fd);
    return false;
  }
  bool complete = true;
  for (;;) {
    errno = 0;  // the end of the listing leaves it so; a failed read does not
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      complete = errno == 0;
      break;
    }
    if (names.size() >= most) {
      complete = false;
      break;
    }
    names.emplace(entry->d_name);
  }
  ::closedir(dir);
  if (!complete) names.clear();
  return complete;
#endif
}

OutputFolder::~OutputFolder() {
  close();
}

OutputFolder::OutputFolder(OutputFolder&& other) noexcept
    : path_(std::move(other.path_)), fd_(other.fd_), open_(other.open_) {
  other.fd_ = -1;
  other.open_ = false;
}

OutputFolder& OutputFolder::operator=(OutputFolder&& other) noexcept {
  if (this != &other) {
    close();
    path_ = std::move(other.path_);
    fd_ = other.fd_;
    open_ = other.open_;
    other.fd_ = -1;
    other.open_ = false;
  }
  return *this;
}

void OutputFolder::close() {
  if (fd_ >= 0) closeFile(fd_);
  fd_ = -1;
  open_ = false;
}

namespace {

bool endsInSeparator(const std::string& path) {
#ifdef _WIN32
  return !path.empty() && (path.back() == '/' || path.back() == '\\');
#else
  return !path.empty() && path.back() == '/';
#endif
}

#ifndef _WIN32
// A folder descriptor that can also be asked for the folder's attributes; a folder that may be
// written but not listed still opens as a path.
int openFolderAt(int base, const char* path) {
  int fd = ::openat(base, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 && errno == EACCES) fd = ::openat(base, path, O_PATH | O_DIRECTORY | O_CLOEXEC);
  return fd;
}
#endif

}  // namespace

int OutputFolder::open(const std::string& path) {
  close();
  path_ = endsInSeparator(path) ? path : path + char(std::filesystem::path::preferred_separator);
#ifdef _WIN32
  std::error_code ec;
  const auto status = std::filesystem::status(pathFromUtf8(path), ec);
  if (ec) return ec.value();
  if (!std::filesystem::is_directory(status)) return ENOTDIR;
#else
  fd_ = openFolderAt(AT_FDCWD, path.c_str());
  if (fd_ < 0) return errno;
#endif
  open_ = true;
  return 0;
}

int OutputFolder::openBelow(const OutputFolder& base, const std::string& relative, bool create,
                            std::string& failedAt) {
  close();
  path_ = base.path_;
#ifdef _WIN32
  path_ += relative;
  if (!endsInSeparator(path_)) path_ += '\\';
  std::error_code ec;
  if (create) std::filesystem::create_directories(pathFromUtf8(path_), ec);
  if (!ec && !std::filesystem::is_directory(pathFromUtf8(path_), ec) && !ec) {
    ec = std::make_error_code(std::errc::not_a_directory);
  }
  if (ec) {
    failedAt = path_;
    return ec.value();
  }
#else
  int at = base.fd_;
  std::size_t begin = 0;
  while (begin < relative.size()) {
    std::size_t end = relative.find('/', begin);
    if (end == std::string::npos) end = relative.size();
    const std::string part = relative.substr(begin, end - begin);
    begin = end + 1;
    if (part.empty()) continue;
    path_ += part + '/';
    int fd = openFolderAt(at, part.c_str());
    if (fd < 0 && errno == ENOENT && create) {
      if (::mkdirat(at, part.c_str(), 0777) == 0 || errno == EEXIST) {
        fd = openFolderAt(at, part.c_str());
      }
    }
    int err = errno;
    if (at != base.fd_) closeFile(at);
    if (fd < 0) {
      // As mkdir -p says it: a file in the last folder's place exists, one above it is not a
      // folder; either way the folder asked for is named.
      if (err == ENOTDIR && begin >= relative.size()) err = EEXIST;
      failedAt = base.path_ + relative;
      if (!endsInSeparator(failedAt)) failedAt += '/';
      return err ? err : EIO;
    }
    at = fd;
  }
  fd_ = at == base.fd_ ? openFolderAt(at, ".") : at;
  if (fd_ < 0) {
    failedAt = path_;
    return errno;
  }
#endif
  open_ = true;
  return 0;
}

int writeInFolder(const OutputFolder& folder, const std::string& name, BytePieces bytes,
                  Placement placement, const FileGuard* guarded, FileIdentity* written,
                  FileIdentity* found) {
#ifdef _WIN32
  const Destination to{-1, folder.path(), folder.path(), folder.path() + name};
#else
  const Destination to{folder.descriptor(), ".", "", name};
#endif
  return writeFile(to, bytes, placement, guarded, written, found);
}

namespace {

#ifndef _WIN32
std::string otherCase(const std::string& name) {
  std::string out = name;
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') {
      c = char(c - 32);
    } else if (c >= 'A' && c <= 'Z') {
      c = char(c + 32);
    }
  }
  return out;
}

bool hasAsciiLetter(const std::string& name) {
  return otherCase(name) != name;
}

// Whether name in folder and the same name in the other letter case lead to one file; unknown
// (-1) when the name itself cannot be looked up.
int sameUnderOtherCase(int folder, const std::string& name) {
  struct stat a {
  }, b{};
  if (::fstatat(folder, name.c_str(), &a, AT_SYMLINK_NOFOLLOW) != 0) return -1;
  if (::fstatat(folder, otherCase(name).c_str(), &b, AT_SYMLINK_NOFOLLOW) != 0) return 0;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino ? 1 : 0;
}

enum class CaseAnswer { Sensitive, Insensitive, CannotTell };

// What the file system's type says. Casefolding ones that can also be case-sensitive (ext4,
// f2fs, tmpfs) say it per folder, by the attribute asked before this.
CaseAnswer caseByType(unsigned long type) {
  switch (type) {
    case 0x4d44:      // vfat, msdos
    case 0x2011BAB0:  // exfat
    case 0x5346544e:  // ntfs
    case 0x7366746e:  // ntfs3
    case 0xFF534D42:  // cifs
    case 0xFE534D42:  // smb2
    case 0x517B:      // smbfs
      return CaseAnswer::Insensitive;
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // xfs
    case 0x9123683E:  // btrfs
    case 0x01021994:  // tmpfs
    case 0x858458f6:  // ramfs
    case 0xF2F52010:  // f2fs
    case 0x52654973:  // reiserfs
    case 0x2fc12fc1:  // zfs
    case 0xca451a4e:  // bcachefs
    case 0x794c7630:  // overlayfs
    case 0x3434:      // nilfs
    case 0x24051905:  // ubifs
    case 0x72b6:      // jffs2
      return CaseAnswer::Sensitive;
    default:  // fuse, nfs, 9p, ceph, hfsplus, jfs and the rest
      return CaseAnswer::CannotTell;
  }
}

// Asks by looking names up in the other case: an entry of the folder, the folder's own name in
// its parent (on the same file system), or else a probe file.
int probeLetterCase(int folder, const std::string& path, bool& ignores) {
  if (const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); fd >= 0) {
    DIR* listing = ::fdopendir(fd);
    if (listing == nullptr) ::close(fd);
    int answer = -1;
    while (listing != nullptr && answer < 0) {
      const dirent* entry = ::readdir(listing);
      if (entry == nullptr) break;
      if (hasAsciiLetter(entry->d_name)) answer = sameUnderOtherCase(folder, entry->d_name);
    }
    if (listing != nullptr) ::closedir(listing);
    if (answer >= 0) {
      ignores = answer == 1;
      return 0;
    }
  }
  std::error_code ec;
  const std::filesystem::path real = std::filesystem::canonical(pathFromUtf8(path), ec);
  const std::string own = ec ? std::string() : real.filename().string();
  struct stat self {
  }, parent{};
  if (hasAsciiLetter(own) && ::fstat(folder, &self) == 0 &&
      ::stat(real.parent_path().c_str(), &parent) == 0 && parent.st_dev == self.st_dev) {
    struct stat other {};
    const std::string otherPath = (real.parent_path() / otherCase(own)).string();
    ignores = ::stat(otherPath.c_str(), &other) == 0 && other.st_dev == self.st_dev &&
              other.st_ino == self.st_ino;
    return 0;
  }
  std::string probe;
  int slot = -1;
  for (int attempt = 0; attempt < 100; ++attempt) {
    probe = randomTemporaryName();
    slot = registerTemporary(folder, probe);
    const int fd = ::openat(folder, probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      ignores = sameUnderOtherCase(folder, probe) == 1;
      ::unlinkat(folder, probe.c_str(), 0);
      unregisterTemporary(slot);
      return 0;
    }
    const int err = errno;
    unregisterTemporary(slot);
    if (err != EEXIST) return err;
  }
  return EEXIST;
}
#endif

}  // namespace

int checkCanCreate(const std::string& folder) {
#ifdef _WIN32
  const Destination to{-1, folder, folder + "\\", ""};
#else
#ifdef O_TMPFILE
  {
    Descriptor probe;
    probe.fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (probe.fd >= 0) return 0;
    // EOPNOTSUPP and the like: the file system has no unnamed files; the named probe says more.
  }
#endif
  const Destination to{AT_FDCWD, folder, folder + "/", ""};
#endif
  std::string temp;
  int slot = -1, err = 0;
  const int fd = createNamedTemporary(to, temp, slot, err);
  if (fd < 0) return err;
  closeFile(fd);
#ifdef _WIN32
  unlinkPath(temp.c_str());
#else
  ::unlink(temp.c_str());
#endif
  unregisterTemporary(slot);
  return 0;
}

int ignoresLetterCase(const std::string& folder, bool& ignores) {
#ifdef _WIN32
  (void)folder;
  ignores = true;
  return 0;
#else
  ignores = false;
  Descriptor dir;
  dir.fd = openFolderAt(AT_FDCWD, folder.c_str());
  if (dir.fd < 0) return errno;
#ifdef FS_IOC_GETFLAGS
  // A casefolding folder says so itself (ext4, f2fs, tmpfs).
  constexpr int CaseFoldFlag = 0x40000000;  // FS_CASEFOLD_FL, missing from older headers
  int flags = 0;
  if (::ioctl(dir.fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & CaseFoldFlag) != 0) {
    ignores = true;
    return 0;
  }
#endif
  struct statfs fs {};
  if (::fstatfs(dir.fd, &fs) != 0) return errno;
  switch (caseByType((unsigned long)(fs.f_type))) {
    case CaseAnswer::Insensitive:
      ignores = true;
      return 0;
    case CaseAnswer::Sensitive:
      return 0;
    case CaseAnswer::CannotTell:
      break;
  }
  return probeLetterCase(dir.fd, folder, ignores);
#endif
}

void abandonStreamReads() noexcept {
  if (streamsAbandoned.exchange(true)) return;
#ifndef _WIN32
  const int wake = wakeWriteEnd.load();
  if (wake >= 0) {
    const char byte = 1;
    const ssize_t ignored = ::write(wake, &byte, 1);
    (void)ignored;
  }
#endif
}

void removeLiveTemporaries() noexcept {
  for (Slot& slot : slots) {
    if (slot.state.load(std::memory_order_acquire) != 2) continue;
#ifdef _WIN32
    unlinkPath(slot.path);
#else
    ::unlinkat(slot.folder, slot.path, 0);
#endif
  }
}

}  // namespace skm
