// SPDX-License-Identifier: GPL-2.0-or-later
// Octree colour quantiser (Gervautz and Purgathofer), as the colour modes use
// it.
//
// Adding a colour walks down from the root (level 0). At level L the child
// taken is
//
//     bit (7 - L) of red * 4 + bit (7 - L) of green * 2 + bit (7 - L) of blue
//
// so a node at level L stands for the colours sharing the top L bits of each
// channel. Nodes created at level colourBits are leaves; every other new node
// goes to the FRONT of the reducible list of its level. A leaf counts its
// pixels and sums their channels.
//
// After every added colour, while there are more leaves than maxColours, the
// deepest level from colourBits - 1 up to the root whose reducible list is
// not empty gives up its front node (the one created last), which absorbs its
// children (all leaves) and becomes a leaf itself.
//
// The colour table lists the leaves depth first, children in index order 0 to
// 7, each entry being sum / count per channel (integer division). For grey
// input every child index is 0 or 7, so the entries ascend in lightness.
//
// Sums and counts are 64 bits wide: a page of 65535 x 32767 pixels of value
// 255 sums to about 5.5e11, beyond 32 bits.
//
// Nodes live in one pool and are reused after a merge; adding a pixel never
// allocates once the tree has reached its size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/dib_image.h"

namespace inkbrite {

class OctreeQuantiser {
 public:
  // maxColours at least 1; colourBits is clamped to 1 .. 8.
  OctreeQuantiser(int maxColours, int colourBits);

  void AddColour(uint8_t red, uint8_t green, uint8_t blue);
  // `count` pixels of one colour at once. The tree (its nodes, merges, sums
  // and table) depends only on the order in which colours first appear and
  // on how many pixels each has: a page's distinct colours added with their
  // counts, in the order of their first pixels, give the tree of the page
  // added pixel by pixel.
  void AddColour(uint8_t red, uint8_t green, uint8_t blue, uint64_t count);
  // Adds `width` pixels stored as blue, green, red, left to right.
  void AddRow(const uint8_t* bgr, int32_t width);

  size_t LeafCount() const { return m_leafCount; }

  // The colour table for `outputColours` colours.
  //
  // With 16 or more, the entries are the leaves. With fewer, the leaves
  // (L of them) are grouped when L > outputColours: entry c merges leaves
  // c * L / outputColours to (c + 1) * L / outputColours - 1, each channel
  // being the mean of those leaves' entries weighted by their pixel counts,
  // sum(entry * count) / sum(count). Otherwise the leaves are kept as they
  // are. Empty before any colour is added.
  std::vector<RgbQuad> ColourTable(int outputColours) const;

 private:
  static constexpr int32_t kNone = -1;

  struct Node {
    uint64_t count = 0;
    uint64_t sumRed = 0;
    uint64_t sumGreen = 0;
    uint64_t sumBlue = 0;
    int32_t children[8] = {kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone};
    int32_t nextReducible = kNone;
    bool leaf = false;
  };
  struct Leaf {
    RgbQuad entry;
    uint64_t count;
  };

  int32_t NewNode(int level);
  void FreeNode(int32_t node);
  // Merges one node; false when no node is left to merge.
  bool ReduceOnce();
  void CollectLeaves(int32_t node, std::vector<Leaf>& leaves) const;

  std::vector<Node> m_nodes;
  std::vector<int32_t> m_free;
  int32_t m_reducible[9] = {kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone};
  int32_t m_root = kNone;
  size_t m_leafCount = 0;
  size_t m_maxColours;
  int m_colourBits;

  // Colours recently added and the leaf each reached, keyed by the colour's
  // top colourBits bits per channel (all the walk looks at). Adding never
  // turns a node into a leaf, so a colour ends at the same leaf until the
  // next merge; a merge moves to a new generation, which empties the memo at
  // once. The memo is direct-mapped by a hash of the key and allocated with
  // the quantiser; most pixels of a page skip the walk down the tree.
  struct MemoEntry {
    uint32_t colour = 0;
    uint32_t generation = 0;  // 0: never filled
    int32_t leaf = kNone;
  };
  static constexpr int kMemoBits = 15;
  std::vector<MemoEntry> m_memo;
  uint32_t m_keyMask = 0xFFFFFF;
  uint32_t m_generation = 1;  // on wrapping, the memo is cleared
};

}  // namespace inkbrite
