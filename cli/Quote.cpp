#include "cli/Quote.h"

#include <cstring>

#ifdef _WIN32
#include <io.h>
#define SKM_ISATTY(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define SKM_ISATTY(f) isatty(fileno(f))
#endif

namespace skm::cli {

std::size_t utf8SequenceLength(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = byte(i);
  if (c < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  }
  if (length == 0 || i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return length;
}

namespace {

// The length of the printable character at text[i]: a well-formed UTF-8 sequence that is not a
// control character (C0, DEL, C1), or 0 when the byte there must be escaped.
std::size_t printableLength(std::string_view text, std::size_t i) {
  const auto c = static_cast<unsigned char>(text[i]);
  if (c < 0x80) return c >= 0x20 && c != 0x7F ? 1 : 0;
  // U+0080..U+009F are the C1 controls.
  if (c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) return 0;
  return utf8SequenceLength(text, i);
}

// \n, \t ... for the usual controls, three octal digits for every other byte.
void appendEscape(std::string& out, unsigned char c) {
  const char* named = std::strchr("\a\b\f\n\r\t\v", c);
  out += '\\';
  if (c != 0 && named != nullptr) {
    out += "abfnrtv"[named - "\a\b\f\n\r\t\v"];
    return;
  }
  out += char('0' + (c >> 6));
  out += char('0' + ((c >> 3) & 7));
  out += char('0' + (c & 7));
}

std::string enclosed(std::string_view text, char quote) {
  std::string out(1, quote);
  out.append(text);
  out += quote;
  return out;
}

bool isTerminal(std::FILE* stream) {
  return SKM_ISATTY(stream) != 0;
}

}  // namespace

std::string shellQuoted(std::string_view name, bool always) {
  bool plain = !name.empty(), doubleQuotable = true, hasQuote = false;
  for (std::size_t i = 0; i < name.size();) {
    const std::size_t length = printableLength(name, i);
    if (length == 0) {
      plain = doubleQuotable = false;
      ++i;
      continue;
    }
    const char c = name[i];
    i += length;
    if (length > 1) continue;
    if (std::strchr(" !\"$&()*;<=>?[\\^`|'", c) != nullptr || ((c == '#' || c == '~') && i == 1) ||
        ((c == '{' || c == '}') && name.size() == 1)) {
      plain = false;
    }
    if (c == '\'') hasQuote = true;
    // GNU tools turn to double quotes only for names of these and single quotes.
    const bool alphanumeric =
        (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!alphanumeric && std::strchr("%+,-./:@]_ '", c) == nullptr) doubleQuotable = false;
  }
  if (plain && !always) return std::string(name);
  if (hasQuote && doubleQuotable) return enclosed(name, '"');
  std::string out = "'";
  bool escaping = false;  // inside a $'...' part
  for (std::size_t i = 0; i < name.size();) {
    const std::size_t length = printableLength(name, i);
    if (length == 0) {
      if (!escaping) out += "'$'";
      escaping = true;
      appendEscape(out, static_cast<unsigned char>(name[i++]));
      continue;
    }
    if (name[i] == '\'') {
      // Its first quote closes whichever part is open.
      out += "'\\''";
    } else {
      if (escaping) out += "''";
      out.append(name, i, length);
    }
    escaping = false;
    i += length;
  }
  return out + "'";
}

std::string controlsEscaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = printableLength(text, i);
    if (length == 0) {
      appendEscape(out, static_cast<unsigned char>(text[i++]));
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  return out;
}

// Windows names cannot hold control characters, and its shells quote otherwise (a backslash is
// the path separator there): a console gets names as they are, with anything that could still
// steer it escaped.
#ifdef _WIN32
std::string shownName(std::FILE* stream, std::string_view name) {
  return isTerminal(stream) ? controlsEscaped(name) : std::string(name);
}

std::string shownQuoted(std::FILE* stream, std::string_view name) {
  return enclosed(isTerminal(stream) ? controlsEscaped(name) : std::string(name), '\'');
}
#else
std::string shownName(std::FILE* stream, std::string_view name) {
  return isTerminal(stream) ? shellQuoted(name) : std::string(name);
}

std::string shownQuoted(std::FILE* stream, std::string_view name) {
  return isTerminal(stream) ? shellQuoted(name, true) : enclosed(name, '\'');
}
#endif

std::string shownText(std::FILE* stream, std::string_view text) {
  return isTerminal(stream) ? controlsEscaped(text) : std::string(text);
}

}  // namespace skm::cli
