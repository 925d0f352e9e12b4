#include "convert/NameFold.h"

namespace skm {

// Stand-in until the full table arrives: ASCII letters only.
std::string caselessNameKey(std::string_view utf8) {
  std::string key(utf8);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  }
  return key;
}

}  // namespace skm
