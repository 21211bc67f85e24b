// Text routines shared by the OBJ and MTL readers.
//
// Lines reach the readers already trimmed (TrimBlanks). A token is a run of
// IsTokenChar characters, plus a '+' where a number's sign stands (at the start of the
// token, and right after the 'e' or 'E' of an exponent that follows a digit or '.'; any
// other '+' separates as before); a '"' toggles a quoted mode in which every character
// belongs to the token and the quote itself is dropped. The first character that ends
// a token is consumed, and what follows it, trimmed, is the rest.
//
// Tokens are views: into the scanned text when no quote was met (the common case, no
// copy), otherwise into the caller's `scratch` string, which the next call with the
// same scratch overwrites. A view stays valid only as long as what it points into.
#pragma once

#include "common/Text.h"

#include <string>
#include <string_view>

namespace quarvel {

// True when `line` starts with `keyword` exactly (case-sensitive). `rest` is then the
// remainder of the line with leading characters of code 32 or less removed; when false,
// `rest` is empty.
bool MatchKeyword(std::string_view keyword, std::string_view line, std::string_view& rest);

// 'a'..'z', 'A'..'Z', '0'..'9', '.', '-', '/', '_'.
inline bool IsTokenChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '/' || c == '_';
}

// Splits the first token off `text`. A separator at the very start gives an empty token.
void NextToken(std::string_view text, std::string_view& token, std::string_view& rest,
               std::string& scratch);
// As NextToken, but '/' also ends the token, even inside quotes.
void NextIndexToken(std::string_view text, std::string_view& token, std::string_view& rest,
                    std::string& scratch);

// Owning forms, for callers that keep the results (tests, tools).
void NextToken(std::string_view text, std::string& token, std::string& rest);
void NextIndexToken(std::string_view text, std::string& token, std::string& rest);

} // namespace quarvel
