#include "cli/CommandLine.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "convert/FilePath.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#endif

namespace fs = std::filesystem;

namespace skm::cli {

namespace {

#ifdef _WIN32
constexpr bool WindowsPaths = true;
#else
constexpr bool WindowsPaths = false;
#endif

bool isSeparator(char c) {
  return c == '/' || (WindowsPaths && c == '\\');
}

bool hasWildcard(std::string_view text) {
  return text.find_first_of("*?") != std::string_view::npos;
}

std::u32string codePoints(std::string_view text) {
  const std::u16string units = utf16FromUtf8(text);
  std::u32string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t code = units[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    }
    out += code;
  }
  return out;
}

bool sameCharacter(char32_t a, char32_t b, bool ignoreCase) {
  if (a == b) return true;
  if (!ignoreCase) return false;
#ifdef _WIN32
  // The comparison the file system itself makes for names: ordinal, by the upper-case table.
  if (a < 0x10000 && b < 0x10000) {
    const wchar_t wa = wchar_t(a), wb = wchar_t(b);
    return CompareStringOrdinal(&wa, 1, &wb, 1, TRUE) == CSTR_EQUAL;
  }
  return false;
#else
  const auto lower = [](char32_t c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
  return lower(a) == lower(b);
#endif
}

// Where the component holding position `at` starts: after the last separator before it, or
// after a drive letter's colon ("C:*.skm" lists the current folder of drive C).
std::size_t componentStart(const std::string& path, std::size_t at) {
  std::size_t start = at;
  while (start > 0 && !isSeparator(path[start - 1])) --start;
  if (WindowsPaths && start == 0 && at >= 2 && path[1] == ':') start = 2;
  return start;
}

// Appends the existing paths pattern stands for, in name order at every level.
void expandPattern(const std::string& pattern, bool ignoreCase, std::vector<std::string>& out) {
  const std::size_t wildcard = pattern.find_first_of("*?");
  const std::size_t start = componentStart(pattern, wildcard);
  std::size_t end = wildcard;
  while (end < pattern.size() && !isSeparator(pattern[end])) ++end;
  const std::string folder = pattern.substr(0, start);
  const std::string component = pattern.substr(start, end - start);
  const std::string rest = pattern.substr(end);

  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(pathFromUtf8(folder.empty() ? "." : folder), ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::string name = utf8FromPath(it->path().filename());
    if (matchesWildcard(component, name, ignoreCase)) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::string path = folder + name + rest;
    if (rest.empty()) {
      out.push_back(std::move(path));
    } else if (hasWildcard(rest)) {
      if (fs::is_directory(pathFromUtf8(folder + name), ec)) expandPattern(path, ignoreCase, out);
    } else if (fs::exists(pathFromUtf8(path), ec)) {
      out.push_back(std::move(path));
    }
  }
}

#ifdef _WIN32

struct ConsoleState {
  UINT codePage = 0;
  HANDLE handles[2] = {nullptr, nullptr};
  DWORD modes[2] = {0, 0};
};
ConsoleState savedConsole;

// Output to a console is UTF-8 from here on, and the progress line's escape sequences are
// obeyed rather than shown. Pipes and files get the UTF-8 bytes as they are.
void prepareConsole() {
  const DWORD streams[2] = {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  std::FILE* const files[2] = {stdout, stderr};
  bool console = false;
  for (int i = 0; i < 2; ++i) {
    HANDLE handle = GetStdHandle(streams[i]);
    DWORD mode = 0;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) {
      continue;
    }
    console = true;
    // In text mode the C runtime may hand a console each byte as a character of its own
    // locale; in binary mode the bytes reach the console, which reads them as UTF-8 (below)
    // and ends lines at a bare line feed itself. Unbuffered, some runtimes write byte by byte
    // and the console cannot join a character's bytes again, so the streams get a buffer and
    // reach the console when flushed (the progress line and the report lines flush) or at exit.
    std::fflush(files[i]);
    _setmode(_fileno(files[i]), _O_BINARY);
    std::setvbuf(files[i], nullptr, _IOFBF, 1 << 14);
    if (SetConsoleMode(handle,
                       mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
      savedConsole.handles[i] = handle;
      savedConsole.modes[i] = mode;
    }
  }
  if (!console) return;
  const UINT codePage = GetConsoleOutputCP();
  if (codePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) savedConsole.codePage = codePage;
  std::atexit([] {
    // Text still in the buffers was written for the UTF-8 code page.
    std::fflush(stdout);
    std::fflush(stderr);
    restoreConsole();
  });
}

#endif

}  // namespace

bool matchesWildcard(std::string_view pattern, std::string_view name, bool ignoreCase) {
  const std::u32string p = codePoints(pattern);
  const std::u32string n = codePoints(name);
  // Greedy with one step back to the last star: linear for every pattern.
  std::size_t pi = 0, ni = 0, starAt = std::u32string::npos, resumeAt = 0;
  while (ni < n.size()) {
    if (pi < p.size() && p[pi] == U'*') {
      starAt = pi++;
      resumeAt = ni;
    } else if (pi < p.size() && (p[pi] == U'?' || sameCharacter(p[pi], n[ni], ignoreCase))) {
      ++pi;
      ++ni;
    } else if (starAt != std::u32string::npos) {
      pi = starAt + 1;
      ni = ++resumeAt;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == U'*') ++pi;
  return pi == p.size();
}

std::string nameCaseKey(std::string_view name) {
#ifdef _WIN32
  const std::u16string units = utf16FromUtf8(name);
  std::wstring text(units.begin(), units.end());
  if (!text.empty()) {
    std::wstring upper(text.size(), L'\0');
    // Simple one-to-one mapping (no linguistic casing), as names are compared.
    if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(), int(text.size()),
                      upper.data(), int(upper.size()), nullptr, nullptr, 0) == int(text.size())) {
      text.swap(upper);
    }
  }
  return utf8FromUtf16(std::u16string(text.begin(), text.end()));
#else
  std::string key(name);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  }
  return key;
#endif
}

std::vector<std::string> expandWildcardsIn(const std::vector<std::string>& args, bool ignoreCase) {
  std::vector<std::string> out;
  for (const std::string& arg : args) {
    const std::size_t before = out.size();
    if (hasWildcard(arg)) expandPattern(arg, ignoreCase, out);
    if (out.size() == before) out.push_back(arg);
  }
  return out;
}

std::vector<std::string> expandWildcards(const std::vector<std::string>& args) {
  if (!WindowsPaths) return args;
  return expandWildcardsIn(args, true);
}

#ifdef _WIN32

std::vector<std::string> programArguments(int, char**) {
  prepareConsole();
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return args;
  for (int i = 1; i < count; ++i) {
    const std::wstring_view arg(wide[i]);
    args.push_back(utf8FromUtf16(std::u16string(arg.begin(), arg.end())));
  }
  LocalFree(wide);
  return args;
}

void restoreConsole() {
  for (int i = 0; i < 2; ++i) {
    if (savedConsole.handles[i] != nullptr) {
      SetConsoleMode(savedConsole.handles[i], savedConsole.modes[i]);
      savedConsole.handles[i] = nullptr;
    }
  }
  if (savedConsole.codePage != 0) {
    SetConsoleOutputCP(savedConsole.codePage);
    savedConsole.codePage = 0;
  }
}

#else

std::vector<std::string> programArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

void restoreConsole() {}

#endif

}  // namespace skm::cli
