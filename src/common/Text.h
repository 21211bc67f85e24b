// Small text routines every reader shares: ASCII case folding, trimming, and the one way
// the program splits a text file into lines.
//
// Case folding is ASCII only on purpose: names in our files come from a platform that
// folds only 'A'..'Z', and a locale must not change which file or keyword matches.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace quarvel {

inline char LowerASCII(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
// 'A'..'Z' become 'a'..'z' in place; every other byte stays.
void LowerCaseASCII(std::string& text);
// A lower-cased copy.
std::string ToLowerASCII(std::string text);
// True when `text` ends with `suffix`, letter case ignored (ASCII).
bool EndsWithNoCase(std::string_view text, std::string_view suffix);

// Removes every character of code 32 or less (blanks, tabs, CR, control codes) at both ends.
std::string_view TrimBlanks(std::string_view text);

// `text` without a leading UTF-8 byte-order mark (written by some editors; it is not
// part of the first line).
std::string_view DropByteOrderMark(std::string_view text);

// `text` with every byte that begins no well-formed UTF-8 sequence (a stray continuation
// byte, a cut or overlong sequence, a surrogate, a code point past U+10FFFF) replaced by
// U+FFFD; valid text comes back as it is.
std::string WellFormedUtf8(std::string_view text);

// `text` made safe to quote back in a message: control bytes (below 32, and 127) and bytes that are
// not well-formed UTF-8 are shown as \xHH, and after `maxChars` shown characters the rest is cut
// and "..." added. Input files are not ours: a raw ESC in a warning would drive the user's
// terminal, and a megabyte-long word would become a megabyte-long log line.
constexpr size_t QuotedTextChars = 80;
std::string Printable(std::string_view text, size_t maxChars = QuotedTextChars);
// Printable(text) between single quotes, as every message quotes input.
std::string Quoted(std::string_view text, size_t maxChars = QuotedTextChars);

// A whole message made safe for a terminal or log: Printable line by line, with nothing
// cut. Names of jobs and files come from folders that are not ours (a shared repository
// can hold a file named with ESC), and every line the command line prints passes here.
std::string ForTerminal(std::string_view text);

// "1 frame", "3 frames": a count with its noun in the right number (`plural` defaults to
// `singular` + "s").
std::string Counted(int64_t count, std::string_view singular, std::string_view plural = {});

// Calls onLine(line, index) for every line of `text`, untrimmed, and returns the count.
// CR LF, LF and CR end a line; a final line end adds no empty line; empty text has none.
// The byte-order mark is the caller's (DropByteOrderMark). Texts without a CR take a
// memchr path: large models are split at the speed of a scan.
template <typename F> int32_t ForEachLine(std::string_view text, F&& onLine) {
  const char* p = text.data();
  const char* end = p + text.size();
  int32_t index = 0;
  const bool hasCR = !text.empty() && std::memchr(p, '\r', text.size()) != nullptr;
  while (p < end) {
    const char* stop;
    const char* next;
    if (!hasCR) {
      stop = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
      if (stop == nullptr)
        stop = end;
      next = stop < end ? stop + 1 : end;
    } else {
      stop = p;
      while (stop < end && *stop != '\n' && *stop != '\r')
        ++stop;
      next = stop;
      if (next < end)
        next += (*next == '\r' && next + 1 < end && next[1] == '\n') ? 2 : 1;
    }
    onLine(std::string_view(p, static_cast<size_t>(stop - p)), index);
    ++index;
    p = next;
  }
  return index;
}

} // namespace quarvel
