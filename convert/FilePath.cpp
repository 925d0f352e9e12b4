#include "convert/FilePath.h"

#include <cstdint>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <wchar.h>
#endif

#include "convert/Utf8.h"

namespace skm {

namespace {

constexpr char32_t Replacement = 0xFFFD;

// Decodes one code point at text[i] and advances i; a surrogate's three-byte encoding is taken
// as it stands (see the header), anything else malformed yields U+FFFD for its first byte.
char32_t decodeUtf8(std::string_view text, std::size_t& i) {
  const auto byte = [&](std::size_t at) { return uint8_t(text[at]); };
  const uint8_t lead = byte(i);
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
  // A stray continuation byte, a lead byte past U+10FFFF or a sequence cut short.
  if (extra == 0 || lead >= 0xF5 || text.size() - i <= std::size_t(extra)) {
    ++i;
    return Replacement;
  }
  char32_t code = lead & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    const uint8_t next = byte(i + std::size_t(k));
    if ((next & 0xC0) != 0x80) {
      ++i;
      return Replacement;
    }
    code = code << 6 | (next & 0x3F);
  }
  static constexpr char32_t Smallest[4] = {0, 0x80, 0x800, 0x10000};
  if (code < Smallest[extra] || code > 0x10FFFF) {
    ++i;
    return Replacement;
  }
  i += std::size_t(extra) + 1;
  return code;
}

}  // namespace

std::u16string utf16FromUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char32_t code = decodeUtf8(text, i);
    if (code < 0x10000) {
      out += char16_t(code);
    } else {
      out += char16_t(0xD800 + ((code - 0x10000) >> 10));
      out += char16_t(0xDC00 + ((code - 0x10000) & 0x3FF));
    }
  }
  return out;
}

std::string utf8FromUtf16(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t code = text[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    appendUtf8(code, out);
  }
  return out;
}

bool isWindowsDeviceName(std::string_view fileName) {
  std::string stem(fileName.substr(0, fileName.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem) {
    if (c >= 'a' && c <= 'z') c = char(c - 32);
  }
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" ||
      stem == "CONOUT$") {
    return true;
  }
  if (stem.size() < 4 || (stem.compare(0, 3, "COM") != 0 && stem.compare(0, 3, "LPT") != 0)) {
    return false;
  }
  const std::string_view number = std::string_view(stem).substr(3);
  // 1 to 9, or superscript one, two or three in UTF-8.
  return (number.size() == 1 && number[0] >= '1' && number[0] <= '9') || number == "\xC2\xB9" ||
         number == "\xC2\xB2" || number == "\xC2\xB3";
}

#ifdef _WIN32

namespace {

std::wstring wide(std::string_view text) {
  const std::u16string units = utf16FromUtf8(text);
  return std::wstring(units.begin(), units.end());
}

}  // namespace

std::filesystem::path pathFromUtf8(std::string_view path) {
  return std::filesystem::path(wide(path));
}

std::string utf8FromPath(const std::filesystem::path& path) {
  const std::wstring& native = path.native();
  return utf8FromUtf16(std::u16string(native.begin(), native.end()));
}

std::FILE* openFile(const std::string& path, const char* mode) {
  const std::string_view flags(mode);
  if (flags.find('x') == std::string_view::npos) {
    return _wfopen(wide(path).c_str(), wide(mode).c_str());
  }
  // The system C runtime does not know "x" in a mode; an exclusive create says the same.
  const bool binary = flags.find('b') != std::string_view::npos;
  const int fd =
      _wopen(wide(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | (binary ? _O_BINARY : _O_TEXT),
             _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  std::FILE* file = _wfdopen(fd, binary ? L"wb" : L"w");
  if (file == nullptr) _close(fd);
  return file;
}

int removeFile(const std::string& path) {
  return _wremove(wide(path).c_str());
}

#else

std::filesystem::path pathFromUtf8(std::string_view path) {
  return std::filesystem::path(std::string(path));
}

std::string utf8FromPath(const std::filesystem::path& path) {
  return path.native();
}

std::FILE* openFile(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

int removeFile(const std::string& path) {
  return std::remove(path.c_str());
}

#endif

}  // namespace skm
