#pragma once

namespace quarvel {

// "1.0.2": the program's version, as --version prints it.
const char* VersionText();

} // namespace quarvel
