#pragma once

#include <string>
#include <string_view>

namespace skm {

// The key under which two file names are one name in a folder that ignores letter case and
// normalisation: NFD(full case fold(NFD(name))), the canonical caseless match, in UTF-8.
// "É", "é" and "e" + U+0301 share a key, as do "Straße" and "STRASSE", or final and medial
// sigma. Bytes that are not valid UTF-8 (overlong forms, surrogates, truncated sequences) are
// kept unchanged one by one, so distinct invalid names never merge. ASCII names cost a copy.
std::string caselessNameKey(std::string_view utf8);

// Version of the Unicode Character Database the key's tables were made from.
const char* caselessNameKeyUnicodeVersion();

}  // namespace skm
