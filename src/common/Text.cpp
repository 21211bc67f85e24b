#include "common/Text.h"

#include <algorithm>

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

namespace {

// Length of the well-formed UTF-8 sequence at `p` (2 to 4), or 0 when the bytes there are
// not one (overlong forms, surrogates and code points above U+10FFFF included).
size_t UTF8SequenceLength(const unsigned char* p, const unsigned char* end) {
  const unsigned char c = p[0];
  size_t n;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF)
    n = 2;
  else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0)
      lo = 0xA0;
    else if (c == 0xED)
      hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0)
      lo = 0x90;
    else if (c == 0xF4)
      hi = 0x8F;
  } else
    return 0;
  if (static_cast<size_t>(end - p) < n)
    return 0;
  if (p[1] < lo || p[1] > hi)
    return 0;
  for (size_t i = 2; i < n; ++i)
    if (p[i] < 0x80 || p[i] > 0xBF)
      return 0;
  return n;
}

} // namespace

std::string WellFormedUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    const size_t n = *p < 0x80 ? 1 : UTF8SequenceLength(p, end);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++p;
    } else {
      out.append(reinterpret_cast<const char*>(p), n);
      p += n;
    }
  }
  return out;
}

std::string Printable(std::string_view text, size_t maxChars) {
  static const char hex[] = "0123456789abcdef";
  std::string out;
  out.reserve(std::min(text.size(), maxChars) + 8);
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  size_t shown = 0;
  while (p < end) {
    if (shown == maxChars) {
      out += "...";
      break;
    }
    const unsigned char c = *p;
    if (c >= 32 && c < 127) {
      out += static_cast<char>(c);
      ++p;
    } else if (size_t n = c >= 0x80 ? UTF8SequenceLength(p, end) : 0) {
      out.append(reinterpret_cast<const char*>(p), n);
      p += n;
    } else {
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
      ++p;
    }
    ++shown;
  }
  return out;
}

std::string ForTerminal(std::string_view text) {
  std::string out;
  for (size_t start = 0;;) {
    const size_t end = text.find('\n', start);
    out += Printable(text.substr(start, end - start), std::string::npos);
    if (end == std::string_view::npos)
      return out;
    out += '\n';
    start = end + 1;
  }
}

std::string Quoted(std::string_view text, size_t maxChars) {
  return "'" + Printable(text, maxChars) + "'";
}

std::string Counted(int64_t count, std::string_view singular, std::string_view plural) {
  std::string out = std::to_string(count) + " ";
  if (count == 1)
    out += singular;
  else if (plural.empty())
    out.append(singular).append("s");
  else
    out += plural;
  return out;
}

} // namespace quarvel
