// Golden containers: each case's expected .2p5d holds the finished sheet (depth plane,
// index plane, palette); written again as a container and palette it must give the
// expected .kxz and .p16 byte for byte, and the expected .kxz must read back to the same
// planes.
#include "common/FileLookup.h"
#include "output/KXFile.h"
#include "output/Palette16.h"
#include "output/Readers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace quarvel {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes FileBytes(const fs::path& p) {
  const std::string s = ReadWholeFile(p.string());
  return Bytes(s.begin(), s.end());
}

std::vector<fs::path> GoldenSheets() {
  std::vector<fs::path> sheets;
  const fs::path root = fs::path(QUARVEL_SHARED_TESTDATA) / "golden";
  std::error_code ec;
  if (!fs::is_directory(root, ec))
    return sheets;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.path().extension() == ".2p5d")
      sheets.push_back(entry.path());
  std::sort(sheets.begin(), sheets.end());
  return sheets;
}

TEST(GoldenKXZ, ReencodedSheetsMatch) {
  const std::vector<fs::path> sheets = GoldenSheets();
  if (sheets.empty())
    GTEST_SKIP() << "no golden data under " << QUARVEL_SHARED_TESTDATA;
  for (const fs::path& raw : sheets) {
    SCOPED_TRACE(raw.string());
    fs::path kxz = raw, p16 = raw;
    kxz.replace_extension(".kxz");
    p16.replace_extension(".p16");
    const TAngleSheet sheet = Read2P5D(raw.string());
    ASSERT_GT(sheet.FrameCount(), 0);

    const Bytes expected = FileBytes(kxz);
    const Bytes written = SheetToKXZ(sheet);
    ASSERT_EQ(written.size(), expected.size());
    EXPECT_TRUE(written == expected);
    EXPECT_TRUE(Palette16Bytes(sheet.Palette) == FileBytes(p16));

    // The expected container decodes to the sheet's own planes, frame by frame.
    const TKXContents kx = ReadKXZ(kxz.string(), sheet.FrameWidth, sheet.Height);
    EXPECT_EQ(kx.Mode, 'Z');
    const TAngleSheet back = KXZToSheet(kx);
    EXPECT_TRUE(back.IndexPlane == sheet.IndexPlane);
    // The container keeps depth only under visible pixels.
    Bytes depth = sheet.DepthPlane;
    for (size_t i = 0; i < depth.size(); ++i)
      if (sheet.IndexPlane[i] == 0)
        depth[i] = 0;
    EXPECT_TRUE(back.DepthPlane == depth);
    // The palette reader gives representable entries (the ramp among them) back exactly.
    const auto entries = Palette16ToEntries(ReadPalette16(p16.string()));
    for (size_t i = 0; i < entries.size(); ++i)
      if (IsRepresentable(EntryToTriple(sheet.Palette[i]))) {
        EXPECT_EQ(entries[i], sheet.Palette[i] & 0x00FFFFFFu) << "entry " << i;
      }
  }
}

} // namespace
} // namespace quarvel
