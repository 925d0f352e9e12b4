#pragma once

#include <string>
#include <string_view>

namespace skm {

// The key under which two names are the same name in a folder that ignores letter case.
std::string caselessNameKey(std::string_view utf8);

}  // namespace skm
