// An isolated worker's answer put together from the pieces its pipe hands over, however
// the bytes are cut: the whole answer, its kind, and a length refused before anything is
// allocated for it.
#include "platform/IsolatedAnswers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

namespace quarvel::platform::isolated {
namespace {

TEST(IsolatedAnswers, AReaderPutsTheAnswerTogetherFromPiecesOfAnySize) {
  struct TCase {
    TIsolatedAnswer Said;
    size_t Piece;      // most bytes the pipe hands over at a time
    uint64_t MaxBytes; // the caller's limit
    TIsolatedEnd End;
  };
  const std::string body = "sprite bytes";
  const TCase cases[] = {
      {{false, body}, 1, 1024, TIsolatedEnd::Done},
      {{false, body}, 4, 1024, TIsolatedEnd::Done},
      {{false, body}, 1024, 1024, TIsolatedEnd::Done},
      {{true, "refused: bad file"}, 3, 1024, TIsolatedEnd::Refused},
      {{true, ""}, 2, 1024, TIsolatedEnd::Refused},
      {{false, ""}, 1024, 0, TIsolatedEnd::Done},
      {{false, body}, 5, body.size(), TIsolatedEnd::Done},
      {{false, body}, 5, body.size() - 1, TIsolatedEnd::TooLarge},
  };
  for (const TCase& c : cases) {
    const auto head = AnswerHead(c.Said);
    const std::string wire = std::string(head.begin(), head.end()) + c.Said.Bytes;
    std::string bytes;
    TAnswerReader reader(bytes, c.MaxBytes);
    std::optional<TIsolatedEnd> end;
    size_t at = 0;
    while (!end && at < wire.size()) {
      const size_t n = std::min({c.Piece, reader.Wanted(), wire.size() - at});
      wire.copy(reader.Next(), n, at);
      at += n;
      end = reader.Took(n);
    }
    SCOPED_TRACE("\"" + c.Said.Bytes + "\" in pieces of " + std::to_string(c.Piece));
    ASSERT_EQ(end, c.End);
    if (c.End == TIsolatedEnd::TooLarge) {
      EXPECT_EQ(at, head.size()); // refused at the length, before the body
      EXPECT_TRUE(bytes.empty());
    } else {
      EXPECT_EQ(at, wire.size());
      EXPECT_EQ(bytes, c.Said.Bytes);
    }
  }
}

} // namespace
} // namespace quarvel::platform::isolated
