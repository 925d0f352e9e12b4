#pragma once

#include <cstddef>
#include <cstdint>
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

// How a finished temporary file takes the package's name.
enum class Placement { Replace, KeepExisting };

// Writes bytes to a new hidden temporary file in folder (which ends in a separator) and gives
// it the name target. With KeepExisting an existing target is left alone and EEXIST returned.
// The temporary name is short and fixed in length (".skm2trn-" and 8 letters or digits), so a
// package name that fits the file system never fails because of it. On any failure the
// temporary file is removed. Returns 0 or the errno of the failure.
int writeFileAtomically(const std::string& folder, const std::string& target, const uint8_t* bytes,
                        std::size_t size, Placement placement);

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
