#include "cli/Output.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "cli/Commands.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace skm::cli {
namespace {

// errno of the first failed write to standard output, or 0. A buffered stream may fail long
// before it is flushed for the last time, and errno says nothing by then.
int outputError = 0;

void noteOutputFailure(int err) {
  if (outputError == 0) outputError = err != 0 ? err : EIO;
}

}  // namespace

void printOut(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  errno = 0;
  const int written = std::vfprintf(stdout, format, args);
  va_end(args);
  if (written < 0 || std::ferror(stdout)) noteOutputFailure(errno);
}

int writeWhole(std::FILE* stream, std::string_view text) {
  int err = 0;
#ifdef _WIN32
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stream) != text.size() || std::fflush(stream) != 0) {
    err = errno != 0 ? errno : EIO;
  }
#else
  // Straight to the descriptor: a stdio stream drops what it held when a signal interrupts
  // its write, and loses the reason with it.
  errno = 0;
  if (std::fflush(stream) != 0) err = errno != 0 ? errno : EIO;
  const int fd = fileno(stream);
  for (std::size_t done = 0; err == 0 && done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n > 0) {
      done += std::size_t(n);
    } else if (n == 0 || errno != EINTR) {
      err = n == 0 ? EIO : errno;
    }
  }
#endif
  if (err != 0 && stream == stdout) noteOutputFailure(err);
  return err;
}

bool standardOutputWritten() {
  errno = 0;
  if ((std::fflush(stdout) != 0 || std::ferror(stdout)) && outputError == 0) {
    noteOutputFailure(errno);
  }
  if (outputError == 0) return true;
  std::fprintf(stderr, "skm2trn: cannot write to standard output: %s\n",
               std::strerror(outputError));
  return false;
}

}  // namespace skm::cli
