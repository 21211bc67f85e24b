#include "common/Text.h"

namespace quarvel {

void LowerCaseASCII(std::string& text) {
  for (char& c : text)
    c = LowerASCII(c);
}

std::string ToLowerASCII(std::string text) {
  LowerCaseASCII(text);
  return text;
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size())
    return false;
  const std::string_view tail = text.substr(text.size() - suffix.size());
  for (size_t i = 0; i < suffix.size(); ++i)
    if (LowerASCII(tail[i]) != LowerASCII(suffix[i]))
      return false;
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= 32)
    ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32)
    --end;
  return text.substr(begin, end - begin);
}

std::string_view DropByteOrderMark(std::string_view text) {
  if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0)
    text.remove_prefix(3);
  return text;
}

} // namespace quarvel
