// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "core/byte_io.h"
#include "formats/detect.h"
#include "formats/jpeg/jpeg_codec.h"

namespace inkbrite::test {

namespace {

// The test programs run the codec helper and load the metafile module of
// this build tree (they do not lie beside them), unless the environment
// names others.
const bool kCodecHelperSet = [] {
  setenv("INKBRITE_CODEC_HELPER", INKBRITE_BUILT_CODEC_HELPER, 0);
  setenv("INKBRITE_PDF_HELPER", INKBRITE_BUILT_PDF_HELPER, 0);
  setenv("INKBRITE_METAFILE_MODULE", INKBRITE_BUILT_METAFILE_MODULE, 0);
  return true;
}();

// The suite expects the engine's Chinese texts: every inkbrite-batch a test
// starts speaks Chinese whatever the machine's locale, unless its own command
// line or environment names another language.
const bool kLanguageSet = [] {
  setenv("INKBRITE_LANG", "zh", 1);
  return true;
}();

}  // namespace

std::filesystem::path CorpusDir() {
  const char* fromEnvironment = std::getenv("INKBRITE_CORPUS_DIR");
  if (fromEnvironment != nullptr && *fromEnvironment != '\0') return fromEnvironment;
  return std::filesystem::path(INKBRITE_CORPUS_DIR);
}

bool HaveCorpus() {
  std::error_code ec;
  return std::filesystem::is_regular_file(CorpusDir() / "MANIFEST.tsv", ec);
}

namespace {

std::vector<std::string> Columns(const std::string& line) {
  std::vector<std::string> cols;
  std::stringstream ss(line);
  std::string col;
  while (std::getline(ss, col, '\t')) cols.push_back(col);
  return cols;
}

// The format code of a file of the modern formats' manifest, from the
// folder it lies in (webp/, avif/, jxl/), whose name is its extension.
int CodeOfModernFolder(const std::string& path) {
  const size_t slash = path.find('/');
  if (slash == std::string::npos) return 0;
  return DetectImageFormat("/nonexistent/file." + path.substr(0, slash), false);
}

// The paths listed under a heading of the corpus README.
std::vector<std::string> ListedUnder(const std::string& heading) {
  std::vector<std::string> list;
  std::ifstream in(CorpusDir() / "README.md");
  std::string line;
  bool inSection = false;
  while (std::getline(in, line)) {
    if (line.rfind("#", 0) == 0) {
      const size_t text = line.find_first_not_of('#');
      inSection = text != std::string::npos && line.substr(text) == " " + heading;
    }
    if (!inSection || line.rfind("- `", 0) != 0) continue;
    const size_t end = line.find('`', 3);
    if (end != std::string::npos) list.push_back(line.substr(3, end - 3));
  }
  return list;
}

}  // namespace

std::vector<ManifestRow> ReadManifest(const std::string& prefix) {
  std::vector<ManifestRow> rows;
  std::string line;
  // path, format code, expect, grey source, tolerance, source, licence
  std::ifstream in(CorpusDir() / "MANIFEST.tsv");
  bool header = true;
  while (std::getline(in, line)) {
    if (header) {
      header = false;
      continue;
    }
    const std::vector<std::string> cols = Columns(line);
    if (cols.size() < 5 || cols[0].rfind(prefix, 0) != 0) continue;
    ManifestRow row;
    row.path = cols[0];
    row.formatCode = std::atoi(cols[1].c_str());
    row.expect = cols[2];
    row.greySource = cols[3] == "-" ? -1 : std::atoi(cols[3].c_str());
    row.tolerance = cols[4] == "-" ? -1 : std::atoi(cols[4].c_str());
    rows.push_back(row);
  }
  // The modern formats' manifest: path, expect, tolerance, source, licence.
  std::ifstream modern(CorpusDir() / "MANIFEST-modern.tsv");
  header = true;
  while (std::getline(modern, line)) {
    if (header) {
      header = false;
      continue;
    }
    const std::vector<std::string> cols = Columns(line);
    if (cols.size() < 3 || cols[0].rfind(prefix, 0) != 0) continue;
    ManifestRow row;
    row.path = cols[0];
    row.formatCode = CodeOfModernFolder(cols[0]);
    row.expect = cols[1];
    row.tolerance = cols[2] == "-" ? -1 : std::atoi(cols[2].c_str());
    rows.push_back(row);
  }
  return rows;
}

bool EitherResultAccepted(const std::string& path) {
  static const std::vector<std::string> files = [] {
    std::vector<std::string> list = ListedUnder("Either result accepted");
    for (std::string& p : ListedUnder("Two answers accepted")) list.push_back(std::move(p));
    return list;
  }();
  return std::find(files.begin(), files.end(), path) != files.end();
}

void ExpectLoadedAsListed(const ManifestRow& row, int result, const DibImage& image, int grey) {
  ASSERT_EQ(result, 1) << row.path;
  EXPECT_TRUE(image.Is24Bit()) << row.path;
  if (row.greySource >= 0) {
    EXPECT_EQ(grey, row.greySource) << row.path;
  }
  if (row.expect == "ok") {
    Ppm ppm;
    ASSERT_TRUE(ReadPpm(CorpusDir() / "expected" / (row.path + ".ppm"), ppm)) << row.path;
    EXPECT_EQ(CompareWithPpm(image, ppm, row.tolerance), "") << row.path;
  }
}

void ExpectAsListed(const ManifestRow& row, int result, const DibImage& image, int grey) {
  if (row.expect != "fail") {
    // A file the README accepts either way may be refused, cleanly.
    if (result == 0 && EitherResultAccepted(row.path)) {
      EXPECT_TRUE(image.IsEmpty()) << row.path;
      return;
    }
    return ExpectLoadedAsListed(row, result, image, grey);
  }
  if (!EitherResultAccepted(row.path)) {
    EXPECT_EQ(result, 0) << row.path;
  }
  EXPECT_TRUE(result == 1 ? image.Is24Bit() : image.IsEmpty()) << row.path;
}

double Psnr(const DibImage& a, const DibImage& b) {
  if (!a.Is24Bit() || !b.Is24Bit() || a.Width() != b.Width() || a.Height() != b.Height()) return 0;
  double sum = 0;
  for (int32_t y = 0; y < a.Height(); ++y) {
    const uint8_t* p = a.Row(y);
    const uint8_t* q = b.Row(y);
    for (int32_t i = 0; i < a.Width() * 3; ++i) {
      const double d = static_cast<double>(p[i]) - static_cast<double>(q[i]);
      sum += d * d;
    }
  }
  if (sum == 0) return 1000;
  const double mse = sum / (3.0 * a.Width() * a.Height());
  return 10 * std::log10(255.0 * 255.0 / mse);
}

bool ReadPpm(const std::filesystem::path& path, Ppm& ppm) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int maxval = 0;
  if (!(in >> magic >> ppm.width >> ppm.height >> maxval) || magic != "P6" || maxval != 255) {
    return false;
  }
  in.get();  // the single blank after maxval
  ppm.rgb.resize(static_cast<size_t>(ppm.width) * static_cast<size_t>(ppm.height) * 3);
  return static_cast<bool>(in.read(reinterpret_cast<char*>(ppm.rgb.data()),
                                   static_cast<std::streamsize>(ppm.rgb.size())));
}

std::string CompareWithPpm(const DibImage& image, const Ppm& ppm, int tolerance) {
  std::ostringstream msg;
  if (!image.Is24Bit()) return "image is not 24-bit";
  if (image.Width() != ppm.width || image.Height() != ppm.height) {
    msg << "size " << image.Width() << "x" << image.Height() << ", expected " << ppm.width << "x"
        << ppm.height;
    return msg.str();
  }
  for (int y = 0; y < ppm.height; ++y) {
    const uint8_t* row = image.Row(y);
    for (int x = 0; x < ppm.width; ++x) {
      const uint8_t* e = &ppm.rgb[(static_cast<size_t>(y) * ppm.width + x) * 3];
      const uint8_t* p = row + static_cast<size_t>(x) * 3;
      const int d = std::max({std::abs(p[2] - e[0]), std::abs(p[1] - e[1]), std::abs(p[0] - e[2])});
      if (d > tolerance) {
        msg << "pixel (" << x << ", " << y << ") is rgb(" << int{p[2]} << "," << int{p[1]} << ","
            << int{p[0]} << "), expected rgb(" << int{e[0]} << "," << int{e[1]} << "," << int{e[2]}
            << ")";
        return msg.str();
      }
    }
  }
  return {};
}

std::vector<uint8_t> MakeDib(int32_t width, int32_t height, int32_t bits,
                             const std::vector<RgbQuad>& table,
                             const std::vector<std::vector<uint8_t>>& rowsTopFirst, bool core) {
  const size_t rowBytes = static_cast<size_t>(DibImage::RowBytesFor(width, bits));
  if (rowsTopFirst.size() != static_cast<size_t>(height)) throw std::logic_error("row count");
  const size_t headerSize = core ? 12 : 40;
  const size_t entrySize = core ? 3 : 4;
  std::vector<uint8_t> dib(headerSize + table.size() * entrySize + rowBytes * height, 0);
  uint8_t* p = dib.data();
  if (core) {
    WriteLE32(p, 12);
    WriteLE16(p + 4, static_cast<uint16_t>(width));
    WriteLE16(p + 6, static_cast<uint16_t>(height));
    WriteLE16(p + 8, 1);
    WriteLE16(p + 10, static_cast<uint16_t>(bits));
  } else {
    WriteLE32(p, 40);
    WriteLE32(p + 4, static_cast<uint32_t>(width));
    WriteLE32(p + 8, static_cast<uint32_t>(height));
    WriteLE16(p + 12, 1);
    WriteLE16(p + 14, static_cast<uint16_t>(bits));
    WriteLE32(p + 32, static_cast<uint32_t>(table.size()));
  }
  uint8_t* t = p + headerSize;
  for (const RgbQuad& e : table) {
    t[0] = e.blue;
    t[1] = e.green;
    t[2] = e.red;
    t += entrySize;
  }
  for (int32_t y = 0; y < height; ++y) {
    const auto& row = rowsTopFirst[static_cast<size_t>(y)];
    if (row.size() != rowBytes) throw std::logic_error("row size");
    std::memcpy(t + (static_cast<size_t>(height - 1 - y)) * rowBytes, row.data(), rowBytes);
  }
  return dib;
}

DibImage MakePattern(int32_t width, int32_t height) {
  return MakeBytes(width, height, [](int32_t x, int32_t y, int c) {
    return static_cast<uint8_t>((x * 7 + y * 13 + c * 50) & 0xFF);
  });
}

Bgr PixelAt(const DibImage& image, int32_t x, int32_t y) {
  const uint8_t* p = image.Row(y) + static_cast<size_t>(x) * 3;
  return Bgr{p[0], p[1], p[2]};
}

void SetPixel(DibImage& image, int32_t x, int32_t y, Bgr c) {
  uint8_t* p = image.Row(y) + static_cast<size_t>(x) * 3;
  p[0] = c.b;
  p[1] = c.g;
  p[2] = c.r;
}

std::vector<Bgr> Pixels(const DibImage& image) {
  std::vector<Bgr> pixels;
  for (int32_t y = 0; y < image.Height(); ++y) {
    for (int32_t x = 0; x < image.Width(); ++x) pixels.push_back(PixelAt(image, x, y));
  }
  return pixels;
}

DibImage MakeImage(int32_t width, int32_t height,
                   const std::function<Bgr(int32_t, int32_t)>& colour) {
  return MakeBytes(width, height, [&colour, pixel = Bgr{}](int32_t x, int32_t y, int c) mutable {
    if (c == 0) pixel = colour(x, y);
    return c == 0 ? pixel.b : c == 1 ? pixel.g : pixel.r;
  });
}

DibImage MakeFilled(int32_t width, int32_t height, Bgr colour) {
  return MakeImage(width, height, [colour](int32_t, int32_t) { return colour; });
}

DibImage MakeBytes(int32_t width, int32_t height,
                   const std::function<uint8_t(int32_t, int32_t, int)>& byte, uint8_t padding) {
  DibImage image;
  if (!image.Create(width, height, 24)) throw std::runtime_error("Create failed");
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = image.Row(y);
    for (int32_t x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c) *row++ = byte(x, y, c);
    }
    std::fill(row, image.Row(y) + image.RowBytes(), padding);
  }
  return image;
}

DibImage MakeGreyPattern(int32_t width, int32_t height) {
  DibImage image = MakePattern(width, height);
  if (!image.Greyscale()) throw std::runtime_error("Greyscale failed");
  return image;
}

CxImage MakeIndexed(int32_t width, int32_t height, int bits, int type,
                    const std::vector<RgbQuad>& palette,
                    const std::function<uint8_t(int32_t, int32_t)>& index) {
  CxImage image;
  if (!image.Create(width, height, bits, type)) throw std::runtime_error(image.LastError());
  image.SetPalette(palette.data(), palette.size());
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) image.SetPixelIndex(x, y, index(x, y));
  }
  return image;
}

DibImage MakeNoise(int32_t width, int32_t height, uint32_t seed) {
  return MakeBytes(width, height, [&seed](int32_t, int32_t, int) {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<uint8_t>(seed >> 24);
  });
}

void PutLE(std::vector<uint8_t>& out, int bytes, std::initializer_list<uint32_t> values) {
  for (uint32_t v : values) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
}

void PutBE(std::vector<uint8_t>& out, int bytes, std::initializer_list<uint32_t> values) {
  for (uint32_t v : values) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
}

std::vector<std::pair<std::string, std::vector<uint8_t>>> PngChunks(
    const std::vector<uint8_t>& file) {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> chunks;
  for (size_t at = 8; at + 12 <= file.size();) {
    const uint32_t length = uint32_t{file[at]} << 24 | uint32_t{file[at + 1]} << 16 |
                            uint32_t{file[at + 2]} << 8 | file[at + 3];
    if (length > file.size() - at - 12) break;
    chunks.emplace_back(
        std::string(file.begin() + at + 4, file.begin() + at + 8),
        std::vector<uint8_t>(file.begin() + at + 8, file.begin() + at + 8 + length));
    at += 12 + length;
  }
  return chunks;
}

std::vector<uint8_t> PngChunk(const std::vector<uint8_t>& file, const std::string& type) {
  for (auto& [name, data] : PngChunks(file)) {
    if (name == type) return data;
  }
  return {};
}

std::vector<std::string> Listing(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TempDir::TempDir() {
  std::random_device rd;
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    m_path = base / ("inkbrite-test-" + std::to_string(rd()));
    if (std::filesystem::create_directory(m_path)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(m_path, ec);
}

FileSizeLimit::FileSizeLimit(uint64_t bytes) {
  m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  m_oldSoft = limit.rlim_cur;
  limit.rlim_cur = static_cast<rlim_t>(bytes);
  if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) throw std::runtime_error("setrlimit");
}

FileSizeLimit::~FileSizeLimit() {
  rlimit limit{};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = static_cast<rlim_t>(m_oldSoft);
  ::setrlimit(RLIMIT_FSIZE, &limit);
  std::signal(SIGXFSZ, m_oldHandler);
}

namespace {

// A "VmRSS:"-style field of /proc/self/status in bytes, -1 when absent.
int64_t StatusBytes(const std::string& field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::atoll(line.c_str() + field.size() + 1) * 1024;
  }
  return -1;
}

bool ResetPeak() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  out.flush();
  return static_cast<bool>(out);
}

}  // namespace

PeakMemory::PeakMemory() {
  // Memory freed before (kept by the allocator, which would hand it out
  // again without the resident size growing) goes back to the system first.
  malloc_trim(0);
  ResetPeak();
  m_baseline = StatusBytes("VmRSS");
}

bool PeakMemory::Available() {
  return StatusBytes("VmHWM") >= 0 && StatusBytes("VmRSS") >= 0 && ResetPeak();
}

int64_t PeakMemory::GrowthBytes() const { return StatusBytes("VmHWM") - m_baseline; }

std::string PdfOf(const std::vector<std::string>& objects) {
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t offset : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
    pdf += line;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
         " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

std::vector<uint8_t> ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::string ReadText(const std::filesystem::path& path) {
  const std::vector<uint8_t> bytes = ReadAll(path);
  return std::string(bytes.begin(), bytes.end());
}

void WriteText(const std::filesystem::path& path, std::string_view text) {
  WriteAll(path, std::vector<uint8_t>(text.begin(), text.end()));
}

DibImage JpegRoundTrip(const DibImage& image, int quality) {
  static int serial = 0;
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() /
      ("inkbrite-jpeg-" + std::to_string(::getpid()) + "-" + std::to_string(++serial) + ".jpg");
  if (WriteJpegFile(path, image, quality, 0) != 1) throw std::runtime_error("WriteJpegFile failed");
  DibImage back;
  const int result = ReadJpegFile(path, back, nullptr);
  std::filesystem::remove(path);
  if (result == 0) throw std::runtime_error("ReadJpegFile failed");
  return back;
}

}  // namespace inkbrite::test
