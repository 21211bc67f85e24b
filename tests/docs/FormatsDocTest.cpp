// docs/formats.md against the program: every worked example (an ```expect block and the
// ```hex block after it) is decoded by Quarvel's readers and by a decoder written from
// the document alone (DocDecoder.h); both must find every stated value, and Quarvel's
// writers must write the decoded content back to the very same bytes. The side-colour
// ramp table is compared with the ramp the finishing step writes.
#include "DocBlocks.h"
#include "DocDecoder.h"

#include "common/Error.h"
#include "output/Finishing.h"
#include "output/KXFile.h"
#include "output/Palette16.h"
#include "output/Readers.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

namespace quarvel::test::docs {
namespace {

const char* const Doc = "formats.md";

// --- The hex dumps ------------------------------------------------------------------

bool IsHex(const std::string& s) {
  return !s.empty() && s.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

// `hexdump -C` text: "OFFSET  b0 b1 ... b15  |text|", "*" for repeats of the line above
// up to the next offset, and a last line holding only the length.
TBytes ParseHexDump(const std::string& text) {
  TBytes out;
  std::vector<uint8_t> previous;
  bool repeat = false;
  bool ended = false;
  int n = 0;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    ++n;
    const std::string at = "hex line " + std::to_string(n) + ": ";
    if (ended)
      throw std::runtime_error(at + "text after the length line");
    if (line == "*") {
      if (previous.size() != 16 || repeat)
        throw std::runtime_error(at + "'*' must follow a full line");
      repeat = true;
      continue;
    }
    const std::string body = line.substr(0, line.find('|'));
    const std::vector<std::string> words = SplitWords(body);
    if (words.empty() || words[0].size() != 8 || !IsHex(words[0]))
      throw std::runtime_error(at + "no 8-digit offset");
    const size_t offset = std::stoul(words[0], nullptr, 16);
    if (repeat) {
      if (offset < out.size() || (offset - out.size()) % 16 != 0)
        throw std::runtime_error(at + "offset after '*' is not a whole number of lines on");
      while (out.size() < offset)
        out.insert(out.end(), previous.begin(), previous.end());
      repeat = false;
    }
    if (offset != out.size())
      throw std::runtime_error(at + "offset " + words[0] + " but " + std::to_string(out.size()) +
                               " bytes so far");
    if (words.size() == 1) {
      ended = true;
      continue;
    }
    if (words.size() > 17)
      throw std::runtime_error(at + "more than 16 bytes");
    previous.clear();
    for (size_t i = 1; i < words.size(); ++i) {
      if (words[i].size() != 2 || !IsHex(words[i]))
        throw std::runtime_error(at + "'" + words[i] + "' is not a byte");
      previous.push_back(static_cast<uint8_t>(std::stoul(words[i], nullptr, 16)));
    }
    out.insert(out.end(), previous.begin(), previous.end());
  }
  if (!ended)
    throw std::runtime_error("hex dump without its length line");
  return out;
}

// --- The statements of an expect block -----------------------------------------------

enum class TKind {
  Size,
  Sheet,
  Mode,
  Frames,
  FrameSize,
  FrameRecord,
  PixelIndexDepth,
  PixelIndex,
  PixelVisible,
  PixelTransparent,
  EntryExtra,
  EntryWord,
  SameSheet,
  SamePalette
};

struct TStatement {
  std::string Text;
  TKind Kind{};
  std::vector<long> N; // the numbers, in order
  std::string Word;    // mode letter, hex word or example name
};

struct TPattern {
  TKind Kind;
  std::regex Re;
  std::set<std::string> Formats; // where the statement applies
};

const std::vector<TPattern>& Patterns() {
  static const std::vector<TPattern> patterns = {
      {TKind::Size, std::regex(R"(size: (\d+) bytes)"), {"2p5d", "kxz", "p16"}},
      {TKind::Sheet, std::regex(R"(sheet: (\d+) x (\d+), frame width (\d+))"), {"2p5d"}},
      {TKind::Mode, std::regex(R"(mode: ([SXZ]))"), {"kxz"}},
      {TKind::Frames, std::regex(R"(frames: (\d+))"), {"kxz"}},
      {TKind::FrameSize, std::regex(R"(frame size: (\d+) x (\d+))"), {"kxz"}},
      {TKind::FrameRecord,
       std::regex(R"(frame (\d+): offset (-?\d+) (-?\d+), crop (\d+) x (\d+), data (\d+) bytes?)"),
       {"kxz"}},
      {TKind::PixelIndexDepth,
       std::regex(R"(frame (\d+) pixel (\d+) (\d+): index (\d+), depth (\d+))"),
       {"2p5d", "kxz"}},
      {TKind::PixelIndex, std::regex(R"(frame (\d+) pixel (\d+) (\d+): index (\d+))"), {"kxz"}},
      {TKind::PixelVisible, std::regex(R"(frame (\d+) pixel (\d+) (\d+): visible)"), {"kxz"}},
      {TKind::PixelTransparent,
       std::regex(R"(frame (\d+) pixel (\d+) (\d+): transparent)"),
       {"2p5d", "kxz"}},
      {TKind::EntryExtra,
       std::regex(R"(entry (\d+): colour (\d+) (\d+) (\d+), extra (\d+))"),
       {"2p5d"}},
      {TKind::EntryWord,
       std::regex(R"(entry (\d+): word ([0-9A-Fa-f]{4}), colour (\d+) (\d+) (\d+))"),
       {"p16"}},
      {TKind::SameSheet, std::regex(R"(same sheet as: (\S+))"), {"kxz"}},
      {TKind::SamePalette, std::regex(R"(same palette as: (\S+))"), {"p16"}},
  };
  return patterns;
}

TStatement ParseStatement(const std::string& line, const std::string& format) {
  for (const TPattern& p : Patterns()) {
    std::smatch m;
    if (!std::regex_match(line, m, p.Re))
      continue;
    if (!p.Formats.count(format))
      throw std::runtime_error("'" + line + "' does not apply to a " + format + " file");
    TStatement s;
    s.Text = line;
    s.Kind = p.Kind;
    for (size_t i = 1; i < m.size(); ++i) {
      const std::string v = m[i].str();
      if (p.Kind == TKind::EntryWord && i == 2)
        s.Word = v;
      else if (!v.empty() && (std::isdigit(static_cast<unsigned char>(v[0])) || v[0] == '-'))
        s.N.push_back(std::stol(v));
      else
        s.Word = v;
    }
    return s;
  }
  throw std::runtime_error("'" + line + "' is no statement the test knows");
}

struct TExample {
  std::string Format; // 2p5d, kxz, p16
  std::string Name;
  std::string Where;
  TBytes Bytes;
  std::vector<TStatement> Statements;
  int FrameWidth = 0; // kxz: from "frame size"
  int FrameHeight = 0;
};

struct TDocExamples {
  std::vector<TExample> Examples;
  std::vector<TDocBlock> Ramps;
};

// Every block of the document, sorted into examples; anything that is not a known
// block, or an expect block without its hex block (or the other way round), fails.
TDocExamples LoadExamples() {
  const std::vector<TDocBlock> blocks = ReadFencedBlocks(DocPath(Doc));
  TDocExamples out;
  std::set<std::string> names;
  for (size_t i = 0; i < blocks.size(); ++i) {
    const TDocBlock& b = blocks[i];
    const std::string where = Where(Doc, b);
    if (b.Kind() == "text" || b.Kind() == "json" || b.Kind() == "tres")
      continue; // pictures, and the PNG sheets' examples (SheetsDocTest.cpp)
    if (b.Kind() == "ramp") {
      out.Ramps.push_back(b);
      continue;
    }
    if (b.Kind() == "hex")
      throw std::runtime_error(where + ": a hex block without an expect block before it");
    if (b.Kind() != "expect")
      throw std::runtime_error(where + ": unknown block '" + b.Info + "'");
    if (b.Words.size() != 3 || !std::set<std::string>{"2p5d", "kxz", "p16"}.count(b.Words[1]))
      throw std::runtime_error(where + ": an expect block is '```expect FORMAT NAME'");
    if (!names.insert(b.Words[2]).second)
      throw std::runtime_error(where + ": a second example named " + b.Words[2]);
    if (i + 1 >= blocks.size() || blocks[i + 1].Kind() != "hex" || blocks[i + 1].ProseBefore)
      throw std::runtime_error(where +
                               ": the expect block is not followed directly by a hex block");
    TExample e;
    e.Format = b.Words[1];
    e.Name = b.Words[2];
    e.Where = where;
    try {
      e.Bytes = ParseHexDump(blocks[i + 1].Text);
    } catch (const std::exception& x) {
      throw std::runtime_error(Where(Doc, blocks[i + 1]) + ": " + x.what());
    }
    std::istringstream lines(b.Text);
    std::string line;
    while (std::getline(lines, line)) {
      if (IsBlank(line))
        continue;
      try {
        e.Statements.push_back(ParseStatement(line, e.Format));
      } catch (const std::exception& x) {
        throw std::runtime_error(where + ": " + x.what());
      }
      if (e.Statements.back().Kind == TKind::FrameSize) {
        e.FrameWidth = static_cast<int>(e.Statements.back().N[0]);
        e.FrameHeight = static_cast<int>(e.Statements.back().N[1]);
      }
    }
    if (e.Statements.empty())
      throw std::runtime_error(where + ": an example states nothing");
    if (e.Format == "kxz" && e.FrameWidth == 0)
      throw std::runtime_error(where + ": a kxz example needs 'frame size: W x H'");
    out.Examples.push_back(std::move(e));
    ++i; // the hex block
  }
  return out;
}

// --- What a decoder found, in the statements' terms ---------------------------------

struct TViewFrame {
  int OffsetX = 0, OffsetY = 0, CropWidth = 0, CropHeight = 0;
  uint32_t DataSize = 0;
  std::vector<int> Index, Depth; // the whole frame
};

struct TView {
  std::string Format;
  size_t Size = 0;
  int SheetWidth = 0, SheetHeight = 0; // 2p5d
  char Mode = 0;                       // kxz
  int FrameWidth = 0, FrameHeight = 0;
  std::vector<TViewFrame> Frames;
  std::array<std::array<int, 4>, 256> Entries{}; // 2p5d: red, green, blue, extra
  std::array<int, 256> Words{};                  // p16
  std::array<std::array<int, 3>, 256> Colours{}; // p16: the words expanded
};

// Frames cut from a 2P5D sheet.
void SplitSheet(TView& v, const std::vector<int>& index, const std::vector<int>& depth) {
  const int frames = v.FrameWidth > 0 ? v.SheetWidth / v.FrameWidth : 0;
  for (int f = 0; f < frames; ++f) {
    TViewFrame fr;
    for (int y = 0; y < v.SheetHeight; ++y)
      for (int x = 0; x < v.FrameWidth; ++x) {
        const size_t i = static_cast<size_t>(y * v.SheetWidth + f * v.FrameWidth + x);
        fr.Index.push_back(index[i]);
        fr.Depth.push_back(depth[i]);
      }
    v.Frames.push_back(std::move(fr));
  }
}

TView ViewByOurReaders(const TExample& e) {
  TView v;
  v.Format = e.Format;
  v.Size = e.Bytes.size();
  if (e.Format == "2p5d") {
    const TAngleSheet s = Decode2P5D(e.Bytes.data(), e.Bytes.size(), e.Name);
    v.SheetWidth = s.SheetWidth;
    v.SheetHeight = s.Height;
    v.FrameWidth = s.FrameWidth;
    v.FrameHeight = s.Height;
    SplitSheet(v, std::vector<int>(s.IndexPlane.begin(), s.IndexPlane.end()),
               std::vector<int>(s.DepthPlane.begin(), s.DepthPlane.end()));
    for (size_t i = 0; i < 256; ++i) {
      const uint32_t p = s.Palette[i];
      v.Entries[i] = {static_cast<int>((p >> 16) & 0xFF), static_cast<int>((p >> 8) & 0xFF),
                      static_cast<int>(p & 0xFF), static_cast<int>(p >> 24)};
    }
  } else if (e.Format == "kxz") {
    const TKXContents c =
        DecodeKXZ(e.Bytes.data(), e.Bytes.size(), e.Name, e.FrameWidth, e.FrameHeight);
    v.Mode = c.Mode;
    v.FrameWidth = c.FrameWidth;
    v.FrameHeight = c.FrameHeight;
    for (const TKXReadFrame& r : c.Frames) {
      TViewFrame fr;
      fr.OffsetX = r.OffsetX;
      fr.OffsetY = r.OffsetY;
      fr.CropWidth = r.Width;
      fr.CropHeight = r.Height;
      fr.DataSize = r.DataSize;
      fr.Index.assign(r.IndexPlane.begin(), r.IndexPlane.end());
      fr.Depth.assign(r.DepthPlane.begin(), r.DepthPlane.end());
      v.Frames.push_back(std::move(fr));
    }
  } else {
    const std::array<uint16_t, 256> words = DecodePalette16(e.Bytes.data(), e.Bytes.size(), e.Name);
    const std::array<TPaletteEntry, 256> entries = Palette16ToEntries(words);
    for (size_t i = 0; i < 256; ++i) {
      v.Words[i] = words[i];
      const TRGBTriple t = EntryToTriple(entries[i]);
      v.Colours[i] = {t.Red, t.Green, t.Blue};
    }
  }
  return v;
}

TView ViewByDocDecoder(const TExample& e) {
  TView v;
  v.Format = e.Format;
  v.Size = e.Bytes.size();
  if (e.Format == "2p5d") {
    const TDocSheet s = DocDecode2P5D(e.Bytes);
    v.SheetWidth = s.SheetWidth;
    v.SheetHeight = s.Height;
    v.FrameWidth = s.FrameWidth;
    v.FrameHeight = s.Height;
    SplitSheet(v, s.Index, s.Depth);
    v.Entries = s.Palette;
  } else if (e.Format == "kxz") {
    const TDocContainer c = DocDecodeKXZ(e.Bytes, e.FrameWidth, e.FrameHeight);
    v.Mode = c.Mode;
    v.FrameWidth = e.FrameWidth;
    v.FrameHeight = e.FrameHeight;
    for (const TDocFrame& d : c.Frames)
      v.Frames.push_back(TViewFrame{d.OffsetX, d.OffsetY, d.CropWidth, d.CropHeight, d.DataSize,
                                    d.Index, d.Depth});
  } else {
    v.Words = DocDecodeP16(e.Bytes);
    for (size_t i = 0; i < 256; ++i)
      v.Colours[i] = DocExpand565(v.Words[i]);
  }
  return v;
}

// --- Checking the statements --------------------------------------------------------

std::string Num(long v) {
  return std::to_string(v);
}

// The pixel a statement names, or an explanation why there is none.
bool Pixel(const TView& v, const TStatement& s, int& index, int& depth, std::string& why) {
  const long f = s.N[0], x = s.N[1], y = s.N[2];
  if (f < 0 || static_cast<size_t>(f) >= v.Frames.size() || x < 0 || y < 0 || x >= v.FrameWidth ||
      y >= v.FrameHeight) {
    why = "no such pixel (" + Num(static_cast<long>(v.Frames.size())) + " frames of " +
          Num(v.FrameWidth) + " x " + Num(v.FrameHeight) + ")";
    return false;
  }
  const size_t i = static_cast<size_t>(y * v.FrameWidth + x);
  index = v.Frames[static_cast<size_t>(f)].Index[i];
  depth = v.Frames[static_cast<size_t>(f)].Depth[i];
  return true;
}

// Frame by frame equality with a 2P5D reference, in what this view's format keeps.
std::string CompareSheets(const TView& v, const TView& ref) {
  if (ref.Format != "2p5d")
    return "the reference is not a 2p5d example";
  if (v.Frames.size() != ref.Frames.size() || v.FrameWidth != ref.FrameWidth ||
      v.FrameHeight != ref.FrameHeight)
    return "frame count or size differs from the reference";
  for (size_t f = 0; f < v.Frames.size(); ++f)
    for (size_t i = 0; i < v.Frames[f].Index.size(); ++i) {
      const int idx = v.Frames[f].Index[i], dep = v.Frames[f].Depth[i];
      const int rIdx = ref.Frames[f].Index[i], rDep = ref.Frames[f].Depth[i];
      bool same = true;
      if (v.Mode == 'S')
        same = (idx != 0) == (rIdx != 0);
      else if (v.Mode == 'X')
        same = idx == rIdx;
      else if (v.Mode == 'Z')
        same = idx == rIdx && dep == (rIdx != 0 ? rDep : 0);
      else
        same = idx == rIdx && dep == rDep;
      if (!same)
        return "frame " + Num(static_cast<long>(f)) + " pixel " + Num(static_cast<long>(i)) +
               " is " + Num(idx) + "/" + Num(dep) + ", the reference " + Num(rIdx) + "/" +
               Num(rDep);
    }
  return "";
}

// An empty string when the statement holds for the view, else what was found instead.
std::string Check(const TStatement& s, const TView& v, const std::map<std::string, TView>& all) {
  int index = 0, depth = 0;
  std::string why;
  switch (s.Kind) {
  case TKind::Size:
    return v.Size == static_cast<size_t>(s.N[0]) ? ""
                                                 : "the file has " + Num(static_cast<long>(v.Size));
  case TKind::Sheet:
    return v.SheetWidth == s.N[0] && v.SheetHeight == s.N[1] && v.FrameWidth == s.N[2]
               ? ""
               : "found " + Num(v.SheetWidth) + " x " + Num(v.SheetHeight) + ", frame width " +
                     Num(v.FrameWidth);
  case TKind::Mode:
    return v.Mode == s.Word[0] ? "" : std::string("found mode ") + v.Mode;
  case TKind::Frames:
    return v.Frames.size() == static_cast<size_t>(s.N[0])
               ? ""
               : "found " + Num(static_cast<long>(v.Frames.size())) + " frames";
  case TKind::FrameSize:
    return v.FrameWidth == s.N[0] && v.FrameHeight == s.N[1] ? "" : "frame size differs";
  case TKind::FrameRecord: {
    if (static_cast<size_t>(s.N[0]) >= v.Frames.size())
      return "no such frame";
    const TViewFrame& f = v.Frames[static_cast<size_t>(s.N[0])];
    return f.OffsetX == s.N[1] && f.OffsetY == s.N[2] && f.CropWidth == s.N[3] &&
                   f.CropHeight == s.N[4] && f.DataSize == static_cast<uint32_t>(s.N[5])
               ? ""
               : "found offset " + Num(f.OffsetX) + " " + Num(f.OffsetY) + ", crop " +
                     Num(f.CropWidth) + " x " + Num(f.CropHeight) + ", data " +
                     Num(static_cast<long>(f.DataSize));
  }
  case TKind::PixelIndexDepth:
    if (v.Format == "kxz" && v.Mode != 'Z')
      return "only mode Z and 2p5d files keep depths";
    if (!Pixel(v, s, index, depth, why))
      return why;
    return index == s.N[3] && depth == s.N[4]
               ? ""
               : "found index " + Num(index) + ", depth " + Num(depth);
  case TKind::PixelIndex:
    if (v.Mode != 'X')
      return "'index' alone is for mode X";
    if (!Pixel(v, s, index, depth, why))
      return why;
    return index == s.N[3] ? "" : "found index " + Num(index);
  case TKind::PixelVisible:
    if (v.Mode != 'S')
      return "'visible' is for mode S";
    if (!Pixel(v, s, index, depth, why))
      return why;
    return index != 0 ? "" : "the pixel is transparent";
  case TKind::PixelTransparent:
    if (!Pixel(v, s, index, depth, why))
      return why;
    return index == 0 && depth == 0 ? "" : "found index " + Num(index) + ", depth " + Num(depth);
  case TKind::EntryExtra: {
    if (s.N[0] > 255)
      return "no such entry";
    const auto& e = v.Entries[static_cast<size_t>(s.N[0])];
    return e[0] == s.N[1] && e[1] == s.N[2] && e[2] == s.N[3] && e[3] == s.N[4]
               ? ""
               : "found " + Num(e[0]) + " " + Num(e[1]) + " " + Num(e[2]) + ", extra " + Num(e[3]);
  }
  case TKind::EntryWord: {
    if (s.N[0] > 255)
      return "no such entry";
    const size_t i = static_cast<size_t>(s.N[0]);
    const auto& c = v.Colours[i];
    return v.Words[i] == std::stoi(s.Word, nullptr, 16) && c[0] == s.N[1] && c[1] == s.N[2] &&
                   c[2] == s.N[3]
               ? ""
               : "found word " + Num(v.Words[i]) + ", colour " + Num(c[0]) + " " + Num(c[1]) + " " +
                     Num(c[2]);
  }
  case TKind::SameSheet: {
    const auto ref = all.find(s.Word);
    return ref == all.end() ? "no example " + s.Word : CompareSheets(v, ref->second);
  }
  case TKind::SamePalette: {
    const auto ref = all.find(s.Word);
    if (ref == all.end() || ref->second.Format != "2p5d")
      return "no 2p5d example " + s.Word;
    for (size_t i = 0; i < 256; ++i) {
      const auto& e = ref->second.Entries[i];
      const int word = ((e[0] >> 3) << 11) | ((e[1] >> 2) << 5) | (e[2] >> 3);
      if (v.Words[i] != word)
        return "entry " + Num(static_cast<long>(i)) + " differs from the reference";
    }
    return "";
  }
  }
  return "unknown statement";
}

// Decodes every example with `decode` and checks every statement.
template <typename Decode> void CheckAll(const std::string& decoder, Decode decode) {
  TDocExamples doc;
  ASSERT_NO_THROW(doc = LoadExamples());
  std::map<std::string, TView> views;
  for (const TExample& e : doc.Examples) {
    try {
      views[e.Name] = decode(e);
    } catch (const std::exception& x) {
      ADD_FAILURE() << e.Where << ": " << decoder << " refuses example " << e.Name << ": "
                    << x.what();
    }
  }
  int checked = 0;
  for (const TExample& e : doc.Examples) {
    const auto v = views.find(e.Name);
    if (v == views.end())
      continue;
    for (const TStatement& s : e.Statements) {
      const std::string failure = Check(s, v->second, views);
      EXPECT_EQ(failure, "") << e.Where << " (" << e.Name << ", " << decoder << "): '" << s.Text
                             << "' does not hold: " << failure;
      ++checked;
    }
  }
  EXPECT_GT(checked, 0);
}

TBytes Written(TKX_File& kx) {
  TBytes out;
  kx.WriteToStream(out);
  return out;
}

// --- The tests ------------------------------------------------------------------------

TEST(DocsFormats, EveryBlockBelongsToACheckedExample) {
  TDocExamples doc;
  ASSERT_NO_THROW(doc = LoadExamples()) << "see the conventions at the end of docs/formats.md";
  const std::string file = DocPath(Doc);
  EXPECT_EQ(static_cast<size_t>(CountFences(file, "hex")), doc.Examples.size());
  EXPECT_EQ(static_cast<size_t>(CountFences(file, "expect")), doc.Examples.size());
  EXPECT_EQ(CountFences(file, "ramp"), 1);
  // Each format has its worked example, and the container one is in the mode jobs write.
  std::set<std::string> formats;
  bool modeZ = false;
  for (const TExample& e : doc.Examples) {
    formats.insert(e.Format);
    for (const TStatement& s : e.Statements)
      modeZ = modeZ || (s.Kind == TKind::Mode && s.Word == "Z");
  }
  EXPECT_EQ(formats, (std::set<std::string>{"2p5d", "kxz", "p16"}));
  EXPECT_TRUE(modeZ) << "no mode Z container example";
}

TEST(DocsFormats, OurReadersFindWhatTheExamplesState) {
  CheckAll("Quarvel's reader", ViewByOurReaders);
}

TEST(DocsFormats, TheDocumentsOwnDecoderFindsWhatTheExamplesState) {
  CheckAll("the document's decoder", ViewByDocDecoder);
}

TEST(DocsFormats, OurWritersWriteTheExamplesByteForByte) {
  TDocExamples doc;
  ASSERT_NO_THROW(doc = LoadExamples());
  for (const TExample& e : doc.Examples) {
    SCOPED_TRACE(e.Where + " (" + e.Name + ")");
    try {
      if (e.Format == "2p5d") {
        EXPECT_EQ(Make2P5D(Decode2P5D(e.Bytes.data(), e.Bytes.size(), e.Name)), e.Bytes);
      } else if (e.Format == "p16") {
        EXPECT_EQ(Palette16Bytes(
                      Palette16ToEntries(DecodePalette16(e.Bytes.data(), e.Bytes.size(), e.Name))),
                  e.Bytes);
      } else {
        const TKXContents c =
            DecodeKXZ(e.Bytes.data(), e.Bytes.size(), e.Name, e.FrameWidth, e.FrameHeight);
        TKX_File kx(c.Mode);
        kx.FrameWidth = c.FrameWidth;
        kx.FrameHeight = c.FrameHeight;
        kx.SetFrameCount(static_cast<int>(c.Frames.size()));
        for (size_t f = 0; f < c.Frames.size(); ++f)
          kx.AddFrame(static_cast<int>(f), c.Frames[f].IndexPlane.data(),
                      c.Frames[f].DepthPlane.data());
        EXPECT_EQ(Written(kx), e.Bytes);
        // Mode Z is what a render job writes: through the sheet, as the job does.
        if (c.Mode == 'Z') {
          EXPECT_EQ(SheetToKXZ(KXZToSheet(c)), e.Bytes);
        }
      }
    } catch (const std::exception& x) {
      ADD_FAILURE() << x.what();
    }
  }
}

TEST(DocsFormats, BothDecodersRefuseEveryTruncatedExample) {
  TDocExamples doc;
  ASSERT_NO_THROW(doc = LoadExamples());
  for (const TExample& e : doc.Examples) {
    SCOPED_TRACE(e.Where + " (" + e.Name + ")");
    for (size_t n = 0; n < e.Bytes.size(); ++n) {
      TExample cut = e;
      cut.Bytes.resize(n);
      EXPECT_THROW(ViewByOurReaders(cut), Error) << n << " bytes";
      EXPECT_THROW(ViewByDocDecoder(cut), std::runtime_error) << n << " bytes";
    }
  }
}

TEST(DocsFormats, SideRampTableIsTheRampTheFilesGet) {
  TDocExamples doc;
  ASSERT_NO_THROW(doc = LoadExamples());
  ASSERT_EQ(doc.Ramps.size(), 1u);
  std::istringstream in(doc.Ramps[0].Text);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(SplitWords(line),
            (std::vector<std::string>{"entry", "red", "green", "blue", "brightness"}));
  std::vector<int> rampOf(256, 0); // brightness -> the entry the table gives
  int rows = 0;
  const TExample* sheet = nullptr;
  for (const TExample& e : doc.Examples)
    if (e.Format == "2p5d")
      sheet = &e;
  ASSERT_NE(sheet, nullptr);
  const TDocSheet written = DocDecode2P5D(sheet->Bytes);
  const std::regex row(R"(\s*(\d+)\s+(\d+)\s+(\d+)\s+(\d+)\s+(\d+)-(\d+)\s*)");
  while (std::getline(in, line)) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, row)) << "ramp row '" << line << "'";
    const int i = std::stoi(m[1]);
    ++rows;
    ASSERT_EQ(i, rows) << "ramp rows run from 1 to 24 in order";
    TPaletteEntry entry = SideRamp()[static_cast<size_t>(i)];
    SnapEntry(entry);
    const TRGBTriple t = EntryToTriple(entry);
    EXPECT_EQ((std::array<int, 3>{std::stoi(m[2]), std::stoi(m[3]), std::stoi(m[4])}),
              (std::array<int, 3>{t.Red, t.Green, t.Blue}))
        << "ramp entry " << i;
    // The example sheet's palette holds the same ramp.
    const auto& p = written.Palette[static_cast<size_t>(i)];
    EXPECT_EQ((std::array<int, 3>{p[0], p[1], p[2]}), (std::array<int, 3>{t.Red, t.Green, t.Blue}))
        << "entry " << i << " of example " << sheet->Name;
    for (int v = std::stoi(m[5]); v <= std::stoi(m[6]) && v < 256; ++v)
      rampOf[static_cast<size_t>(v)] = i;
  }
  EXPECT_EQ(rows, 24);
  for (int v = 1; v < 256; ++v)
    EXPECT_EQ(static_cast<int>(NearestRampIndex(static_cast<uint8_t>(v))),
              rampOf[static_cast<size_t>(v)])
        << "brightness " << v;
}

} // namespace
} // namespace quarvel::test::docs
