// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/apart_codecs.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/learned.h"
#include "core/limits.h"
#include "formats/apart_protocol.h"
#include "formats/decode_guard.h"
#include "formats/plain_pixels.h"
#include "platform/child_process.h"
#include "platform/file_io.h"
#include "platform/program_paths.h"

namespace inkbrite {

namespace {

namespace fs = std::filesystem;

// The largest file read into memory: the bound of a picture's pixels.
constexpr uint64_t kMaxApartFileBytes = kMaxDibBytes;

bool Run(const char* operation, std::span<const uint8_t> input, uint64_t maxOutput,
         std::vector<uint8_t>& output) {
  const fs::path helper = CodecHelperPath();
  if (helper.empty()) return false;
  const ChildLimits limits{maxOutput, apart::kHelperCpuSeconds};
  return RunChildProgram(helper, {operation}, input, limits, output);
}

// A decode request: the helper's answer checked and copied into the page.
int Decode(const char* operation, const uint8_t* data, size_t size, DibImage& image,
           int* greySource) {
  if (data == nullptr || size == 0 || size > kMaxApartFileBytes) return 0;
  std::vector<uint8_t> answer;
  if (!Run(operation, {data, size}, sizeof(apart::DecodedHeader) + kMaxDibBytes, answer) ||
      answer.size() < sizeof(apart::DecodedHeader)) {
    return 0;
  }
  apart::DecodedHeader header;
  std::memcpy(&header, answer.data(), sizeof header);
  if (header.magic != apart::kDecodedMagic || !ImageSizeWithinLimits(header.width, header.height)) {
    return 0;
  }
  const size_t rowBytes = static_cast<size_t>(header.width) * 3;
  if (answer.size() - sizeof header != rowBytes * header.height) return 0;
  if (!image.Create(static_cast<int32_t>(header.width), static_cast<int32_t>(header.height), 24)) {
    return 0;
  }
  for (uint32_t y = 0; y < header.height; ++y) {
    std::memcpy(image.Row(static_cast<int32_t>(y)), answer.data() + sizeof header + rowBytes * y,
                rowBytes);
  }
  if (greySource != nullptr) *greySource = header.greySource != 0 ? 1 : 0;
  return 1;
}

// An encode request for plain pixels; the encoded file in `file`.
bool Encode(const char* operation, const PlainPixels& pixels, int colourMode, int quality,
            std::vector<uint8_t>& file) {
  apart::EncodeHeader header;
  header.width = static_cast<uint32_t>(pixels.width);
  header.height = static_cast<uint32_t>(pixels.height);
  header.channels = static_cast<uint32_t>(pixels.channels);
  header.colourMode = static_cast<uint32_t>(colourMode);
  header.quality = static_cast<uint32_t>(std::clamp(quality, 0, 100));
  std::vector<uint8_t> request(sizeof header + pixels.bytes.size());
  std::memcpy(request.data(), &header, sizeof header);
  std::copy(pixels.bytes.begin(), pixels.bytes.end(), request.begin() + sizeof header);
  return Run(operation, request, kMaxDibBytes, file) && !file.empty();
}

int WritePage(const char* operation, const fs::path& path, const DibImage& image, int colourMode,
              int quality) {
  try {
    PlainPixels pixels;
    std::vector<uint8_t> file;
    if (!PagePixels(image, colourMode == 1, pixels) ||
        !Encode(operation, pixels, colourMode, quality, file)) {
      return 0;
    }
    return WriteFileBytesSafely(path, file.data(), file.size()) ? 1 : 0;
  } catch (...) {  // no memory for the pixels
    return 0;
  }
}

// A learned request: the page's rows (grey levels widened), the answer's
// rows into `out` (grey levels again for a grey page: the mean of the
// three channels).
bool LearnedApart(const DibImage& page, const LearnedChoice& choice, int threads, DibImage& out) {
  const fs::path helper = CodecHelperPath();
  if (helper.empty() || (!page.Is24Bit() && !page.IsGreyLevels())) return false;
  apart::LearnedHeader header;
  header.width = static_cast<uint32_t>(page.Width());
  header.height = static_cast<uint32_t>(page.Height());
  header.model = choice.model == 1 ? 1 : 0;
  header.noise = choice.noise;
  header.scale = static_cast<uint32_t>(choice.scale);
  header.threads = static_cast<uint32_t>(std::max(threads, 1));
  const size_t rowBytes = size_t{header.width} * 3;
  std::vector<uint8_t> request(sizeof header + rowBytes * header.height);
  std::memcpy(request.data(), &header, sizeof header);
  const bool grey = page.IsGreyLevels();
  for (int32_t y = 0; y < page.Height(); ++y) {
    uint8_t* to = request.data() + sizeof header + rowBytes * static_cast<size_t>(y);
    const uint8_t* from = page.Row(y);
    if (!grey) {
      std::memcpy(to, from, rowBytes);
      continue;
    }
    for (uint32_t x = 0; x < header.width; ++x) to[3 * x] = to[3 * x + 1] = to[3 * x + 2] = from[x];
  }
  const uint32_t w = header.width * header.scale, h = header.height * header.scale;
  const uint64_t megapixels = (uint64_t{w} * h + 999999) / 1000000;
  const ChildLimits limits{
      sizeof(apart::DecodedHeader) + uint64_t{w} * 3 * h,
      static_cast<int>(std::max<uint64_t>(apart::kHelperCpuSeconds,
                                          megapixels * apart::kLearnedCpuSecondsPerMegapixel))};
  std::vector<uint8_t> answer;
  if (!RunChildProgram(helper, {apart::kLearned}, request, limits, answer) ||
      answer.size() != sizeof(apart::DecodedHeader) + uint64_t{w} * 3 * h) {
    return false;
  }
  apart::DecodedHeader got;
  std::memcpy(&got, answer.data(), sizeof got);
  if (got.magic != apart::kDecodedMagic || got.width != w || got.height != h) return false;
  DibImage result;
  const int32_t ow = static_cast<int32_t>(w), oh = static_cast<int32_t>(h);
  if (!(grey ? result.CreateGreyLevels(ow, oh) : result.Create(ow, oh, 24))) return false;
  for (int32_t y = 0; y < oh; ++y) {
    const uint8_t* from = answer.data() + sizeof got + size_t{w} * 3 * static_cast<size_t>(y);
    uint8_t* to = result.Row(y);
    if (!grey) {
      std::memcpy(to, from, size_t{w} * 3);
      continue;
    }
    for (uint32_t x = 0; x < w; ++x) {
      to[x] = static_cast<uint8_t>((from[3 * x] + from[3 * x + 1] + from[3 * x + 2] + 1) / 3);
    }
  }
  out = std::move(result);
  return true;
}

// Installed when this file is linked, that is in every program that reads
// or writes files through the format table.
[[maybe_unused]] const bool kLearnedRunnerInstalled = (SetLearnedRunner(LearnedApart), true);

bool IsAvifBrand(const uint8_t* brand) {
  return std::memcmp(brand, "avif", 4) == 0 || std::memcmp(brand, "avis", 4) == 0;
}

}  // namespace

fs::path CodecHelperPath() {
  return HelperProgramPath(apart::kHelperName, "INKBRITE_CODEC_HELPER");
}

int DecodeAvifApart(const uint8_t* data, size_t size, DibImage& image, int* greySource) {
  return GuardedDecode(image,
                       [&] { return Decode(apart::kDecodeAvif, data, size, image, greySource); });
}

int ReadAvifApart(FileProbe& file, DibImage& image, int* greySource) {
  return ReadFileAndDecode(file, kMaxApartFileBytes, DecodeAvifApart, image, greySource);
}

int WriteAvifApart(const fs::path& path, const DibImage& image, int colourMode, int quality) {
  return WritePage(apart::kEncodeAvif, path, image, colourMode, quality);
}

int DecodeJxlApart(const uint8_t* data, size_t size, DibImage& image, int* greySource) {
  return GuardedDecode(image,
                       [&] { return Decode(apart::kDecodeJxl, data, size, image, greySource); });
}

int ReadJxlApart(FileProbe& file, DibImage& image, int* greySource) {
  return ReadFileAndDecode(file, kMaxApartFileBytes, DecodeJxlApart, image, greySource);
}

int WriteJxlApart(const fs::path& path, const DibImage& image, int colourMode, int quality) {
  return WritePage(apart::kEncodeJxl, path, image, colourMode, quality);
}

bool EncodeJxlApart(CxImage& image, std::FILE* file) {
  return EncodeContainer(image, file, "JPEG XL",
                         [](const PlainPixels& pixels, std::vector<uint8_t>& bytes) {
                           return Encode(apart::kEncodeJxlLossless, pixels, 0, 100, bytes);
                         });
}

bool IsAvifHead(const uint8_t* head, size_t size) {
  // size, "ftyp", major brand, minor version, compatible brands.
  if (size < 16 || std::memcmp(head + 4, "ftyp", 4) != 0) return false;
  const uint32_t boxSize =
      uint32_t{head[0]} << 24 | uint32_t{head[1]} << 16 | uint32_t{head[2]} << 8 | head[3];
  if (boxSize < 16) return false;
  if (IsAvifBrand(head + 8)) return true;
  const size_t end = std::min<size_t>(boxSize, size);
  for (size_t at = 16; at + 4 <= end; at += 4) {
    if (IsAvifBrand(head + at)) return true;
  }
  return false;
}

}  // namespace inkbrite
