#include "convert/FileIo.h"

#include "convert/FilePath.h"

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
#include <poll.h>
#include <unistd.h>
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
int openNew(const char* path) {
  return ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
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
long long writeSome(int fd, const uint8_t* src, std::size_t n) {
  return ::write(fd, src, n);
}
int closeFile(int fd) {
  return ::close(fd);
}
int unlinkPath(const char* path) {
  return ::unlink(path);
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
struct Slot {
  std::atomic<int> state{0};  // 0 free, 1 being filled or emptied, 2 live
  char path[SlotLength];
};
Slot slots[SlotCount];
static_assert(std::atomic<int>::is_always_lock_free);

// Returns the slot that now holds path, or -1 when the path is too long or every slot is taken
// (the file is then written unguarded, as it would have been before).
int registerTemporary(const std::string& path) {
  if (path.size() >= SlotLength) return -1;
  for (int i = 0; i < SlotCount; ++i) {
    int expected = 0;
    if (slots[i].state.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
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

int placeFile(const std::string& temp, const std::string& target, Placement placement) {
#ifdef _WIN32
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
#else
  if (placement == Placement::Replace)
    return ::rename(temp.c_str(), target.c_str()) == 0 ? 0 : errno;
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
    return 0;
  }
  if (errno != EINVAL && errno != ENOSYS) return errno;
#endif
  // A hard link fails on an existing name just as atomically.
  if (::link(temp.c_str(), target.c_str()) != 0) return errno;
  ::unlink(temp.c_str());
  return 0;
#endif
}

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

int writeFileAtomically(const std::string& folder, const std::string& target, const uint8_t* bytes,
                        std::size_t size, Placement placement) {
  static const char Chars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::mt19937_64& random = nameGenerator();
  std::string temp;
  int fd = -1;
  int slot = -1;
  int err = EEXIST;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = folder + TemporaryPrefix;
    uint64_t bits = random();
    for (int i = 0; i < 8; ++i, bits >>= 6) temp += Chars[bits % 36];
    // Registered before it exists, so an interrupt can never miss it; the random name makes it
    // ours once open() has created it.
    slot = registerTemporary(temp);
    errno = 0;
    fd = openNew(temp.c_str());
    if (fd < 0) {
      err = errno ? errno : EIO;
      unregisterTemporary(slot);
      slot = -1;
      if (err != EEXIST) return err;
    }
  }
  if (fd < 0) return err;
  err = 0;
  std::size_t done = 0;
  while (err == 0 && done < size) {
    errno = 0;
    long long n = writeSome(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) err = errno ? errno : EIO;
    if (n > 0) done += std::size_t(n);
  }
  errno = 0;
  if (closeFile(fd) != 0 && err == 0) err = errno ? errno : EIO;
  if (err == 0) err = placeFile(temp, target, placement);
  if (err != 0) unlinkPath(temp.c_str());
  unregisterTemporary(slot);
  return err;
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
    if (slot.state.load(std::memory_order_acquire) == 2) unlinkPath(slot.path);
  }
}

}  // namespace skm
