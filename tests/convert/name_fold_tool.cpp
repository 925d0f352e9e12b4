// Filter for the name-key oracle: each input line is a name's bytes in hexadecimal, each output
// line the hexadecimal bytes of its caseless key. "--version" prints the tables' Unicode version.
#include <cstdio>
#include <iostream>
#include <string>

#include "convert/NameFold.h"

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::printf("%s\n", skm::caselessNameKeyUnicodeVersion());
    return 0;
  }
  std::ios::sync_with_stdio(false);
  static const char kDigits[] = "0123456789abcdef";
  std::string line, name, out;
  while (std::getline(std::cin, line)) {
    name.clear();
    for (size_t i = 0; i + 1 < line.size(); i += 2) {
      const int high = hexValue(line[i]), low = hexValue(line[i + 1]);
      if (high < 0 || low < 0) {
        std::cerr << "bad hex line: " << line << "\n";
        return 2;
      }
      name += char(high << 4 | low);
    }
    out.clear();
    for (unsigned char b : skm::caselessNameKey(name)) {
      out += kDigits[b >> 4];
      out += kDigits[b & 15];
    }
    out += '\n';
    std::cout << out;
  }
  return std::cout.flush() ? 0 : 1;
}
