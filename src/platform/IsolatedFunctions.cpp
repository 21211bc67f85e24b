// The registry of isolated functions (platform/IsolatedFunctions.h).
#include "platform/IsolatedFunctions.h"

#include <cstdio>
#include <cstdlib>
#include <map>

namespace quarvel::platform {

namespace {

// Filled before main by variables of other files: made at its first use, whichever of
// them comes first.
std::map<std::string, TIsolatedFunction>& Registry() {
  static std::map<std::string, TIsolatedFunction> functions;
  return functions;
}

} // namespace

bool RegisterIsolatedFunction(const std::string& name, TIsolatedFunction run) {
  if (!Registry().emplace(name, std::move(run)).second) {
    std::fprintf(stderr, "isolated function \"%s\" registered twice\n", name.c_str());
    std::abort();
  }
  return true;
}

const TIsolatedFunction* isolated::Find(const std::string& name) {
  const auto found = Registry().find(name);
  return found == Registry().end() ? nullptr : &found->second;
}

const TIsolatedFunction& isolated::Named(const std::string& name) {
  const TIsolatedFunction* run = Find(name);
  if (run == nullptr) {
    std::fprintf(stderr, "no isolated function \"%s\" is registered\n", name.c_str());
    std::abort();
  }
  return *run;
}

} // namespace quarvel::platform
