// SPDX-License-Identifier: GPL-2.0-or-later
// Writing JP2 files with OpenJPEG: the container's encoder and the page
// writer built on it.
#include <openjpeg.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "formats/container_bytes.h"
#include "formats/jpeg2000/jp2_codec.h"
#include "formats/jpeg2000/jp2_pvt.h"
#include "platform/file_io.h"

namespace inkbrite {

namespace {

constexpr double kMinRate = 0.001;
// The library's default number of resolution levels.
constexpr int kMaxResolutions = 6;

using jp2::CodecPtr;
using jp2::ImagePtr;
using jp2::Silent;
using jp2::StreamPtr;

// The library's output: a growing buffer. The JP2 writer seeks back to fill
// in box lengths, so writes land at the current position and extend the
// buffer as needed.
struct MemorySink {
  std::vector<uint8_t>* out = nullptr;
  size_t pos = 0;
};

OPJ_SIZE_T WriteSink(void* buffer, OPJ_SIZE_T count, void* user) {
  auto* sink = static_cast<MemorySink*>(user);
  try {
    if (count > sink->out->max_size() - sink->pos) return static_cast<OPJ_SIZE_T>(-1);
    if (sink->pos + count > sink->out->size()) sink->out->resize(sink->pos + count);
  } catch (...) {
    return static_cast<OPJ_SIZE_T>(-1);
  }
  if (count > 0) std::memcpy(sink->out->data() + sink->pos, buffer, count);
  sink->pos += count;
  return count;
}

OPJ_OFF_T SkipSink(OPJ_OFF_T count, void* user) {
  auto* sink = static_cast<MemorySink*>(user);
  if (count < 0 && static_cast<uint64_t>(-count) > sink->pos) return -1;
  sink->pos = static_cast<size_t>(static_cast<OPJ_OFF_T>(sink->pos) + count);
  return count;
}

OPJ_BOOL SeekSink(OPJ_OFF_T offset, void* user) {
  if (offset < 0) return OPJ_FALSE;
  static_cast<MemorySink*>(user)->pos = static_cast<size_t>(offset);
  return OPJ_TRUE;
}

// The picture as library components, rows from the top: one grey component
// (the palette indices of a grey-ramp container) or red, green and blue.
ImagePtr MakeComponents(const CxImage& image, bool grey) {
  const int count = grey ? 1 : 3;
  const auto w = static_cast<uint32_t>(image.Width());
  const auto h = static_cast<uint32_t>(image.Height());
  opj_image_cmptparm_t parts[3];
  for (int c = 0; c < count; ++c) {
    std::memset(&parts[c], 0, sizeof parts[c]);
    parts[c].dx = 1;
    parts[c].dy = 1;
    parts[c].w = w;
    parts[c].h = h;
    parts[c].prec = 8;
    parts[c].sgnd = 0;
  }
  ImagePtr out(opj_image_create(static_cast<OPJ_UINT32>(count), parts,
                                grey ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB));
  if (!out) return out;
  out->x0 = 0;
  out->y0 = 0;
  out->x1 = w;
  out->y1 = h;
  for (uint32_t y = 0; y < h; ++y) {
    const auto stored = static_cast<int32_t>(h - 1 - y);
    const size_t at = static_cast<size_t>(y) * w;
    if (grey) {
      OPJ_INT32* g = out->comps[0].data + at;
      for (uint32_t x = 0; x < w; ++x) g[x] = image.GetPixelIndex(static_cast<int32_t>(x), stored);
      continue;
    }
    const uint8_t* row = image.StoredRow(stored);
    OPJ_INT32* r = out->comps[0].data + at;
    OPJ_INT32* g = out->comps[1].data + at;
    OPJ_INT32* b = out->comps[2].data + at;
    for (uint32_t x = 0; x < w; ++x, row += 3) {
      b[x] = row[0];
      g[x] = row[1];
      r[x] = row[2];
    }
  }
  return out;
}

// Resolution levels the picture can take: the smallest level must still be
// at least one pixel on each side, else the library refuses to encode.
int ResolutionsFor(uint32_t w, uint32_t h) {
  int levels = 1;
  const uint32_t side = std::min(w, h);
  while (levels < kMaxResolutions && (side >> levels) > 0) ++levels;
  return levels;
}

constexpr const char* kEncodeFailed = "error: cannot encode image\n";

// Null on success, else the error text.
const char* Encode(CxImage& image, std::vector<uint8_t>& out) {
  const bool grey = image.PaletteSize() > 0;
  ImagePtr components = MakeComponents(image, grey);
  if (!components) return "error : opj_image_create";

  opj_cparameters_t parameters;
  opj_set_default_encoder_parameters(&parameters);
  const double rate = Jp2RateForQuality(image.JpegQuality());
  parameters.tcp_numlayers = 1;
  parameters.cp_disto_alloc = 1;
  if (rate >= 1.0) {
    // Everything kept: the reversible 5/3 wavelet with no rate limit (a
    // ratio of 0 is the library's "lossless").
    parameters.tcp_rates[0] = 0.0f;
    parameters.irreversible = 0;
  } else {
    parameters.tcp_rates[0] = static_cast<float>(1.0 / rate);
    parameters.irreversible = 1;
  }
  parameters.tcp_mct = grey ? 0 : 1;
  parameters.numresolution = ResolutionsFor(components->x1, components->y1);

  CodecPtr codec(opj_create_compress(OPJ_CODEC_JP2));
  if (!codec) return kEncodeFailed;
  opj_set_info_handler(codec.get(), Silent, nullptr);
  opj_set_warning_handler(codec.get(), Silent, nullptr);
  opj_set_error_handler(codec.get(), Silent, nullptr);
  if (!opj_setup_encoder(codec.get(), &parameters, components.get())) return kEncodeFailed;

  out.clear();
  MemorySink sink{&out, 0};
  StreamPtr stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_FALSE));
  if (!stream) return kEncodeFailed;
  opj_stream_set_write_function(stream.get(), WriteSink);
  opj_stream_set_skip_function(stream.get(), SkipSink);
  opj_stream_set_seek_function(stream.get(), SeekSink);
  opj_stream_set_user_data(stream.get(), &sink, nullptr);

  const bool done = opj_start_compress(codec.get(), components.get(), stream.get()) &&
                    opj_encode(codec.get(), stream.get()) &&
                    opj_end_compress(codec.get(), stream.get());
  return done ? nullptr : kEncodeFailed;
}

}  // namespace

double Jp2RateForQuality(int quality) {
  const double q = quality / 100.0;
  // Three decimals, as the rate has always been given to the encoder.
  const double rate = std::round(q * q * q * 1000.0) / 1000.0;
  return std::max(rate, kMinRate);
}

bool EncodeJp2(CxImage& image, std::vector<uint8_t>& out) {
  out.clear();
  if (!image.IsValid()) {
    image.SetLastError("Encode: empty image");
    return false;
  }
  if (image.PaletteSize() > 0 && !image.IsGrayScale()) {
    image.SetLastError("JasPer can save only RGB or GrayScale images");
    return false;
  }
  const char* error = kEncodeFailed;
  try {
    error = Encode(image, out);
  } catch (...) {
    error = kEncodeFailed;
  }
  if (error != nullptr) {
    out.clear();
    image.SetLastError(error);
    return false;
  }
  return true;
}

bool EncodeJp2(CxImage& image, std::FILE* file) {
  return WriteEncodedContainer(
      image, file, [](CxImage& c, std::vector<uint8_t>& out) { return EncodeJp2(c, out); },
      "Encode: write failed");
}

// Deliberate rule: an encoder failure is reported (0) instead of being
// taken for success, and the file is written only once the whole code
// stream exists, so a failure never leaves a partial file.
int WriteJp2File(const std::filesystem::path& path, const DibImage& image, int colourMode,
                 int quality) {
  return WriteThroughContainer(
      path, image, colourMode, quality,
      [](CxImage& c, std::vector<uint8_t>& out) { return EncodeJp2(c, out); });
}

}  // namespace inkbrite
