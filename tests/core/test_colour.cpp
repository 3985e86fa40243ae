// SPDX-License-Identifier: GPL-2.0-or-later
// Colour modes: greyscale, the codec container, the octree quantiser and the
// colour reductions. The quantiser and the whole reduction are checked against
// a slow reference written independently: nodes in a std::map keyed by their
// path of child indices, std::deque reducible lists, and a plain scan of the
// palette for the nearest entry.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <utility>
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
using test::Grey;
using test::PixelAt;

// Pixels, red, green, blue sums to an entry of their means.
RgbQuad Mean(const uint64_t (&sum)[4]) {
  return RgbQuad{uint8_t(sum[3] / sum[0]), uint8_t(sum[2] / sum[0]), uint8_t(sum[1] / sum[0]), 0};
}

struct RefOctree {
  struct Node {
    uint64_t sum[4] = {};  // pixels, red, green, blue
    bool leaf = false;
  };
  size_t maxColours, colourBits, leaves = 0;
  std::map<std::string, Node> nodes;  // key: the child indices from the root
  std::deque<std::string> reducible[9];

  RefOctree(size_t max, size_t bits) : maxColours(max), colourBits(bits) {}

  Node& At(const std::string& path) {
    auto [it, made] = nodes.try_emplace(path);
    if (made && path.size() == colourBits) {
      it->second.leaf = true;
      ++leaves;
    } else if (made) {
      reducible[path.size()].push_front(path);
    }
    return it->second;
  }

  void Add(int r, int g, int b) {
    std::string path;
    for (int bit = 7; !At(path).leaf; --bit) {
      path += char('0' + ((r >> bit) & 1) * 4 + ((g >> bit) & 1) * 2 + ((b >> bit) & 1));
    }
    const uint64_t add[4] = {1, uint64_t(r), uint64_t(g), uint64_t(b)};
    for (int k = 0; k < 4; ++k) At(path).sum[k] += add[k];
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
      for (int k = 0; k < 4; ++k) node.sum[k] += it->second.sum[k];
      nodes.erase(it);
      --leaves;
    }
    node.leaf = true;
    ++leaves;
  }

  std::vector<RgbQuad> Table(size_t outputColours) const {
    // Paths in std::map order are the nodes depth first, children by index.
    std::vector<std::pair<RgbQuad, uint64_t>> all;
    for (const auto& [path, n] : nodes) {
      if (n.leaf) all.push_back({Mean(n.sum), n.sum[0]});
    }
    const size_t n = all.size();
    std::vector<RgbQuad> table;
    if (outputColours >= 16 || outputColours >= n) {
      for (const auto& leaf : all) table.push_back(leaf.first);
      return table;
    }
    for (size_t c = 0; c < outputColours; ++c) {
      uint64_t sum[4] = {};
      for (size_t i = c * n / outputColours; i <= (c + 1) * n / outputColours - 1; ++i) {
        const auto& [e, count] = all[i];
        const uint64_t add[4] = {1, e.red, e.green, e.blue};
        for (int k = 0; k < 4; ++k) sum[k] += add[k] * count;
      }
      table.push_back(Mean(sum));
    }
    return table;
  }
};

// The first entry among the first `colours` at the least squared distance.
int RefNearest(const std::vector<RgbQuad>& palette, int colours, int r, int g, int b) {
  auto distance = [&](const RgbQuad& e) {
    return (e.red - r) * (e.red - r) + (e.green - g) * (e.green - g) + (e.blue - b) * (e.blue - b);
  };
  auto closer = [&](const RgbQuad& x, const RgbQuad& y) { return distance(x) < distance(y); };
  const auto first = palette.begin();
  return int(std::min_element(first, first + colours, closer) - first);
}

// The reduced container's palette and the index of every pixel in stored
// order (bottom row first).
std::pair<std::vector<RgbQuad>, std::vector<int>> RefReduce(const DibImage& image, bool grey,
                                                            int bits, int colours) {
  const int w = image.Width(), h = image.Height();
  std::vector<Bgr> pixels;
  for (int i = 0; i < w * h; ++i) {
    const Bgr c = PixelAt(image, i % w, h - 1 - i / w);
    pixels.push_back(grey ? Grey((54 * c.b + 183 * c.g + 19 * c.r) >> 8) : c);
  }
  std::vector<RgbQuad> palette = {RgbQuad{0, 0, 0, 0}, RgbQuad{255, 255, 255, 0}};
  if (colours != 2) {
    RefOctree tree(size_t(std::max(colours, 16)), bits == 8 ? 7u : 8u);
    for (const Bgr& c : pixels) tree.Add(c.r, c.g, c.b);
    palette = tree.Table(size_t(colours));
    palette.resize(bits == 8 ? 256 : 16);
  }
  std::vector<int> indices;
  for (const Bgr& c : pixels) indices.push_back(RefNearest(palette, colours, c.r, c.g, c.b));
  // The lightest entry (each channel above black and the last pick) turns white.
  if (grey && colours < 16) {
    RgbQuad* lightest = nullptr;
    for (int i = 0; i < colours; ++i) {
      const RgbQuad best = lightest != nullptr ? *lightest : RgbQuad{};
      RgbQuad& e = palette[size_t(i)];
      if (e.red > best.red && e.green > best.green && e.blue > best.blue) lightest = &e;
    }
    if (lightest != nullptr) *lightest = RgbQuad{255, 255, 255, 0};
  }
  return {palette, indices};
}

DibImage Filled(int w, int h, const std::vector<Bgr>& colours) {
  return test::MakeImage(w, h,
                         [&](int x, int y) { return colours[size_t(y * w + x) % colours.size()]; });
}

// Pixels around `clusters` random centres (+-spread), or uniformly random.
DibImage RandomImage(int w, int h, uint32_t seed, int clusters, int spread) {
  std::mt19937 rng(seed);
  auto byte = [&] { return uint8_t(rng()); };
  auto jitter = [&](uint8_t v) {
    return uint8_t(std::clamp(v + int(rng() % (2 * spread + 1)) - spread, 0, 255));
  };
  std::vector<Bgr> centres(static_cast<size_t>(clusters)), pixels(static_cast<size_t>(w * h));
  for (Bgr& c : centres) c = Bgr{byte(), byte(), byte()};
  for (Bgr& p : pixels) {
    const Bgr c = clusters == 0 ? Bgr{byte(), byte(), byte()} : centres[rng() % centres.size()];
    p = clusters == 0 ? c : Bgr{jitter(c.b), jitter(c.g), jitter(c.r)};
  }
  return Filled(w, h, pixels);
}

TEST(Greyscale, WeighsBlue54Green183Red19AndKeepsGrey) {
  DibImage image =
      Filled(5, 1, {{255, 0, 0}, {0, 0, 255}, {0, 255, 0}, {255, 255, 255}, {77, 77, 77}});
  ASSERT_TRUE(image.Greyscale());
  EXPECT_EQ(test::Pixels(image),
            (std::vector<Bgr>{Grey(53), Grey(18), Grey(182), Grey(255), Grey(77)}));
  DibImage empty;
  EXPECT_FALSE(empty.Greyscale());
}

TEST(CxImageContainer, CreateRoundsTheDepthAndFillsTheHeader) {
  const int cases[][3] = {{0, 1, 2}, {1, 1, 2}, {2, 4, 16}, {4, 4, 16}, {5, 8, 256}, {9, 24, 0}};
  for (const auto& [requested, depth, entries] : cases) {
    CxImage image;
    ASSERT_TRUE(image.Create(5, 3, requested, kCxImageBmp)) << requested;
    EXPECT_EQ(image.Bpp(), depth);
    EXPECT_EQ(image.PaletteSize(), size_t(entries));
    const uint32_t rows = ((5u * depth + 31) / 32) * 4 * 3;
    ASSERT_EQ(image.DibSize(), 40u + 4u * entries + rows);
    const uint8_t* h = image.Dib();
    const std::vector<uint32_t> fields = {ReadLE32(h),      ReadLE16(h + 12), ReadLE16(h + 14),
                                          ReadLE32(h + 20), ReadLE32(h + 24), ReadLE32(h + 28),
                                          ReadLE32(h + 32)};
    // header size, planes, depth, image size, 96 dpi as pixels a metre, entries
    EXPECT_EQ(fields,
              (std::vector<uint32_t>{40, 1, uint32_t(depth), rows, 3780, 3780, uint32_t(entries)}));
  }
  CxImage image;
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

TEST(CxImageContainer, DecreaseBppTakesTheFirstNearestAllowedEntry) {
  // A cube of 32 x 32 x 32 colours against a shuffled grid palette of step 20
  // (many exact ties), with repeated entries and the zero entries of a short
  // table.
  std::vector<RgbQuad> palette;
  for (int i = 0; i < 216; ++i) {
    palette.push_back(RgbQuad{uint8_t(i % 6 * 20), uint8_t(i / 6 % 6 * 20), uint8_t(i / 36 * 20)});
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
  CxImage bad = cube;
  EXPECT_FALSE(bad.DecreaseBpp(4, palette.data(), palette.size(), 17));
  EXPECT_FALSE(bad.DecreaseBpp(24, palette.data(), palette.size(), 4));
  EXPECT_EQ(bad.Bpp(), 24);
}

TEST(CxImageContainer, ToContainerCopiesStoredRowsAndGreysAsGreyscaleDoes) {
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
  // (54 blue + 183 green + 19 red) >> 8, as Greyscale
  EXPECT_EQ(container.GetPixelIndex(0, 0), 55);   // 14310 >> 8
  EXPECT_EQ(container.GetPixelIndex(1, 0), 254);  // 65261 >> 8
  EXPECT_EQ(container.GetPixelIndex(0, 1), 1);    // 477 >> 8
  container.SetPaletteColor(7, RgbQuad{7, 8, 7, 0});
  EXPECT_FALSE(container.IsGrayScale());
}

TEST(OctreeQuantiser, MatchesTheReferenceTreeAndGrouping) {
  // maxColours, colourBits, outputColours, clusters, spread
  const int cases[][5] = {{256, 7, 256, 0, 0}, {256, 7, 256, 40, 12}, {16, 8, 16, 0, 0},
                          {16, 8, 8, 6, 30},   {16, 8, 4, 0, 0},      {16, 8, 3, 3, 2},
                          {16, 8, 8, 2, 0},    {64, 5, 64, 0, 0}};
  uint32_t seed = 1;
  for (const auto& [maxColours, colourBits, outputColours, clusters, spread] : cases) {
    const DibImage image = RandomImage(37, 29, seed++, clusters, spread);
    OctreeQuantiser quantiser(maxColours, colourBits);
    RefOctree ref(static_cast<size_t>(maxColours), static_cast<size_t>(colourBits));
    for (int i = 0; i < 37 * 29; ++i) {  // bottom row first
      const Bgr p = PixelAt(image, i % 37, 28 - i / 37);
      quantiser.AddColour(p.r, p.g, p.b);
      ref.Add(p.r, p.g, p.b);
    }
    EXPECT_EQ(quantiser.LeafCount(), ref.leaves);
    EXPECT_EQ(quantiser.ColourTable(outputColours), ref.Table(size_t(outputColours)))
        << "max " << maxColours << " out " << outputColours;
  }
}

// A page's distinct colours added with their counts, in the order of their
// first pixels (what the grey reduction does), give the tree of the pixels
// one by one: its leaves, merges (also in the middle of the page) and table.
TEST(OctreeQuantiser, ColoursWithTheirCountsGiveTheTreeOfSinglePixels) {
  std::mt19937 random(7);
  for (const auto& [maxColours, colourBits, grey] :
       {std::tuple{16, 8, true}, std::tuple{16, 8, false}, std::tuple{256, 7, false}}) {
    OctreeQuantiser counted(maxColours, colourBits);
    RefOctree ref(static_cast<size_t>(maxColours), static_cast<size_t>(colourBits));
    std::map<uint32_t, uint64_t> count;
    std::vector<uint32_t> order;
    for (int i = 0; i < 20000; ++i) {
      // Few colours at first, so that they come back; then new ones now and
      // then, so that merges happen all along.
      const uint32_t spread = i < 5000 ? 4 : i % 50 == 0 ? 256 : 16;
      const uint32_t r = random() % spread * (256 / spread);
      const uint32_t g = grey ? r : random() % spread * (256 / spread);
      const uint32_t b = grey ? r : random() % spread * (256 / spread);
      ref.Add(static_cast<int>(r), static_cast<int>(g), static_cast<int>(b));
      const uint32_t colour = r << 16 | g << 8 | b;
      if (count[colour]++ == 0) order.push_back(colour);
    }
    for (const uint32_t c : order) {
      counted.AddColour(static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8),
                        static_cast<uint8_t>(c), count[c]);
    }
    SCOPED_TRACE(testing::Message() << maxColours << (grey ? " grey" : " colour"));
    EXPECT_GT(order.size(), static_cast<size_t>(maxColours));  // merges happened
    EXPECT_EQ(counted.LeafCount(), ref.leaves);
    for (const int out : {maxColours, 8, 3}) {
      EXPECT_EQ(counted.ColourTable(out), ref.Table(static_cast<size_t>(out))) << out;
    }
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

TEST(ReduceColours, ContainerAndPageMatchTheReferencePixelForPixel) {
  struct {
    bool grey;
    int bits, colours;
  } const modes[] = {{false, 8, 256}, {true, 4, 16},  {true, 4, 8},  {true, 2, 4},
                     {true, 1, 2},    {false, 4, 16}, {false, 4, 8}, {false, 2, 4}};
  uint32_t seed = 100;
  for (const auto& m : modes) {
    // On a black page no entry is lighter than black, so none turns white.
    for (const DibImage& image : {RandomImage(31, 23, seed, 0, 0),
                                  RandomImage(31, 23, seed + 1, 5, 20), Filled(5, 3, {{}})}) {
      SCOPED_TRACE("mode " + std::to_string(m.colours) + (m.grey ? " grey" : ""));
      CxImage out;
      ASSERT_TRUE(ReduceToContainer(image, m.grey, m.bits, m.colours, out));
      DibImage page = image;
      ASSERT_TRUE(page.ReduceColours(m.grey, m.bits, m.colours));
      const auto [palette, indices] = RefReduce(image, m.grey, m.bits, m.colours);
      EXPECT_EQ(out.Bpp(), m.bits == 2 ? 4 : m.bits);
      EXPECT_EQ(out.ClrImportant(), uint32_t(m.colours));
      EXPECT_EQ(out.GetPalette(), palette);
      for (size_t i = 0; i < indices.size(); ++i) {
        const int x = int(i) % image.Width(), y = int(i) / image.Width();
        ASSERT_EQ(out.GetPixelIndex(x, y), indices[i]) << x << "," << y;
        const RgbQuad e = palette[size_t(indices[i])];
        ASSERT_EQ(PixelAt(page, x, image.Height() - 1 - y), (Bgr{e.blue, e.green, e.red}));
      }
    }
    seed += 2;
  }
}

TEST(ReduceColours, ModeEdgeCases) {
  // Black and white: a grey ramp splits between 127 and 128.
  std::vector<Bgr> ramp;
  for (int v = 0; v < 256; ++v) ramp.push_back(Grey(v));
  DibImage bw = Filled(16, 16, ramp);
  ASSERT_TRUE(bw.ReduceColours(true, 1, 2));
  for (int v = 0; v < 256; ++v) {
    EXPECT_EQ(PixelAt(bw, v % 16, v / 16), Grey(v < 128 ? 0 : 255)) << v;
  }

  // 8 greys: sixteen greys pair up and keep their pair's mean, except that
  // the lightest pair (238, 242) averages 240 and that entry turns white.
  const int values[16] = {10, 14, 40, 50, 80, 84, 100, 110, 130, 134, 160, 170, 200, 204, 238, 242};
  std::vector<Bgr> greys;
  for (int v : values) greys.push_back(Grey(v));
  DibImage page = Filled(16, 4, greys);
  ASSERT_TRUE(page.ReduceColours(true, 4, 8));
  for (int x = 0; x < 16; ++x) {
    const int mean = (values[x & ~1] + values[x | 1]) / 2;
    EXPECT_EQ(PixelAt(page, x, 2), Grey(mean == 240 ? 255 : mean)) << values[x];
  }
}

TEST(ReduceColours, RefusesOtherPairsAndChangesNothing) {
  DibImage image = RandomImage(9, 7, 3, 0, 0);
  const DibImage before = image;
  const int bad[][2] = {{8, 16}, {4, 256}, {8, 100}, {3, 8}, {2, 2}, {1, 4}, {0, 0}, {16, 256}};
  for (const auto& [bits, colours] : bad) {
    EXPECT_FALSE(image.ReduceColours(true, bits, colours)) << bits << "," << colours;
    EXPECT_EQ(image.PackedDib(), before.PackedDib());
  }
  DibImage empty;
  EXPECT_FALSE(empty.ReduceColours(false, 8, 256));
  EXPECT_TRUE(empty.IsEmpty());
}

}  // namespace
}  // namespace inkbrite
