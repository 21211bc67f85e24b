#include "models/OBJText.h"

namespace quarvel {

namespace {

inline bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

// Per byte: 1 = token character, 2 = '/', 4 = '"', 8 = '+'. One lookup per character on
// the hot path instead of a chain of range tests.
struct TTokenTable {
  unsigned char Kind[256] = {};
  TTokenTable() {
    for (int c = 0; c < 256; ++c)
      Kind[c] = IsTokenChar(static_cast<char>(c)) ? 1 : 0;
    Kind[static_cast<unsigned char>('/')] |= 2;
    Kind[static_cast<unsigned char>('"')] = 4;
    Kind[static_cast<unsigned char>('+')] = 8;
  }
};
const TTokenTable TokenTable;

bool IsDigitOrDot(char c) {
  return (c >= '0' && c <= '9') || c == '.';
}

// '+' separates tokens, except where a number's sign stands. Taking it as a separator
// there lost data without a word: "v +1 2 3" became (0, 0, 0), and "1.5e+3", as many
// exporters write exponents, was cut to "1.5e" and refused. So a '+' belongs to the
// token at its start (`built` is what the token holds so far) and right after the
// exponent's 'e' of a number ("1.5e+3", ".5E+2").
bool PlusInToken(std::string_view built) {
  const size_t n = built.size();
  if (n == 0)
    return true;
  return n >= 2 && (built[n - 1] == 'e' || built[n - 1] == 'E') && IsDigitOrDot(built[n - 2]);
}

template <bool SlashEnds>
void SplitToken(std::string_view text, std::string_view& token, std::string_view& rest,
                std::string& scratch) {
  const size_t n = text.size();
  size_t i = 0;
  // Fast path: plain token characters (kind 1; '/' is 3 and ends an index token) form
  // a view into the text.
  const unsigned char accept = SlashEnds ? 1 : 3;
  while (i < n) {
    const unsigned char kind = TokenTable.Kind[static_cast<unsigned char>(text[i])];
    if (kind == 8 && PlusInToken(text.substr(0, i))) {
      ++i;
      continue;
    }
    if (kind == 0 || (kind & ~accept) != 0)
      break;
    ++i;
  }
  if (i == n) {
    token = text;
    rest = std::string_view();
    return;
  }
  if (text[i] != '"') {
    token = text.substr(0, i);
    rest = TrimBlanks(text.substr(i + 1));
    return;
  }
  // A quote: the token is no longer a plain slice, so it is built in scratch.
  scratch.assign(text.data(), i);
  bool quoted = false;
  for (; i < n; ++i) {
    const char c = text[i];
    if (c == '"') {
      quoted = !quoted;
      continue;
    }
    if (SlashEnds && c == '/')
      break;
    if (quoted || IsTokenChar(c) || (c == '+' && PlusInToken(scratch))) {
      scratch.push_back(c);
      continue;
    }
    break;
  }
  token = scratch;
  rest = (i < n) ? TrimBlanks(text.substr(i + 1)) : std::string_view();
}

} // namespace

bool MatchKeyword(std::string_view keyword, std::string_view line, std::string_view& rest) {
  if (line.size() < keyword.size() || line.compare(0, keyword.size(), keyword) != 0) {
    rest = std::string_view();
    return false;
  }
  size_t i = keyword.size();
  while (i < line.size() && IsBlank(line[i]))
    ++i;
  rest = line.substr(i);
  return true;
}

void NextToken(std::string_view text, std::string_view& token, std::string_view& rest,
               std::string& scratch) {
  SplitToken<false>(text, token, rest, scratch);
}

void NextIndexToken(std::string_view text, std::string_view& token, std::string_view& rest,
                    std::string& scratch) {
  SplitToken<true>(text, token, rest, scratch);
}

void NextToken(std::string_view text, std::string& token, std::string& rest) {
  const std::string copy(text); // `text` may view `token` or `rest`
  text = copy;
  std::string scratch;
  std::string_view t, r;
  NextToken(text, t, r, scratch);
  token.assign(t);
  rest.assign(r);
}

void NextIndexToken(std::string_view text, std::string& token, std::string& rest) {
  const std::string copy(text);
  text = copy;
  std::string scratch;
  std::string_view t, r;
  NextIndexToken(text, t, r, scratch);
  token.assign(t);
  rest.assign(r);
}

} // namespace quarvel
