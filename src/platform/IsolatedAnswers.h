// How an isolated worker's answers travel back, on every system: a kind, the length (8
// bytes, this machine's order: both ends are one program) and the bytes. The caller reads
// them as its pipe hands them over, in pieces of any size.
#pragma once

#include "platform/Platform.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>

namespace quarvel::platform::isolated {

constexpr char AnswerDone = 'D';
constexpr char AnswerRefused = 'R';
constexpr size_t AnswerHeadBytes = 1 + sizeof(uint64_t);

inline std::array<char, AnswerHeadBytes> AnswerHead(const TIsolatedAnswer& said) {
  std::array<char, AnswerHeadBytes> head{};
  head[0] = said.Refused ? AnswerRefused : AnswerDone;
  const uint64_t length = said.Bytes.size();
  std::memcpy(head.data() + 1, &length, sizeof length);
  return head;
}

// Puts an answer together in `bytes`: ask Next/Wanted where the pipe's next bytes go,
// then tell Took how many came.
class TAnswerReader {
public:
  TAnswerReader(std::string& bytes, uint64_t maxBytes) : Bytes(bytes), MaxBytes(maxBytes) {}

  char* Next() { return InHead() ? Head.data() + HeadRead : Bytes.data() + BytesRead; }
  size_t Wanted() const { return InHead() ? Head.size() - HeadRead : Bytes.size() - BytesRead; }

  // How the run ends once the answer is whole (Done or Refused) or too long (TooLarge,
  // the worker is to be ended); nothing while more is to come. The worker's length is
  // checked before anything is allocated for it: a worker that misbehaves must not make
  // the caller run out of memory.
  std::optional<TIsolatedEnd> Took(size_t n) {
    if (InHead()) {
      HeadRead += n;
      if (InHead())
        return std::nullopt;
      uint64_t length = 0;
      std::memcpy(&length, Head.data() + 1, sizeof length);
      if (length > MaxBytes)
        return TIsolatedEnd::TooLarge;
      Bytes.resize(static_cast<size_t>(length));
    } else {
      BytesRead += n;
    }
    if (BytesRead < Bytes.size())
      return std::nullopt;
    return Head[0] == AnswerRefused ? TIsolatedEnd::Refused : TIsolatedEnd::Done;
  }

private:
  bool InHead() const { return HeadRead < Head.size(); }

  std::string& Bytes;
  const uint64_t MaxBytes;
  std::array<char, AnswerHeadBytes> Head{};
  size_t HeadRead = 0;
  size_t BytesRead = 0;
};

} // namespace quarvel::platform::isolated
