#include "common/Error.h"

#include "common/Text.h"

namespace quarvel {

namespace {

// File names come from input files too (an include line, a model name): they are shown
// escaped, and a name of absurd length is cut, like any other quoted input.
constexpr size_t ShownFileNameChars = 200;

} // namespace

std::string Located(const std::string& file, int line, const std::string& message) {
  if (file.empty())
    return message;
  const std::string shown = Printable(file, ShownFileNameChars);
  if (line > 0)
    return shown + ":" + std::to_string(line) + ": " + message;
  return shown + ": " + message;
}

} // namespace quarvel
