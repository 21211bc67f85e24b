// The lines a render worker reports in: what the worker writes is what the parent reads.
#include "cli/WorkerPool.h"

#include <gtest/gtest.h>

namespace quarvel::cli {
namespace {

using TMessage = TWorkerPool::TMessage;
using TKind = TMessage::TKind;

TEST(WorkerLines, EachMessageIsReadAsItWasWritten) {
  struct TCase {
    TMessage Message;
    std::string Line;
    std::string TextRead; // differs from the text written only where a newline was
  };
  const std::string withNul("nul\0byte", 8);
  const std::vector<TCase> cases = {
      {{TKind::Progress, 50, "Loading OBJ [a b.obj]"}, "progress 50 Loading OBJ [a b.obj]", ""},
      {{TKind::Progress, 0, ""}, "progress 0 ", ""},
      {{TKind::Progress, -3, " lead and trail "}, "progress -3  lead and trail ", ""},
      {{TKind::Note, 0, "drawing on llvmpipe (software); no hardware OpenGL device was found"},
       "note drawing on llvmpipe (software); no hardware OpenGL device was found",
       ""},
      {{TKind::Note, 0, ""}, "note", ""},
      {{TKind::Warning, 0, "  two  spaces  "}, "warning   two  spaces  ", ""},
      // A newline would end the line early: it is sent as a space.
      {{TKind::Warning, 0, "first\nsecond\n"}, "warning first second ", "first second "},
      {{TKind::Wrote, 0, "out/a b_0.kxz"}, "wrote out/a b_0.kxz", ""},
      // Other control bytes pass as they are; the parent escapes them as it shows them.
      {{TKind::Error, 0, "bad\tname\r\x1b[31m"}, "error bad\tname\r\x1b[31m", ""},
      {{TKind::Error, 0, withNul}, "error " + withNul, ""},
      {{TKind::Error, 0, ""}, "error", ""},
      {{TKind::Interrupted, 0, ""}, "interrupted", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Line);
    EXPECT_EQ(c.Message.Encode(), c.Line);
    const std::optional<TMessage> read = TMessage::Parse(c.Message.Encode());
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->Kind, c.Message.Kind);
    EXPECT_EQ(read->Percent, c.Message.Percent);
    EXPECT_EQ(read->Text, c.TextRead.empty() ? c.Message.Text : c.TextRead);
  }
}

TEST(WorkerLines, ALineOfNoKnownKindIsNoMessage) {
  for (const std::string line : {"", " progress 5 x", "progression 5 x", "Progress 5 x", "done"}) {
    SCOPED_TRACE(line);
    EXPECT_FALSE(TMessage::Parse(line).has_value());
  }
}

} // namespace
} // namespace quarvel::cli
