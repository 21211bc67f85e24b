#include "common/Error.h"

namespace quarvel {

std::string Located(const std::string& file, int line, const std::string& message) {
  if (file.empty())
    return message;
  if (line > 0)
    return file + ":" + std::to_string(line) + ": " + message;
  return file + ": " + message;
}

} // namespace quarvel
