#pragma once

namespace quarvel {

// "1.1.0": the program's version, as --version prints it.
const char* VersionText();

} // namespace quarvel
