// SPDX-License-Identifier: GPL-2.0-or-later
// Seeds for the fuzz targets, made with Inkbrite's own writers, and the list
// of targets:
//   fuzz_make_seeds OUT_DIR   makes OUT_DIR/<target>/ files
//   fuzz_make_seeds --list    prints one line per target: its name and the
//                             extensions of its files ("load": every one)
// Seeds: small pages in colour and grey through every writer of the format
// table, reduced palette pages (1, 4 and 8 bits) for every format that holds
// them, the JPEG pages as UFO files, the bare code stream of each JP2 file,
// and a bit of everything for "load".
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "core/dib_image.h"
#include "formats/image_file.h"
#include "formats/reduce_save.h"
#include "fuzz/fuzz_targets.h"
#include "sources/pdf_protocol.h"

namespace fs = std::filesystem;
using inkbrite::DibImage;
using inkbrite::FileFormat;

namespace {

// A small page with some structure: gradients, a frame and text-like strokes.
DibImage Page(int32_t w, int32_t h) {
  DibImage image;
  image.Create(w, h);
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* row = image.Row(y);
    for (int32_t x = 0; x < w; ++x) {
      const bool ink = x < 2 || y < 2 || ((x / 3 + y) % 11 == 0);
      row[3 * x + 0] = ink ? 10 : static_cast<uint8_t>(x * 255 / w);
      row[3 * x + 1] = ink ? 10 : static_cast<uint8_t>(y * 255 / h);
      row[3 * x + 2] = ink ? 10 : static_cast<uint8_t>(200 - (x + y) % 90);
    }
  }
  return image;
}

std::vector<uint8_t> ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The contiguous code stream box of a JP2 file, without its header.
bool WriteCodeStream(const fs::path& jp2, const fs::path& out) {
  const std::vector<uint8_t> b = ReadAll(jp2);
  const std::string tag = "jp2c";
  for (size_t i = 4; i + 4 <= b.size(); ++i) {
    if (std::equal(tag.begin(), tag.end(), b.begin() + static_cast<long>(i))) {
      std::ofstream o(out, std::ios::binary);
      o.write(reinterpret_cast<const char*>(b.data() + i + 4), static_cast<long>(b.size() - i - 4));
      return static_cast<bool>(o);
    }
  }
  return false;
}

const FileFormat& Format(inkbrite::ImageFormat code) { return *inkbrite::FindFileFormat(code); }
fs::path TargetDir(const fs::path& out, const FileFormat& f) { return out / f.fuzzTargets[0]; }

void ListTargets() {
  for (const auto& t : inkbrite::fuzz::Targets()) {
    std::printf("%s", t.name.c_str());
    if (t.feed == inkbrite::fuzz::Feed::kComicInfo) {
      std::printf(" .xml\n");
      continue;
    }
    if (t.feed == inkbrite::fuzz::Feed::kPdfAnswer || t.feed == inkbrite::fuzz::Feed::kNetFile) {
      std::printf(" .bin\n");
      continue;
    }
    for (const FileFormat& f : inkbrite::FileFormats()) {
      if (t.format != nullptr && t.format != &f) continue;
      for (const auto& e : f.extensions) {
        if (e.text != nullptr) std::printf(" %s", e.text);
      }
    }
    std::printf("\n");
  }
}

// Pages through every writer (and the reduced pages of the formats that
// hold them), into the folder of the format's first target.
int WritePages(const fs::path& out, const std::string& stem, const DibImage& page, int mode,
               int& n) {
  int failures = 0;
  for (const FileFormat& f : inkbrite::FileFormats()) {
    if (f.write == nullptr) continue;
    const std::string ext = f.extensions[0].text;
    if (!inkbrite::SaveImageFile(TargetDir(out, f) / (stem + ext), page, mode, 60)) ++failures;
    ++n;
    if (f.reducedPages == inkbrite::kCxImageUnknown) continue;
    for (const auto& [bits, colours] : {std::pair{1, 2}, std::pair{4, 16}, std::pair{8, 256}}) {
      DibImage copy = page;
      const fs::path file = TargetDir(out, f) / (stem + "_r" + std::to_string(bits) + ext);
      if (!inkbrite::ReduceColoursAndSave(copy, mode == 1, bits, colours, file)) ++failures;
      ++n;
    }
  }
  // Formats without a writer, from the files of one that has: a UFO file is
  // a JPEG file with its start replaced, a code stream is inside a JP2 file.
  const std::string jpegExt = Format(inkbrite::kFormatJpeg).extensions[0].text;
  const fs::path jpeg = TargetDir(out, Format(inkbrite::kFormatJpeg)) / (stem + jpegExt);
  const FileFormat& ufo = Format(inkbrite::kFormatUfo);
  fs::copy_file(jpeg, TargetDir(out, ufo) / (stem + ufo.extensions[0].text),
                fs::copy_options::overwrite_existing);
  const FileFormat& jp2 = Format(inkbrite::kFormatJp2);
  const FileFormat& j2k = Format(inkbrite::kFormatJ2kStream);
  if (!WriteCodeStream(TargetDir(out, jp2) / (stem + jp2.extensions[0].text),
                       TargetDir(out, j2k) / (stem + j2k.extensions[0].text)))
    ++failures;
  return failures;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string_view(argv[1]) == "--list") {
    ListTargets();
    return 0;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT_DIR | --list\n", argv[0]);
    return 2;
  }
  const fs::path out = argv[1];
  for (const auto& t : inkbrite::fuzz::Targets()) fs::create_directories(out / t.name);
  int failures = 0;
  int n = 0;
  for (const auto& [w, h] : {std::pair{17, 11}, std::pair{40, 23}}) {
    for (int mode = 0; mode < 2; ++mode) {
      const std::string stem = "w" + std::to_string(w) + "_m" + std::to_string(mode);
      failures += WritePages(out, stem, Page(w, h), mode, n);
    }
  }
  // ComicInfo.xml as comic tools write it, with the parser's harder parts.
  const char* comicInfo[] = {
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ComicInfo "
      "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n  <Title>The &amp; "
      "Title</Title>\n  <Series>Series</Series>\n  <Number>3</Number>\n  "
      "<Writer>A. Writer</Writer>\n  <PageCount>24</PageCount>\n  "
      "<Manga>YesAndRightToLeft</Manga>\n  <Pages><Page Image=\"0\" Type=\"FrontCover\"/></Pages>\n"
      "</ComicInfo>\n",
      "\xEF\xBB\xBF<!DOCTYPE ComicInfo><ComicInfo><!-- c --><Title><![CDATA[a<b]]> &#x4E2D;&#25991;"
      "</Title><Manga>No</Manga></ComicInfo>",
  };
  for (size_t i = 0; i < std::size(comicInfo); ++i) {
    std::ofstream(out / "comicinfo" / ("ComicInfo" + std::to_string(i) + ".xml")) << comicInfo[i];
    ++n;
  }

  // The PDF helper's answers: a listing of two pages, a page of 3 x 2.
  {
    inkbrite::pdf_helper::InfoHeader info;
    info.pages = 2;
    const inkbrite::pdf_helper::PageSize sizes[2] = {{595, 842}, {842, 595}};
    std::ofstream listing(out / "pdf-answer" / "info.bin", std::ios::binary);
    listing.put('\0');
    listing.write(reinterpret_cast<const char*>(&info), sizeof info);
    listing.write(reinterpret_cast<const char*>(sizes), sizeof sizes);
    inkbrite::pdf_helper::PageHeader page;
    page.width = 3;
    page.height = 2;
    std::ofstream picture(out / "pdf-answer" / "page.bin", std::ios::binary);
    picture.put('\1');
    picture.write(reinterpret_cast<const char*>(&page), sizeof page);
    picture << std::string(3 * 3 * 2, '\x80');
    n += 2;
  }

  // A network file: one 1 x 1 convolution, then a deconvolution doubling it.
  {
    const std::string header =
        "{\"name\":\"seed\",\"scale\":2,\"noise\":-1,\"margin\":0,\"input\":\"in\","
        "\"output\":\"out\",\"floats\":51,\"layers\":[{\"type\":\"conv\",\"inputs\":[\"in\"],"
        "\"output\":\"a\",\"in\":3,\"out\":3,\"kernel\":1,\"stride\":1,\"pad\":0,"
        "\"weights\":0,\"bias\":9,\"act\":\"leaky\",\"slope\":0.1},{\"type\":\"deconv\","
        "\"inputs\":[\"a\"],\"output\":\"out\",\"in\":3,\"out\":3,\"kernel\":2,\"stride\":2,"
        "\"pad\":0,\"weights\":12,\"bias\":-1,\"act\":\"none\"}]}";
    std::ofstream net(out / "net-file" / "upscale.bin", std::ios::binary);
    const uint32_t length = static_cast<uint32_t>(header.size());
    net << "IBNET001";
    net.write(reinterpret_cast<const char*>(&length), sizeof length);
    net << header << std::string((4 - header.size() % 4) % 4, '\0');
    for (int i = 0; i < 51; ++i) {
      const float v = 0.05f * static_cast<float>(i % 7);
      net.write(reinterpret_cast<const char*>(&v), sizeof v);
    }
    ++n;
  }

  // LoadImageFile gets a bit of everything.
  for (const auto& t : inkbrite::fuzz::Targets()) {
    if (t.feed != inkbrite::fuzz::Feed::kReader) continue;
    for (const auto& e : fs::directory_iterator(out / t.name)) {
      fs::copy_file(e.path(), out / "load" / (t.name + "_" + e.path().filename().string()),
                    fs::copy_options::overwrite_existing);
    }
  }
  std::printf("%d seed files written, %d failures\n", n, failures);
  return failures == 0 ? 0 : 1;
}
