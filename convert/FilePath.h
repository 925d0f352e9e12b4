#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

// Every path the library and its front ends pass around is a UTF-8 string. On POSIX systems
// that is the file name's bytes as they are; on Windows the file system speaks UTF-16, so the
// few places that open, rename, remove or list files go through these functions, which use the
// wide calls there. The narrow calls would go through the process code page and lose every
// character it lacks.
namespace skm {

// UTF-8 to UTF-16 and back. Unpaired surrogates, which Windows allows in file names, travel as
// their three-byte encodings, so every name read from the system opens again. Bytes that are
// not UTF-8 become U+FFFD.
std::u16string utf16FromUtf8(std::string_view text);
std::string utf8FromUtf16(std::u16string_view text);

// The path type for a UTF-8 path, and the UTF-8 text of a path.
std::filesystem::path pathFromUtf8(std::string_view path);
std::string utf8FromPath(const std::filesystem::path& path);

// std::fopen and std::remove for UTF-8 paths; errno says why they failed. "wx" and "wbx" create
// the file exclusively on Windows too, where the system C runtime has no "x".
std::FILE* openFile(const std::string& path, const char* mode);
int removeFile(const std::string& path);

// Whether Windows takes a file of this name (without folder) for a device: CON, PRN, AUX, NUL,
// COM1 to COM9, LPT1 to LPT9 (and the superscript forms COM¹ to COM³, LPT¹ to LPT³), CONIN$ and
// CONOUT$, in any letter case, alone or followed by any extension; spaces before the extension
// do not count.
bool isWindowsDeviceName(std::string_view fileName);

}  // namespace skm
