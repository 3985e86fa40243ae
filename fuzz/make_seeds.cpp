// SPDX-License-Identifier: GPL-2.0-or-later
// Writes seed files for the fuzz targets with Inkbrite's own writers:
//   fuzz_make_seeds OUT_DIR
// makes OUT_DIR/<target>/ files: small pages in colour and grey through
// every writer, reduced palette pages (1, 4 and 8 bits) as BMP, PNG and
// TIFF, and the bare code stream of each JP2 file.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/dib_image.h"
#include "formats/image_file.h"
#include "formats/reduce_save.h"

namespace fs = std::filesystem;
using inkbrite::DibImage;

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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
    return 2;
  }
  const fs::path out = argv[1];
  for (const char* t : {"bmp", "jpeg", "ufo", "png", "tiff", "jp2", "j2k", "load"}) {
    fs::create_directories(out / t);
  }
  int failures = 0;
  int n = 0;
  for (const auto& [w, h] : {std::pair{17, 11}, std::pair{40, 23}}) {
    for (int mode = 0; mode < 2; ++mode) {
      const std::string stem = "w" + std::to_string(w) + "_m" + std::to_string(mode);
      const DibImage page = Page(w, h);
      const struct {
        const char* target;
        const char* ext;
      } kinds[] = {
          {"bmp", ".bmp"}, {"jpeg", ".jpg"}, {"png", ".png"}, {"tiff", ".tif"}, {"jp2", ".jp2"}};
      for (const auto& k : kinds) {
        const fs::path file = out / k.target / (stem + k.ext);
        if (!inkbrite::SaveImageFile(file, page, mode, 60)) ++failures;
        ++n;
      }
      const fs::path jpg = out / "jpeg" / (stem + ".jpg");
      fs::copy_file(jpg, out / "ufo" / (stem + ".ufo"), fs::copy_options::overwrite_existing);
      if (!WriteCodeStream(out / "jp2" / (stem + ".jp2"), out / "j2k" / (stem + ".j2k")))
        ++failures;
      // Reduced pages at their own depth.
      for (const auto& [bits, colours] : {std::pair{1, 2}, std::pair{4, 16}, std::pair{8, 256}}) {
        for (const auto& [target, ext] :
             {std::pair{"bmp", ".bmp"}, std::pair{"png", ".png"}, std::pair{"tiff", ".tif"}}) {
          DibImage copy = page;
          const fs::path file = out / target / (stem + "_r" + std::to_string(bits) + ext);
          if (!inkbrite::ReduceColoursAndSave(copy, mode == 1, bits, colours, file)) ++failures;
          ++n;
        }
      }
    }
  }
  // LoadImageFile gets a bit of everything.
  for (const char* t : {"bmp", "jpeg", "png", "tiff", "jp2", "j2k", "ufo"}) {
    for (const auto& e : fs::directory_iterator(out / t)) {
      fs::copy_file(e.path(), out / "load" / (std::string(t) + "_" + e.path().filename().string()),
                    fs::copy_options::overwrite_existing);
    }
  }
  std::printf("%d seed files written, %d failures\n", n, failures);
  return failures == 0 ? 0 : 1;
}
