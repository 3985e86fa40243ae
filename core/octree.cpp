// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/octree.h"

#include <algorithm>

namespace inkbrite {

OctreeQuantiser::OctreeQuantiser(int maxColours, int colourBits)
    : m_maxColours(static_cast<size_t>(std::max(maxColours, 1))),
      m_colourBits(std::clamp(colourBits, 1, 8)),
      m_memo(size_t{1} << kMemoBits) {
  // Only the top colourBits bits of each channel choose the path.
  const uint32_t channel = (0xFFu << (8 - m_colourBits)) & 0xFFu;
  m_keyMask = (channel << 16) | (channel << 8) | channel;
}

int32_t OctreeQuantiser::NewNode(int level) {
  int32_t id;
  if (!m_free.empty()) {
    id = m_free.back();
    m_free.pop_back();
    m_nodes[static_cast<size_t>(id)] = Node{};
  } else {
    id = static_cast<int32_t>(m_nodes.size());
    m_nodes.emplace_back();
  }
  Node& node = m_nodes[static_cast<size_t>(id)];
  if (level == m_colourBits) {
    node.leaf = true;
    ++m_leafCount;
  } else {
    node.nextReducible = m_reducible[level];
    m_reducible[level] = id;
  }
  return id;
}

void OctreeQuantiser::FreeNode(int32_t node) { m_free.push_back(node); }

void OctreeQuantiser::AddColour(uint8_t red, uint8_t green, uint8_t blue) {
  AddColour(red, green, blue, 1);
}

// The walk creates the nodes the first pixel of the colour needs; the other
// pixels would reach the leaf it reached, or an ancestor a merge made a leaf
// since (a node is only ever made for a colour's first pixel, and a merge
// only pools sums): their sums end in the same final leaf either way.
void OctreeQuantiser::AddColour(uint8_t red, uint8_t green, uint8_t blue, uint64_t count) {
  const uint32_t colour = ((uint32_t{red} << 16) | (uint32_t{green} << 8) | blue) & m_keyMask;
  MemoEntry& memo = m_memo[(colour * 2654435761u) >> (32 - kMemoBits)];
  int32_t id;
  if (memo.generation == m_generation && memo.colour == colour) {
    id = memo.leaf;
  } else {
    if (m_root == kNone) m_root = NewNode(0);
    id = m_root;
    for (int level = 0; !m_nodes[static_cast<size_t>(id)].leaf; ++level) {
      const int shift = 7 - level;
      const int child =
          (((red >> shift) & 1) << 2) | (((green >> shift) & 1) << 1) | ((blue >> shift) & 1);
      int32_t next = m_nodes[static_cast<size_t>(id)].children[child];
      if (next == kNone) {
        next = NewNode(level + 1);  // may move the pool: index again below
        m_nodes[static_cast<size_t>(id)].children[child] = next;
      }
      id = next;
    }
    memo = MemoEntry{colour, m_generation, id};
  }
  Node& leaf = m_nodes[static_cast<size_t>(id)];
  leaf.count += count;
  leaf.sumRed += count * red;
  leaf.sumGreen += count * green;
  leaf.sumBlue += count * blue;

  while (m_leafCount > m_maxColours && ReduceOnce()) {
  }
}

void OctreeQuantiser::AddRow(const uint8_t* bgr, int32_t width) {
  for (int32_t x = 0; x < width; ++x, bgr += 3) AddColour(bgr[2], bgr[1], bgr[0]);
}

bool OctreeQuantiser::ReduceOnce() {
  int level = m_colourBits - 1;
  while (level > 0 && m_reducible[level] == kNone) --level;
  const int32_t id = m_reducible[level];
  // With two leaves or more some node is still internal, and every internal
  // node is on a list; this only guards the loop that calls it.
  if (id == kNone) return false;
  Node& node = m_nodes[static_cast<size_t>(id)];
  m_reducible[level] = node.nextReducible;
  node.nextReducible = kNone;

  size_t children = 0;
  for (int32_t& child : node.children) {
    if (child == kNone) continue;
    // The deepest level with reducible nodes was taken, so the children are
    // leaves.
    const Node& c = m_nodes[static_cast<size_t>(child)];
    node.count += c.count;
    node.sumRed += c.sumRed;
    node.sumGreen += c.sumGreen;
    node.sumBlue += c.sumBlue;
    FreeNode(child);
    child = kNone;
    ++children;
  }
  node.leaf = true;
  m_leafCount -= children - 1;  // every internal node has at least one child
  if (++m_generation == 0) {
    std::fill(m_memo.begin(), m_memo.end(), MemoEntry{});
    m_generation = 1;
  }
  return true;
}

void OctreeQuantiser::CollectLeaves(int32_t id, std::vector<Leaf>& leaves) const {
  // The recursion is at most colourBits + 1 (9) calls deep.
  const Node& node = m_nodes[static_cast<size_t>(id)];
  if (node.leaf) {
    const uint64_t n = std::max<uint64_t>(node.count, 1);
    leaves.push_back(Leaf{
        RgbQuad{static_cast<uint8_t>(node.sumBlue / n), static_cast<uint8_t>(node.sumGreen / n),
                static_cast<uint8_t>(node.sumRed / n), 0},
        node.count});
    return;
  }
  for (int32_t child : node.children) {
    if (child != kNone) CollectLeaves(child, leaves);
  }
}

std::vector<RgbQuad> OctreeQuantiser::ColourTable(int outputColours) const {
  std::vector<Leaf> leaves;
  if (m_root != kNone) CollectLeaves(m_root, leaves);
  const size_t total = leaves.size();
  const size_t wanted = static_cast<size_t>(std::max(outputColours, 1));

  std::vector<RgbQuad> table;
  if (outputColours >= 16 || wanted >= total) {
    for (const Leaf& leaf : leaves) table.push_back(leaf.entry);
    return table;
  }
  // Groups of finished entries weighted by pixel count. Every group holds at
  // least one leaf since total > wanted.
  for (size_t c = 0; c < wanted; ++c) {
    const size_t first = c * total / wanted;
    const size_t end = (c + 1) * total / wanted;
    uint64_t red = 0, green = 0, blue = 0, count = 0;
    for (size_t i = first; i < end; ++i) {
      red += uint64_t{leaves[i].entry.red} * leaves[i].count;
      green += uint64_t{leaves[i].entry.green} * leaves[i].count;
      blue += uint64_t{leaves[i].entry.blue} * leaves[i].count;
      count += leaves[i].count;
    }
    count = std::max<uint64_t>(count, 1);
    table.push_back(RgbQuad{static_cast<uint8_t>(blue / count), static_cast<uint8_t>(green / count),
                            static_cast<uint8_t>(red / count), 0});
  }
  return table;
}

}  // namespace inkbrite
