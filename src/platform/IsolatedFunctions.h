// The functions registered for isolated runs (RegisterIsolatedFunction), by name: what
// each system's TIsolatedWorker runs, and what a Windows worker finds again by the name
// on its command line.
#pragma once

#include "platform/Platform.h"

#include <string>

namespace quarvel::platform::isolated {

// The function registered as `name`; null when none is.
const TIsolatedFunction* Find(const std::string& name);

// Find, for a TIsolatedWorker: a name never registered ends the program with a message
// (a fault of the program's own, which no run could mend).
const TIsolatedFunction& Named(const std::string& name);

} // namespace quarvel::platform::isolated
