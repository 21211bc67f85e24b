// Octree colour quantizer: reduces a stream of colours to at most ColourLimit
// representative colours.
//
// Every colour descends a tree that branches on one bit of red, green and blue per level
// (red is the most significant bit of the child index). Whenever the tree has more leaves
// than allowed, the most recently created branching node of the deepest level that has
// one is folded into a leaf holding the sums of its children. Which colours survive
// therefore depends on the order of insertion, not on pixel counts; the palette builder
// relies on that order being reproduced exactly.
//
// Memory is bounded by ColourLimit * Depth nodes. Create with Depth outside 1..8 or
// ColourLimit below 1, or AddImage with a dimension of 1,048,576 or more, throws
// quarvel::Error "Assertion failure (<file>, line <n>)".
#pragma once

#include "colour/Colour.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace quarvel {

struct TOctreeNode {
  bool Leaf = false;
  // 64-bit so that millions of colours folded into one leaf cannot overflow; the
  // averages are the same as with 32-bit sums wherever those would not overflow.
  int64_t Pixels = 0;
  int64_t SumRed = 0;
  int64_t SumGreen = 0;
  int64_t SumBlue = 0;
  TOctreeNode* NextReducible = nullptr; // next branching node of the same level
  std::array<std::unique_ptr<TOctreeNode>, 8> Children;
};

class TColorQuantizer {
public:
  TColorQuantizer(int32_t ColourLimit, int32_t Depth);
  ~TColorQuantizer();
  TColorQuantizer(const TColorQuantizer&) = delete;
  TColorQuantizer& operator=(const TColorQuantizer&) = delete;

  // Inserts every pixel of a 24-bit image: rows in memory order, each left to right,
  // reducing the tree after each pixel while it has more than ColourLimit leaves.
  void AddImage(const TRGBTriple* Pixels, int32_t Width, int32_t Height);
  void AddImage(const TRGBTripleArray& Row) {
    AddImage(Row.data(), static_cast<int32_t>(Row.size()), Row.empty() ? 0 : 1);
  }
  // One colour, with the same reduction afterwards.
  void AddColour(TRGBTriple Colour);

  // One palette entry per leaf, depth first with children in index order: the truncated
  // averages of the leaf, extra byte 0. An empty tree gives none.
  std::vector<TPaletteEntry> ExtractPalette() const;

  int32_t Leaves() const { return FLeaves; }

private:
  void InsertColour(std::unique_ptr<TOctreeNode>& Node, uint8_t Red, uint8_t Green, uint8_t Blue,
                    int32_t Level);
  void ReduceOnce();
  void FreeTree();

  std::unique_ptr<TOctreeNode> Root;
  int32_t FLeaves = 0;
  std::array<TOctreeNode*, 8> ReducibleLists{};
  int32_t ColourLimit;
  int32_t Depth;
};

} // namespace quarvel
