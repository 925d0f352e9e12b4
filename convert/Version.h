#pragma once

namespace skm {

// The product version, set once in the top-level CMakeLists.txt.
const char* versionText();

}  // namespace skm
