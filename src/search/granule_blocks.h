#pragma once
// Summaries of moving blocks of rows, for resampling without folding the rows
// again.
//
// The rows are cut into granules of equal length, each summarised once
// (model/sparse_regression.h); a block is `width` consecutive granules,
// starting at any granule, and its summary is merged from theirs.

#include <cstddef>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "model/sparse_regression.h"
#include "search/search_common.h"

namespace odefit::search {

// Moving blocks drawn on a grid of granules: a block of `width` granules
// starts at any granule, and its summary is merged from summaries of the
// granules (O(K^3) per merge, whatever the rows). The granules are cut into
// aligned chunks of `width`, whose prefixes and suffixes are merged once: a
// block is then the suffix of one chunk and the prefix of the next, so every
// block costs one merge, each drawn block's once.
class GranuleBlocks {
 public:
  // `granules`: at least `width` (>= 1) summaries of one shape, in row order.
  GranuleBlocks(std::vector<TriangularSummary> granules, int width)
      : prefixes_(granules), suffixes_(std::move(granules)), width_(width),
        blocks_(suffixes_.size() - Size(width) + 1) {
    const int count = static_cast<int>(suffixes_.size());
    for (int g = 0; g < count; ++g) {
      if (g % width != 0) prefixes_[Size(g)] = Merged(prefixes_[Size(g - 1)], prefixes_[Size(g)]);
    }
    for (int g = count - 2; g >= 0; --g) {
      if ((g + 1) % width != 0) suffixes_[Size(g)] = Merged(suffixes_[Size(g)], suffixes_[Size(g + 1)]);
    }
  }

  // The summary of the blocks starting at granules `firsts` (each within
  // 0 .. granules - width; not empty) together.
  TriangularSummary Resampled(std::span<const int> firsts) {
    TriangularSummary out = Block(firsts.front());
    for (std::size_t b = 1; b < firsts.size(); ++b) out.Merge(Block(firsts[b]));
    return out;
  }

 private:
  static TriangularSummary Merged(TriangularSummary first, const TriangularSummary& second) {
    first.Merge(second);
    return first;
  }

  const TriangularSummary& Block(int first) {
    std::optional<TriangularSummary>& block = blocks_[Size(first)];
    if (!block) {
      block.emplace(suffixes_[Size(first)]);
      if (first % width_ != 0) block->Merge(prefixes_[Size(first + width_ - 1)]);
    }
    return *block;
  }

  std::vector<TriangularSummary> prefixes_, suffixes_;
  int width_;
  std::vector<std::optional<TriangularSummary>> blocks_;
};

}  // namespace odefit::search
