// SPDX-License-Identifier: GPL-2.0-or-later
// The network file reader on sound and broken files, oneDNN's layers against
// the plain loops of net_maker.cpp, tiling against one whole run, and the
// real waifu2x weights when the build fetched them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>

#include "learned/net_file.h"
#include "learned/net_run.h"
#include "learned/upscale.h"
#include "tests/learned/net_maker.h"

namespace inkbrite::learned {
namespace {

using testing::MaxDifference;
using testing::NetMaker;
using testing::ReferenceRun;

// upconv_7's shape, smaller: valid 3 x 3 convolutions with leaky ReLU, then
// a 4 x 4 deconvolution of stride 2 cut by 3 (margin: one pixel a conv, plus
// one).
NetMaker UpconvLike(int convs, int width, uint32_t seed = 1) {
  NetMaker m(2, convs + 1, seed);
  std::string at = "in";
  int channels = 3;
  for (int i = 0; i < convs; ++i) {
    const std::string next = "c" + std::to_string(i);
    m.Conv("conv", at, next, channels, width, 3, 1, 0, "leaky");
    at = next, channels = width;
  }
  m.Conv("deconv", at, "out", channels, 3, 4, 2, 3, "none");
  return m;
}

// cunet's building blocks: a stride-2 convolution and a 2 x 2
// deconvolution back, a squeeze-and-excitation branch (mean, dense, dense
// with sigmoid, scale), a crop and a sum, a PReLU.
NetMaker CunetLike() {
  NetMaker m(1, 4, 7);
  m.Conv("conv", "in", "a", 3, 8, 3, 1, 0, "leaky");
  m.Conv("conv", "a", "b", 8, 8, 2, 2, 0, "relu");
  m.Plain("mean", "b", "", "m");
  m.Dense("m", "d1", 8, 4, "relu");
  m.Dense("d1", "d2", 4, 8, "sigmoid");
  m.Plain("scale", "b", "d2", "s");
  m.Conv("deconv", "s", "u", 8, 8, 2, 2, 0, "leaky");
  m.Plain("crop", "a", "u", "cr", ",\"x\":0,\"y\":0");
  m.Plain("add", "cr", "u", "sum");
  m.Prelu("sum", "p", 8);
  m.Conv("conv", "p", "out", 8, 3, 3, 1, 1, "none");
  return m;
}

std::vector<float> RandomPlanes(int w, int h, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> d(0.f, 1.f);
  std::vector<float> v(static_cast<size_t>(w * h * 3));
  for (float& x : v) x = d(random);
  return v;
}

TEST(NetFile, ReadsWhatTheMakerWrote) {
  const NetMaker maker = CunetLike();
  Net net;
  std::string why;
  ASSERT_TRUE(ReadNetFile(maker.Bytes(), net, &why)) << why;
  EXPECT_EQ(net.layers.size(), 11u);
  EXPECT_EQ(net.margin, 4);
  EXPECT_EQ(net.floats, maker.Values());
  EXPECT_EQ(net.layers[1].stride, 2);
  EXPECT_EQ(net.layers[4].act, Activation::kSigmoid);
  EXPECT_EQ(net.layers[7].kind, LayerKind::kCrop);
}

// Every broken file is refused with a reason, and leaves no half network.
TEST(NetFile, RefusesBrokenFiles) {
  const NetMaker good = UpconvLike(2, 4);
  const std::string header = good.Header();
  const std::vector<float>& values = good.Values();
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string h = header;
    const size_t at = h.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return NetMaker::WithHeader(h.replace(at, from.size(), to), values);
  };
  std::vector<float> nan = values;
  nan[3] = NAN;
  std::vector<uint8_t> longHeader = good.Bytes();
  longHeader[8] = 0xff, longHeader[9] = 0xff;
  std::vector<uint8_t> badMagic = good.Bytes();
  badMagic[0] = 'X';
  std::vector<uint8_t> ragged = good.Bytes();
  ragged.push_back(0);
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"empty", {}},
      {"bad magic", badMagic},
      {"header past the end", longHeader},
      {"weights not whole floats", ragged},
      {"float count differs", good.Bytes("out", 5)},
      {"not JSON", NetMaker::WithHeader("{\"name\":", values)},
      {"too deep", NetMaker::WithHeader(std::string(50, '[') + std::string(50, ']'), values)},
      {"unknown output", good.Bytes("nowhere")},
      {"output not 3 channels", good.Bytes("c1")},
      {"unknown layer type", replaced("\"type\":\"conv\"", "\"type\":\"lstm\"")},
      {"input used before made", replaced("\"inputs\":[\"c0\"]", "\"inputs\":[\"c1\"]")},
      {"channels do not chain", replaced("\"in\":4", "\"in\":5")},
      {"kernel too large", replaced("\"kernel\":3", "\"kernel\":9")},
      {"pad beyond the kernel", replaced("\"pad\":0", "\"pad\":3")},
      {"tensor outside", replaced("\"bias\":108", "\"bias\":100000")},
      {"negative tensor", replaced("\"weights\":0", "\"weights\":-4")},
      {"blob made twice", replaced("\"output\":\"c1\"", "\"output\":\"c0\"")},
      {"unknown activation", replaced("\"act\":\"leaky\"", "\"act\":\"gelu\"")},
      {"scale out of range", replaced("\"scale\":2", "\"scale\":3")},
      {"margin out of range", replaced("\"margin\":3", "\"margin\":1000")},
      {"fractional size", replaced("\"out\":4", "\"out\":4.5")},
      {"weight not finite", NetMaker::WithHeader(header, nan)},
  };
  for (const auto& c : cases) {
    Net net;
    std::string why;
    EXPECT_FALSE(ReadNetFile(c.bytes, net, &why)) << c.what;
    EXPECT_FALSE(why.empty()) << c.what;
    EXPECT_TRUE(net.layers.empty() && net.floats.empty()) << c.what;
  }
}

TEST(NetFile, OutputSizesFollowEachLayer) {
  Net upconv, cunet;
  ASSERT_TRUE(ReadNetFile(UpconvLike(3, 4).Bytes(), upconv));
  ASSERT_TRUE(ReadNetFile(CunetLike().Bytes(), cunet));
  const struct {
    const Net* net;
    int in, out;  // 0: refused
  } cases[] = {
      {&upconv, 8, 0},
      {&upconv, 9, 2},
      {&upconv, 50, 84},
      {&upconv, 6, 0},
      // conv 3 valid, then stride 2 wants an even side
      {&cunet, 10, 8},
      {&cunet, 11, 0},
      {&cunet, 2, 0},
  };
  for (const auto& c : cases) {
    int w = 0, h = 0;
    EXPECT_EQ(NetOutputSize(*c.net, c.in, c.in + (c.out ? 2 : 0), w, h), c.out != 0) << c.in;
    if (c.out != 0) {
      EXPECT_EQ(w, c.out) << c.in;
    }
  }
  EXPECT_TRUE(NetTakesTile(upconv, 5));
  EXPECT_FALSE(NetTakesTile(cunet, 3));
}

// oneDNN's convolutions, deconvolutions, fused activations and the plain
// layers give the plain loops' values.
TEST(NetRun, MatchesThePlainLoops) {
  const struct {
    const char* what;
    NetMaker maker;
    int w, h;
  } cases[] = {
      {"upconv-like, 2 convs", UpconvLike(2, 5), 11, 9},
      {"upconv-like, 16 channels", UpconvLike(3, 16, 3), 17, 20},
      {"cunet-like", CunetLike(), 14, 10},
  };
  SetLearnedThreads(2);
  for (const auto& c : cases) {
    Net net;
    ASSERT_TRUE(ReadNetFile(c.maker.Bytes(), net)) << c.what;
    const std::vector<float> planes = RandomPlanes(c.w, c.h, 5);
    std::vector<float> want, got;
    int ww = 0, wh = 0, gw = 0, gh = 0;
    ASSERT_TRUE(ReferenceRun(net, planes, c.w, c.h, want, ww, wh));
    NetRunner runner(net);
    std::string why;
    for (int twice = 0; twice < 2; ++twice) {  // the second run reuses the plan
      ASSERT_TRUE(runner.Run(planes.data(), c.w, c.h, got, gw, gh, &why)) << c.what << why;
      EXPECT_EQ(gw, ww) << c.what;
      EXPECT_EQ(gh, wh) << c.what;
      EXPECT_LT(MaxDifference(got, want), 1e-4f) << c.what;
    }
  }
}

TEST(NetRun, RefusesSizesTheNetworkCannotTake) {
  Net net;
  ASSERT_TRUE(ReadNetFile(CunetLike().Bytes(), net));
  NetRunner runner(net);
  std::vector<float> out;
  const std::vector<float> planes = RandomPlanes(11, 11, 1);
  int w = 0, h = 0;
  std::string why;
  EXPECT_FALSE(runner.Run(planes.data(), 11, 11, out, w, h, &why));
  EXPECT_FALSE(why.empty());
}

struct Picture {
  std::vector<uint8_t> bytes;
  PixelRows rows;
  Picture(int w, int h, bool bgr, size_t pad = 0) : bytes(static_cast<size_t>(h) * (w * 3 + pad)) {
    rows = {bytes.data(), w, h, static_cast<size_t>(w) * 3 + pad, bgr};
  }
};

// Tiles of any size, in any order, give the bytes of one run over the whole
// picture with its edges repeated by the margin.
TEST(Upscale, TilesMatchOneWholeRun) {
  Net net;
  ASSERT_TRUE(ReadNetFile(UpconvLike(2, 6).Bytes(), net));
  const int w = 37, h = 23, m = net.margin;
  Picture in(w, h, true, 1);
  std::mt19937 random(9);
  for (uint8_t& b : in.bytes) b = static_cast<uint8_t>(random());
  // The whole run: planes of the picture repeated at its edges.
  std::vector<float> planes(static_cast<size_t>((w + 2 * m) * (h + 2 * m) * 3));
  const size_t area = static_cast<size_t>((w + 2 * m) * (h + 2 * m));
  for (int y = 0; y < h + 2 * m; ++y) {
    for (int x = 0; x < w + 2 * m; ++x) {
      const uint8_t* p = in.rows.data +
                         static_cast<size_t>(std::clamp(y - m, 0, h - 1)) * in.rows.stride +
                         static_cast<size_t>(std::clamp(x - m, 0, w - 1)) * 3;
      for (int c = 0; c < 3; ++c) {
        planes[static_cast<size_t>(c) * area + static_cast<size_t>(y * (w + 2 * m) + x)] =
            p[2 - c] / 255.f;
      }
    }
  }
  std::vector<float> whole;
  int ow = 0, oh = 0;
  ASSERT_TRUE(ReferenceRun(net, planes, w + 2 * m, h + 2 * m, whole, ow, oh));
  ASSERT_EQ(ow, 2 * w);
  NetRunner runner(net);
  for (const int tile : {3, 7, 16, 64}) {
    Picture out(2 * w, 2 * h, true, 3);
    std::vector<TileRect> tiles = CoverTiles(w, h, tile);
    std::reverse(tiles.begin(), tiles.end());
    size_t seen = 0;
    ASSERT_TRUE(RunNetOnTiles(runner, net, in.rows, out.rows, tiles,
                              [&](size_t done, size_t total) { return seen = done, total > 0; }));
    EXPECT_EQ(seen, tiles.size());
    int worst = 0;
    for (int y = 0; y < 2 * h; ++y) {
      for (int x = 0; x < 2 * w; ++x) {
        for (int c = 0; c < 3; ++c) {
          const float v = whole[static_cast<size_t>(c * ow * oh + y * ow + x)];
          const int want = static_cast<int>(std::lrint(std::clamp(v, 0.f, 1.f) * 255));
          worst =
              std::max(worst, std::abs(want - out.rows.data[y * out.rows.stride + x * 3 + 2 - c]));
        }
      }
    }
    EXPECT_LE(worst, 1) << "tile " << tile;
  }
}

TEST(Upscale, StopsWhenAskedAndRefusesAWrongOutput) {
  Net net;
  ASSERT_TRUE(ReadNetFile(UpconvLike(1, 4).Bytes(), net));
  NetRunner runner(net);
  Picture in(20, 20, false), out(40, 40, false), wrong(40, 39, false);
  const std::vector<TileRect> tiles = CoverTiles(20, 20, 8);
  ASSERT_EQ(tiles.size(), 9u);
  size_t calls = 0;
  EXPECT_FALSE(RunNetOnTiles(runner, net, in.rows, out.rows, tiles,
                             [&](size_t, size_t) { return ++calls < 2; }));
  EXPECT_EQ(calls, 2u);
  EXPECT_FALSE(RunNetOnTiles(runner, net, in.rows, wrong.rows, tiles));
  EXPECT_FALSE(RunNetOnTiles(runner, net, in.rows, out.rows, {{15, 15, 8, 8}}));
}

}  // namespace
}  // namespace inkbrite::learned

namespace inkbrite::learned {
namespace {

// The folder of the converted waifu2x weights: INKBRITE_MODELS_DIR, else the
// build's own.
std::filesystem::path ModelsDir() {
  const char* env = std::getenv("INKBRITE_MODELS_DIR");
  return env != nullptr ? env : INKBRITE_MODELS_DIR;
}

bool LoadModel(const std::string& name, Net& net) {
  const std::filesystem::path path = ModelsDir() / (name + ".ibnet");
  if (!std::filesystem::exists(path)) return false;
  std::string why;
  EXPECT_TRUE(LoadNetFile(path, net, &why)) << path << ": " << why;
  return !net.layers.empty();
}

// Every converted network reads, takes tiles of its margin, and its oneDNN
// run gives the plain loops' values on one small tile.
TEST(Waifu2x, NetworksMatchThePlainLoops) {
  const struct {
    const char* name;
    int tile;
  } cases[] = {{"upconv_7-noise1-2x", 12},
               {"upconv_7-off-2x", 9},
               {"cunet-noise2-2x", 8},
               {"cunet-noise0-1x", 8}};
  SetLearnedThreads(2);
  int found = 0;
  for (const auto& c : cases) {
    Net net;
    if (!LoadModel(c.name, net)) continue;
    ++found;
    ASSERT_TRUE(NetTakesTile(net, c.tile)) << c.name;
    const int side = c.tile + 2 * net.margin;
    const std::vector<float> planes = RandomPlanes(side, side, 3);
    std::vector<float> want, got;
    int ww = 0, wh = 0, gw = 0, gh = 0;
    ASSERT_TRUE(ReferenceRun(net, planes, side, side, want, ww, wh));
    NetRunner runner(net);
    ASSERT_TRUE(runner.Run(planes.data(), side, side, got, gw, gh)) << c.name;
    EXPECT_EQ(gw, net.scale * c.tile) << c.name;
    EXPECT_LT(MaxDifference(got, want), 2e-3f) << c.name;
  }
  if (found == 0) GTEST_SKIP() << "no waifu2x weights in " << ModelsDir();
}

// Line art: black strokes of 1.5 to 5 pixels on white, anti-aliased (4 x 4
// samples a pixel).
std::vector<uint8_t> LineArt(int w, int h, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> u(0.f, 1.f);
  struct Stroke {
    float cx, cy, r, width;
  };
  std::vector<Stroke> strokes;
  for (int i = 0; i < 24; ++i) {
    strokes.push_back(
        {u(random) * w, u(random) * h, 6 + u(random) * w / 3, 1.5f + 3.5f * u(random)});
  }
  std::vector<uint8_t> grey(static_cast<size_t>(w * h));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      int ink = 0;
      for (int s = 0; s < 16; ++s) {
        const float px = x + (s % 4 + 0.5f) / 4, py = y + (s / 4 + 0.5f) / 4;
        for (const Stroke& k : strokes) {
          if (std::fabs(std::hypot(px - k.cx, py - k.cy) - k.r) < k.width / 2) {
            ++ink;
            break;
          }
        }
      }
      grey[static_cast<size_t>(y * w + x)] = static_cast<uint8_t>(255 - (ink * 255 + 8) / 16);
    }
  }
  return grey;
}

// Keys' cubic (a = -0.5) at pixel centres, edges repeated: the usual
// "bicubic" of image tools.
std::vector<uint8_t> BicubicDouble(const std::vector<uint8_t>& g, int w, int h) {
  auto k = [](float t) {
    t = std::fabs(t);
    return t < 1   ? 1.5f * t * t * t - 2.5f * t * t + 1
           : t < 2 ? -0.5f * t * t * t + 2.5f * t * t - 4 * t + 2
                   : 0.f;
  };
  std::vector<uint8_t> out(static_cast<size_t>(4 * w * h));
  for (int y = 0; y < 2 * h; ++y) {
    for (int x = 0; x < 2 * w; ++x) {
      const float sx = (x + 0.5f) / 2 - 0.5f, sy = (y + 0.5f) / 2 - 0.5f;
      const int x0 = static_cast<int>(std::floor(sx)), y0 = static_cast<int>(std::floor(sy));
      float sum = 0;
      for (int j = -1; j <= 2; ++j) {
        for (int i = -1; i <= 2; ++i) {
          const int cx = std::clamp(x0 + i, 0, w - 1), cy = std::clamp(y0 + j, 0, h - 1);
          sum += g[static_cast<size_t>(cy * w + cx)] * k(sx - (x0 + i)) * k(sy - (y0 + j));
        }
      }
      out[static_cast<size_t>(y * 2 * w + x)] =
          static_cast<uint8_t>(std::clamp(std::lrint(sum), 0L, 255L));
    }
  }
  return out;
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double se = 0;
  for (size_t i = 0; i < a.size(); ++i) se += (a[i] - b[i]) * (a[i] - b[i]);
  return 10 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / std::max(se, 1e-9));
}

// Line art box-shrunk to half and upscaled: the networks come nearer the
// original than bicubic by at least 4 dB.
TEST(Waifu2x, UpscaleBeatsBicubicOnLineArt) {
  const int w = 192, h = 160;
  const std::vector<uint8_t> art = LineArt(w, h, 11);
  Picture small(w / 2, h / 2, false);
  std::vector<uint8_t> smallGrey(static_cast<size_t>(w * h / 4));
  for (int y = 0; y < h / 2; ++y) {
    for (int x = 0; x < w / 2; ++x) {
      const int s = art[static_cast<size_t>(2 * y * w + 2 * x)] +
                    art[static_cast<size_t>(2 * y * w + 2 * x + 1)] +
                    art[static_cast<size_t>((2 * y + 1) * w + 2 * x)] +
                    art[static_cast<size_t>((2 * y + 1) * w + 2 * x + 1)];
      smallGrey[static_cast<size_t>(y * w / 2 + x)] = static_cast<uint8_t>((s + 2) / 4);
      for (int c = 0; c < 3; ++c)
        small.rows.data[y * small.rows.stride + x * 3 + c] = static_cast<uint8_t>((s + 2) / 4);
    }
  }
  const double bicubic = Psnr(BicubicDouble(smallGrey, w / 2, h / 2), art);
  SetLearnedThreads(2);
  int found = 0;
  for (const char* name : {"upconv_7-off-2x", "cunet-off-2x"}) {
    Net net;
    if (!LoadModel(name, net)) continue;
    ++found;
    NetRunner runner(net);
    Picture big(w, h, false);
    ASSERT_TRUE(RunNetOnPicture(runner, net, small.rows, big.rows, 48)) << name;
    std::vector<uint8_t> green(static_cast<size_t>(w * h));
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x)
        green[static_cast<size_t>(y * w + x)] = big.rows.data[y * big.rows.stride + x * 3 + 1];
    }
    const double learned = Psnr(green, art);
    RecordProperty(name, std::to_string(learned - bicubic));
    EXPECT_GE(learned - bicubic, 4.0) << name << ": " << learned << " dB, bicubic " << bicubic;
  }
  if (found == 0) GTEST_SKIP() << "no waifu2x weights in " << ModelsDir();
}

}  // namespace
}  // namespace inkbrite::learned
