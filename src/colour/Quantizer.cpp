#include "colour/Quantizer.h"

#include "common/Error.h"

#include <string>

namespace quarvel {

namespace {

// Broken caller contracts are reported like a failed assertion, naming where it failed.
void Require(bool condition, int line) {
  if (!condition)
    throw Error("Assertion failure (Quantizer.cpp, line " + std::to_string(line) + ")");
}

constexpr int32_t MaxDimension = 1048576;

void CollectLeaves(const TOctreeNode& node, std::vector<TPaletteEntry>& out) {
  if (node.Leaf) {
    out.push_back(MakeEntry(static_cast<uint8_t>(node.SumRed / node.Pixels),
                            static_cast<uint8_t>(node.SumGreen / node.Pixels),
                            static_cast<uint8_t>(node.SumBlue / node.Pixels), 0));
    return;
  }
  for (const auto& child : node.Children)
    if (child)
      CollectLeaves(*child, out);
}

} // namespace

TColorQuantizer::TColorQuantizer(int32_t colourLimit, int32_t depth)
    : ColourLimit(colourLimit), Depth(depth) {
  Require(depth >= 1 && depth <= 8, __LINE__);
  Require(colourLimit >= 1, __LINE__);
}

TColorQuantizer::~TColorQuantizer() {
  FreeTree();
}

void TColorQuantizer::FreeTree() {
  // Children are owned by their parents; the tree is at most nine levels deep.
  Root.reset();
  FLeaves = 0;
  ReducibleLists.fill(nullptr);
}

void TColorQuantizer::InsertColour(std::unique_ptr<TOctreeNode>& node, uint8_t red, uint8_t green,
                                   uint8_t blue, int32_t level) {
  std::unique_ptr<TOctreeNode>* slot = &node;
  for (;; ++level) {
    if (!*slot) {
      *slot = std::make_unique<TOctreeNode>();
      TOctreeNode& created = **slot;
      created.Leaf = level == Depth;
      if (created.Leaf) {
        ++FLeaves;
      } else {
        created.NextReducible = ReducibleLists[level];
        ReducibleLists[level] = &created;
      }
    }
    TOctreeNode& current = **slot;
    if (current.Leaf) {
      ++current.Pixels;
      current.SumRed += red;
      current.SumGreen += green;
      current.SumBlue += blue;
      return;
    }
    const int shift = 7 - level;
    const int mask = 0x80 >> level;
    const int index =
        ((red & mask) >> shift) * 4 + ((green & mask) >> shift) * 2 + ((blue & mask) >> shift);
    slot = &current.Children[index];
  }
}

void TColorQuantizer::ReduceOnce() {
  int32_t level = Depth - 1;
  while (level > 0 && ReducibleLists[level] == nullptr)
    --level;
  TOctreeNode* node = ReducibleLists[level];
  Require(node != nullptr, __LINE__);
  ReducibleLists[level] = node->NextReducible;
  node->NextReducible = nullptr;

  int64_t red = 0, green = 0, blue = 0;
  int32_t children = 0;
  for (auto& child : node->Children) {
    if (!child)
      continue;
    red += child->SumRed;
    green += child->SumGreen;
    blue += child->SumBlue;
    node->Pixels += child->Pixels;
    child.reset();
    ++children;
  }
  node->Leaf = true;
  node->SumRed = red;
  node->SumGreen = green;
  node->SumBlue = blue;
  FLeaves -= children - 1;
}

void TColorQuantizer::AddColour(TRGBTriple colour) {
  InsertColour(Root, colour.Red, colour.Green, colour.Blue, 0);
  while (FLeaves > ColourLimit)
    ReduceOnce();
}

void TColorQuantizer::AddImage(const TRGBTriple* pixels, int32_t width, int32_t height) {
  Require(height < MaxDimension, __LINE__);
  Require(width < MaxDimension, __LINE__);
  if (width <= 0 || height <= 0)
    return;
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  for (size_t i = 0; i < count; ++i)
    AddColour(pixels[i]);
}

std::vector<TPaletteEntry> TColorQuantizer::ExtractPalette() const {
  std::vector<TPaletteEntry> entries;
  if (Root)
    CollectLeaves(*Root, entries);
  return entries;
}

} // namespace quarvel
