#include "common/Version.h"

namespace quarvel {

const char* VersionText() { return QUARVEL_VERSION; }

} // namespace quarvel
