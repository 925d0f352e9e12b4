#include "convert/Version.h"

namespace skm {

const char* versionText() {
  return SKM2TRN_VERSION;
}

}  // namespace skm
