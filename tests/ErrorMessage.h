// What a refusal says: the message of the program's error that `f` throws.
#pragma once

#include "common/Error.h"

#include <functional>
#include <string>

namespace quarvel::test {

// The message of the error `f` throws, or "(no error)" when it throws none.
inline std::string Message(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.what();
  }
  return "(no error)";
}

} // namespace quarvel::test
