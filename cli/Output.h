#pragma once

#include <cstdio>
#include <string_view>

namespace skm::cli {

// Standard output for every command. The first write that fails is remembered with the
// system's reason, which the end of the command reports (standardOutputWritten in Commands.h).
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void printOut(const char* format, ...);

// Writes text whole to stream, after what the stream holds buffered, going on after a partial
// or interrupted write. Returns 0 or the errno of the failure; a failure on standard output is
// remembered as printOut's are.
int writeWhole(std::FILE* stream, std::string_view text);

}  // namespace skm::cli
