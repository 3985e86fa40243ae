// Colour modes: greyscale, the codec container, the octree quantiser and the
// colour reductions.
//
// The quantiser and the whole reduction are checked against a slow reference
// written independently: nodes kept in a std::map by their path of child
// indices, std::deque reducible lists, explicit recursion, and a plain scan of
// the palette for the nearest entry.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/byte_io.h"
#include "core/colour.h"
#include "core/dib_image.h"
#include "core/octree.h"
#include "core/ximage.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

using test::Bgr;
using test::PixelAt;
using test::SetPixel;

// ---------------------------------------------------------------------------
// Reference

struct RefOctree {
  struct Node {
    uint64_t count = 0, r = 0, g = 0, b = 0;
    bool leaf = false;
  };
  size_t maxColours, colourBits;
  std::map<std::string, Node> nodes;  // key: the child indices from the root
  std::deque<std::string> reducible[9];
  size_t leaves = 0;

  void Make(const std::string& path) {
    nodes[path].leaf = path.size() == colourBits;
    if (nodes[path].leaf) {
      ++leaves;
    } else {
      reducible[path.size()].push_front(path);
    }
  }

  static void Absorb(Node& into, const Node& from) {
    into.count += from.count;
    into.r += from.r;
    into.g += from.g;
    into.b += from.b;
  }

  void Add(int r, int g, int b) {
    std::string path;
    if (nodes.empty()) Make(path);
    while (!nodes.at(path).leaf) {
      const int bit = 7 - static_cast<int>(path.size());
      path += static_cast<char>('0' + ((r >> bit) & 1) * 4 + ((g >> bit) & 1) * 2 + ((b >> bit) & 1));
      if (nodes.count(path) == 0) Make(path);
    }
    Absorb(nodes.at(path), Node{1, uint64_t(r), uint64_t(g), uint64_t(b)});
    while (leaves > maxColours) Reduce();
  }

  void Reduce() {
    size_t level = colourBits - 1;
    while (level > 0 && reducible[level].empty()) --level;
    const std::string path = reducible[level].front();
    reducible[level].pop_front();
    Node& node = nodes.at(path);
    for (char c = '0'; c < '8'; ++c) {
      auto it = nodes.find(path + c);
      if (it == nodes.end()) continue;
      EXPECT_TRUE(it->second.leaf) << "merged a node with grandchildren";
      Absorb(node, it->second);
      nodes.erase(it);
      --leaves;
    }
    node.leaf = true;
    ++leaves;
  }

  // Leaves depth first: (entry, pixel count).
  void Collect(const std::string& path, std::vector<std::pair<RgbQuad, uint64_t>>& out) const {
    const Node& n = nodes.at(path);
    if (n.leaf) {
      out.push_back({RgbQuad{uint8_t(n.b / n.count), uint8_t(n.g / n.count), uint8_t(n.r / n.count), 0},
                     n.count});
      return;
    }
    for (char c = '0'; c < '8'; ++c) {
      if (nodes.count(path + c) != 0) Collect(path + c, out);
    }
  }

  std::vector<RgbQuad> Table(size_t outputColours) const {
    std::vector<std::pair<RgbQuad, uint64_t>> all;
    if (!nodes.empty()) Collect("", all);
    const size_t n = all.size();
    std::vector<RgbQuad> table;
    for (size_t c = 0; c < (outputColours >= 16 || outputColours >= n ? n : outputColours); ++c) {
      if (outputColours >= 16 || outputColours >= n) {
        table.push_back(all[c].first);
        continue;
      }
      uint64_t r = 0, g = 0, b = 0, count = 0;
      for (size_t i = c * n / outputColours; i <= (c + 1) * n / outputColours - 1; ++i) {
        r += all[i].first.red * all[i].second;
        g += all[i].first.green * all[i].second;
        b += all[i].first.blue * all[i].second;
        count += all[i].second;
      }
      table.push_back(RgbQuad{uint8_t(b / count), uint8_t(g / count), uint8_t(r / count), 0});
    }
    return table;
  }
};

int RefNearest(const std::vector<RgbQuad>& palette, int colours, int r, int g, int b) {
  int best = 0;
  long bestDist = -1;
  for (int i = 0; i < colours; ++i) {
    const long dr = palette[i].red - r, dg = palette[i].green - g, db = palette[i].blue - b;
    const long dist = dr * dr + dg * dg + db * db;
    if (bestDist < 0 || dist < bestDist) {
      bestDist = dist;
      best = i;
    }
    if (dist == 0) break;
  }
  return best;
}

uint8_t RefGrey(Bgr c) { return static_cast<uint8_t>((54 * c.b + 183 * c.g + 19 * c.r) >> 8); }

// The reduced container the reduction should give: palette and indices of
// every pixel, stored rows bottom first.
struct RefReduced {
  std::vector<RgbQuad> palette;
  std::vector<int> indices;
};

RefReduced RefReduce(const DibImage& image, bool grey, int bits, int colours) {
  const int w = image.Width(), h = image.Height();
  std::vector<Bgr> pixels;  // stored order: bottom row first
  for (int y = h - 1; y >= 0; --y) {
    for (int x = 0; x < w; ++x) {
      Bgr c = PixelAt(image, x, y);
      if (grey) c.b = c.g = c.r = RefGrey(c);
      pixels.push_back(c);
    }
  }
  RefReduced out;
  if (colours == 2) {
    out.palette = {RgbQuad{0, 0, 0, 0}, RgbQuad{255, 255, 255, 0}};
  } else {
    RefOctree tree{static_cast<size_t>(std::max(colours, 16)), bits == 8 ? 7u : 8u, {}, {}, 0};
    for (const Bgr& c : pixels) tree.Add(c.r, c.g, c.b);
    out.palette = tree.Table(static_cast<size_t>(colours));
    out.palette.resize(bits == 8 ? 256 : 16);
  }
  for (const Bgr& c : pixels) out.indices.push_back(RefNearest(out.palette, colours, c.r, c.g, c.b));
  if (grey && colours < 16) {
    int best = -1;
    RgbQuad lightest{};
    for (int i = 0; i < colours; ++i) {
      const RgbQuad& e = out.palette[i];
      if (e.red > lightest.red && e.green > lightest.green && e.blue > lightest.blue) {
        lightest = e;
        best = i;
      }
    }
    if (best >= 0) out.palette[best] = RgbQuad{255, 255, 255, 0};
  }
  return out;
}

// ---------------------------------------------------------------------------
// Images

DibImage Filled(int w, int h, const std::vector<Bgr>& colours) {
  DibImage image;
  EXPECT_TRUE(image.Create(w, h, 24));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) SetPixel(image, x, y, colours[(y * w + x) % colours.size()]);
  }
  return image;
}

// Random pixels around `clusters` random centres (+-spread), or uniformly
// random when clusters is 0.
DibImage RandomImage(int w, int h, uint32_t seed, int clusters, int spread) {
  std::mt19937 rng(seed);
  auto byte = [&] { return static_cast<uint8_t>(rng()); };
  std::vector<Bgr> centres(static_cast<size_t>(clusters));
  for (Bgr& c : centres) c = Bgr{byte(), byte(), byte()};
  auto jitter = [&](uint8_t v) {
    return static_cast<uint8_t>(std::clamp(v + static_cast<int>(rng() % (2 * spread + 1)) - spread, 0, 255));
  };
  std::vector<Bgr> pixels(static_cast<size_t>(w * h));
  for (Bgr& p : pixels) {
    if (clusters == 0) {
      p = Bgr{byte(), byte(), byte()};
    } else {
      const Bgr c = centres[rng() % centres.size()];
      p = Bgr{jitter(c.b), jitter(c.g), jitter(c.r)};
    }
  }
  return Filled(w, h, pixels);
}

std::set<uint32_t> DistinctColours(const DibImage& image) {
  std::set<uint32_t> set;
  for (int y = 0; y < image.Height(); ++y) {
    for (int x = 0; x < image.Width(); ++x) {
      const Bgr c = PixelAt(image, x, y);
      set.insert(uint32_t{c.r} << 16 | uint32_t{c.g} << 8 | c.b);
    }
  }
  return set;
}

struct Mode {
  bool grey;
  int bits, colours;
};
constexpr Mode kModes[] = {{false, 8, 256}, {true, 4, 16}, {true, 4, 8}, {true, 2, 4}, {true, 1, 2}};

// ---------------------------------------------------------------------------
// Greyscale

TEST(Greyscale, WeighsBlue54Green183Red19AndKeepsGrey) {
  DibImage image = Filled(6, 1, {{255, 0, 0}, {0, 0, 255}, {0, 255, 0}, {255, 255, 255},
                                 {77, 77, 77}, {30, 60, 90}});
  ASSERT_TRUE(image.Greyscale());
  const int expected[] = {53, 18, 182, 255, 77, (54 * 30 + 183 * 60 + 19 * 90) >> 8};
  for (int x = 0; x < 6; ++x) {
    const uint8_t v = static_cast<uint8_t>(expected[x]);
    EXPECT_EQ(PixelAt(image, x, 0), (Bgr{v, v, v})) << "pixel " << x;
  }
  const DibImage once = image;
  ASSERT_TRUE(image.Greyscale());
  EXPECT_EQ(image.PackedDib(), once.PackedDib());
  DibImage empty;
  EXPECT_FALSE(empty.Greyscale());
}

// ---------------------------------------------------------------------------
// Container

TEST(CxImageContainer, CreateRoundsTheDepthAndFillsTheHeader) {
  // requested depth, depth, table entries
  const int cases[][3] = {{0, 1, 2}, {1, 1, 2}, {2, 4, 16}, {4, 4, 16}, {5, 8, 256}, {9, 24, 0}};
  for (const auto& c : cases) {
    CxImage image;
    ASSERT_TRUE(image.Create(5, 3, c[0], kCxImageBmp)) << c[0];
    EXPECT_EQ(image.Bpp(), c[1]);
    EXPECT_EQ(image.PaletteSize(), static_cast<size_t>(c[2]));
    const uint32_t rows = ((5u * c[1] + 31) / 32) * 4 * 3;
    ASSERT_EQ(image.DibSize(), 40u + 4u * c[2] + rows);
    const uint8_t* h = image.Dib();
    EXPECT_EQ(ReadLE32(h), 40u);
    EXPECT_EQ(ReadLE16(h + 12), 1);  // planes
    EXPECT_EQ(ReadLE16(h + 14), c[1]);
    EXPECT_EQ(ReadLE32(h + 20), rows);
    EXPECT_EQ(ReadLE32(h + 24), 3780u);  // 96 dpi
    EXPECT_EQ(ReadLE32(h + 28), 3780u);
    EXPECT_EQ(ReadLE32(h + 32), static_cast<uint32_t>(c[2]));
  }
  CxImage image;
  EXPECT_EQ(image.JpegQuality(), 90);
  EXPECT_EQ(image.TransparentIndex(), -1);
  image.SetYDpi(300);
  ASSERT_TRUE(image.Create(1, 1, 24, kCxImageBmp));
  EXPECT_EQ(ReadLE32(image.Dib() + 28), 11811u);  // 300 x 39.37 = 11811.02

  EXPECT_FALSE(image.Create(0, 5, 24, kCxImageBmp));
  EXPECT_FALSE(image.IsValid());
  EXPECT_EQ(image.LastError(), "CxImage::Create : width and height must be greater than zero");
  EXPECT_FALSE(image.Create(65536, 1, 24, kCxImageBmp));
  EXPECT_FALSE(image.Create(65535, 65535, 24, kCxImageBmp));  // 12 GB: refused, not tried
  EXPECT_EQ(image.LastError(), "CxImage::Create can't allocate memory");
}

TEST(CxImageContainer, DecreaseBppTakesTheFirstNearestEntryAmongTheAllowed) {
  CxImage image;
  ASSERT_TRUE(image.Create(5, 1, 24, kCxImageBmp));
  image.SetPixelColor(0, 0, 15, 15, 15);     // tie between entries 0 and 1
  image.SetPixelColor(1, 0, 50, 50, 50);     // exact: entries 2 and 3 are equal
  image.SetPixelColor(2, 0, 200, 200, 200);  // nearest is entry 4, beyond the allowed 4
  image.SetPixelColor(3, 0, 1, 1, 1);
  image.SetPixelColor(4, 0, 20, 20, 21);
  const std::vector<RgbQuad> palette = {
      {10, 10, 10, 0}, {20, 20, 20, 0}, {50, 50, 50, 0}, {50, 50, 50, 0}, {200, 200, 200, 0}};
  CxImage bad = image;
  EXPECT_FALSE(bad.DecreaseBpp(4, palette.data(), palette.size(), 17));
  EXPECT_FALSE(bad.DecreaseBpp(24, palette.data(), palette.size(), 4));
  EXPECT_EQ(bad.Bpp(), 24);

  ASSERT_TRUE(image.DecreaseBpp(2, palette.data(), palette.size(), 4));
  EXPECT_EQ(image.Bpp(), 4);
  EXPECT_EQ(image.PaletteSize(), 16u);
  EXPECT_EQ(image.ClrImportant(), 4u);
  EXPECT_EQ(image.GetPaletteColor(5), RgbQuad{});
  const int expected[] = {0, 2, 2, 0, 1};
  for (int x = 0; x < 5; ++x) EXPECT_EQ(image.GetPixelIndex(x, 0), expected[x]) << x;
  // Nibbles: high first.
  EXPECT_EQ(image.StoredRow(0)[0], 0x02);
  EXPECT_EQ(image.StoredRow(0)[2], 0x10);
}

TEST(CxImageContainer, DecreaseBppMatchesAPlainScanOnADenseColourCube) {
  // Every colour of a 32 x 32 x 32 cube (neighbours differ in single low
  // bits) against a shuffled grid palette of step 20, whose midplanes give
  // many exact ties, plus repeats and the zero entries of a short table.
  std::vector<RgbQuad> palette;
  for (int r = 0; r < 6; ++r) {
    for (int g = 0; g < 6; ++g) {
      for (int b = 0; b < 6; ++b) {
        palette.push_back(RgbQuad{uint8_t(b * 20), uint8_t(g * 20), uint8_t(r * 20), 0});
      }
    }
  }
  std::shuffle(palette.begin(), palette.end(), std::mt19937(5));
  palette.insert(palette.begin() + 100, palette.begin() + 3, palette.begin() + 9);
  palette.resize(256);
  CxImage cube;
  ASSERT_TRUE(cube.Create(256, 128, 24, kCxImageBmp));
  for (int i = 0; i < 32768; ++i) {
    cube.SetPixelColor(i % 256, i / 256, uint8_t(40 + (i & 31)), uint8_t(40 + ((i >> 5) & 31)),
                       uint8_t(40 + (i >> 10)));
  }
  for (int colours : {256, 150}) {
    CxImage image = cube;
    ASSERT_TRUE(image.DecreaseBpp(8, palette.data(), palette.size(), colours));
    for (int i = 0; i < 32768; ++i) {
      const RgbQuad c = cube.GetPixelColor(i % 256, i / 256);
      ASSERT_EQ(image.GetPixelIndex(i % 256, i / 256),
                RefNearest(palette, colours, c.red, c.green, c.blue))
          << "colour " << int{c.red} << "," << int{c.green} << "," << int{c.blue};
    }
  }
}

TEST(CxImageContainer, ToContainerCopiesStoredRowsAndGreysByTheMean) {
  DibImage image = Filled(2, 2, {{1, 2, 3}, {4, 5, 6}, {30, 60, 90}, {255, 255, 254}});
  CxImage container;
  ASSERT_TRUE(image.ToContainer(false, container));
  EXPECT_EQ(container.Bpp(), 24);
  EXPECT_FALSE(container.IsGrayScale());
  EXPECT_EQ(container.GetPixelColor(0, 1), (RgbQuad{1, 2, 3, 0}));  // top row
  EXPECT_EQ(container.GetPixelColor(0, 0), (RgbQuad{30, 60, 90, 0}));
  ASSERT_TRUE(image.ToContainer(true, container));
  EXPECT_EQ(container.Bpp(), 8);
  EXPECT_TRUE(container.IsGrayScale());
  EXPECT_EQ(container.GetPixelIndex(0, 0), 60);
  EXPECT_EQ(container.GetPixelIndex(1, 0), 254);  // 764 / 3, truncated
  container.SetPaletteColor(7, RgbQuad{7, 8, 7, 0});
  EXPECT_FALSE(container.IsGrayScale());
}

// ---------------------------------------------------------------------------
// Octree quantiser and reduction against the reference

TEST(OctreeQuantiser, MatchesTheReferenceTreeAndGrouping) {
  struct Case {
    int maxColours, colourBits, outputColours, clusters, spread;
  };
  const Case cases[] = {{256, 7, 256, 0, 0}, {256, 7, 256, 40, 12}, {16, 8, 16, 0, 0},
                        {16, 8, 8, 6, 30},   {16, 8, 4, 0, 0},      {16, 8, 3, 3, 2},
                        {16, 8, 8, 2, 0},    {64, 5, 64, 0, 0}};
  uint32_t seed = 1;
  for (const Case& c : cases) {
    const DibImage image = RandomImage(37, 29, seed++, c.clusters, c.spread);
    OctreeQuantiser quantiser(c.maxColours, c.colourBits);
    RefOctree ref{static_cast<size_t>(c.maxColours), static_cast<size_t>(c.colourBits), {}, {}, 0};
    for (int y = image.Height() - 1; y >= 0; --y) {
      for (int x = 0; x < image.Width(); ++x) {
        const Bgr p = PixelAt(image, x, y);
        quantiser.AddColour(p.r, p.g, p.b);
        ref.Add(p.r, p.g, p.b);
      }
    }
    EXPECT_EQ(quantiser.LeafCount(), ref.leaves);
    EXPECT_EQ(quantiser.ColourTable(c.outputColours), ref.Table(static_cast<size_t>(c.outputColours)))
        << "case max " << c.maxColours << " out " << c.outputColours;
  }
}

TEST(OctreeQuantiser, SumsDoNotWrapOnHugePages) {
  // 255 * 16843010 exceeds 2^32: a 32-bit sum would wrap to a dark entry.
  OctreeQuantiser quantiser(16, 8);
  for (uint32_t i = 0; i < 16843010u; ++i) quantiser.AddColour(255, 255, 255);
  quantiser.AddColour(254, 254, 254);
  EXPECT_EQ(quantiser.ColourTable(1), (std::vector<RgbQuad>{{254, 254, 254, 0}}));
  EXPECT_EQ(quantiser.ColourTable(16)[1], (RgbQuad{255, 255, 255, 0}));
}

TEST(ReduceToContainer, MatchesTheReferenceReductionPixelForPixel) {
  const Mode modes[] = {{false, 8, 256}, {true, 4, 16}, {true, 4, 8},  {true, 2, 4},
                        {true, 1, 2},    {false, 4, 16}, {false, 4, 8}, {false, 2, 4}};
  uint32_t seed = 100;
  for (const Mode& m : modes) {
    for (int clusters : {0, 5}) {
      const DibImage image = RandomImage(31, 23, seed++, clusters, 20);
      CxImage out;
      ASSERT_TRUE(ReduceToContainer(image, m.grey, m.bits, m.colours, out));
      const RefReduced ref = RefReduce(image, m.grey, m.bits, m.colours);
      const std::string what = "mode " + std::to_string(m.colours) + (m.grey ? " grey" : "");
      EXPECT_EQ(out.Bpp(), m.bits == 2 ? 4 : m.bits) << what;
      EXPECT_EQ(out.ClrImportant(), static_cast<uint32_t>(m.colours)) << what;
      EXPECT_EQ(out.GetPalette(), ref.palette) << what;
      size_t i = 0;
      for (int y = 0; y < out.Height(); ++y) {
        for (int x = 0; x < out.Width(); ++x, ++i) {
          ASSERT_EQ(out.GetPixelIndex(x, y), ref.indices[i]) << what << " at " << x << "," << y;
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------
// ReduceColours

TEST(ReduceColours, ModeEdgeCases) {
  // Black and white: a grey ramp splits between 127 and 128.
  std::vector<Bgr> ramp;
  for (int v = 0; v < 256; ++v) ramp.push_back(Bgr{uint8_t(v), uint8_t(v), uint8_t(v)});
  DibImage bw = Filled(16, 16, ramp);
  ASSERT_TRUE(bw.ReduceColours(true, 1, 2));
  for (int v = 0; v < 256; ++v) {
    const uint8_t e = v <= 127 ? 0 : 255;
    ASSERT_EQ(PixelAt(bw, v % 16, v / 16), (Bgr{e, e, e})) << v;
  }

  // 256 colours keeps two colours exactly.
  const Bgr a{30, 20, 10}, b{50, 100, 200};  // rgb (10,20,30) and (200,100,50)
  DibImage two = Filled(7, 5, {a, b, b});
  const DibImage before = two;
  ASSERT_TRUE(two.ReduceColours(false, 8, 256));
  EXPECT_EQ(two.PackedDib(), before.PackedDib());

  // 8 greys: sixteen greys pair up; the lightest pair (238, 242) averages
  // 240 and that entry turns white. Others keep their pair's mean.
  std::vector<Bgr> greys;
  const int values[16] = {10, 14, 40, 50, 80, 84, 100, 110, 130, 134, 160, 170, 200, 204, 238, 242};
  for (int v : values) greys.push_back(Bgr{uint8_t(v), uint8_t(v), uint8_t(v)});
  DibImage page = Filled(16, 4, greys);
  ASSERT_TRUE(page.ReduceColours(true, 4, 8));
  for (int x = 0; x < 16; ++x) {
    const int mean = (values[x & ~1] + values[x | 1]) / 2;
    const uint8_t e = static_cast<uint8_t>(mean == 240 ? 255 : mean);
    EXPECT_EQ(PixelAt(page, x, 2), (Bgr{e, e, e})) << "grey " << values[x];
  }
}

TEST(ReduceColours, NoEntryLighterThanBlackLeavesABlackPageBlack) {
  const DibImage black = Filled(5, 3, {{0, 0, 0}});
  for (const Mode& m : kModes) {
    CxImage out;
    ASSERT_TRUE(ReduceToContainer(black, m.grey, m.bits, m.colours, out));
    const std::vector<RgbQuad> palette = out.GetPalette();
    for (size_t i = 0; i < palette.size(); ++i) {
      const uint8_t e = m.colours == 2 && i == 1 ? 255 : 0;  // only black and white keeps white
      EXPECT_EQ(palette[i], (RgbQuad{e, e, e, 0})) << m.colours << " colours, entry " << i;
    }
    DibImage image = black;
    ASSERT_TRUE(image.ReduceColours(m.grey, m.bits, m.colours));
    EXPECT_EQ(image.PackedDib(), black.PackedDib()) << m.colours;
  }
}

TEST(ReduceColours, LeavesAtMostTheRequestedColours) {
  const DibImage source = RandomImage(64, 48, 7, 0, 0);
  for (const Mode& m : kModes) {
    DibImage image = source;
    ASSERT_TRUE(image.ReduceColours(m.grey, m.bits, m.colours));
    EXPECT_TRUE(image.Is24Bit());
    EXPECT_LE(DistinctColours(image).size(), static_cast<size_t>(m.colours)) << m.colours;
    EXPECT_EQ(image.IsGrey(), m.grey) << m.colours;
  }
}

TEST(ReduceColours, RefusesOtherArgumentsAndChangesNothing) {
  DibImage image = RandomImage(9, 7, 3, 0, 0);
  const DibImage before = image;
  const int bad[][2] = {{8, 16}, {4, 256}, {8, 100}, {3, 8}, {2, 2}, {1, 4}, {0, 0}, {16, 256}};
  for (const auto& args : bad) {
    EXPECT_FALSE(image.ReduceColours(true, args[0], args[1])) << args[0] << "," << args[1];
    EXPECT_EQ(image.PackedDib(), before.PackedDib());
  }
  DibImage empty;
  EXPECT_FALSE(empty.ReduceColours(false, 8, 256));
  EXPECT_TRUE(empty.IsEmpty());
}

}  // namespace
}  // namespace inkbrite
