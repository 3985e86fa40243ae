// SPDX-License-Identifier: GPL-2.0-or-later
// Reading JP2 files and JPEG 2000 code streams with OpenJPEG.
#include <openjpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "core/byte_io.h"
#include "core/limits.h"
#include "formats/decode_guard.h"
#include "formats/jpeg2000/jp2_codec.h"
#include "formats/jpeg2000/jp2_pvt.h"

namespace inkbrite {

namespace {

// A compressed file larger than this is not read at all.
constexpr uint64_t kMaxFileBytes = uint64_t{1} << 31;

// The library holds every decoded sample as a 32-bit integer, for every
// component: the header's samples (all components) times 4 are held to
// kMaxDecoderBytes, so a file with many components cannot make the decoder
// take many times the memory of the picture it delivers.
constexpr uint64_t kBytesPerDecodedSample = 4;

// Every tile of a complete code stream has a tile-part header of at least
// 14 bytes (SOT and SOD markers), and every component of a tile at least
// one byte of packets.
constexpr uint64_t kMinTileBytes = 14;

// While it reads the main header the library keeps a record of every tile
// the header announces (about 6 KiB, mostly progression-order changes) and
// one for every component of every tile (about 1 KiB, mostly quantiser step
// sizes): estimates with room to spare. Those records, which the header
// alone makes the library allocate, take at most a quarter of
// kMaxDecoderBytes.
constexpr uint64_t kTileRecordBytes = 8192;
constexpr uint64_t kTileComponentRecordBytes = 1536;
constexpr uint64_t kMaxTileRecordBytes = kMaxDecoderBytes / 4;

constexpr uint8_t kJp2Signature[12] = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50,
                                       0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A};
constexpr uint8_t kCodeStreamSignature[4] = {0xFF, 0x4F, 0xFF, 0x51};

using jp2::CodecPtr;
using jp2::ImagePtr;
using jp2::Silent;
using jp2::StreamPtr;

// The library's input: the whole file in memory. Reads, skips and seeks are
// bounded by the buffer, so a damaged length field can only make a read come
// up short, never reach past the end.
struct MemorySource {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t pos = 0;
};

OPJ_SIZE_T ReadSource(void* buffer, OPJ_SIZE_T count, void* user) {
  auto* source = static_cast<MemorySource*>(user);
  if (source->pos >= source->size) return static_cast<OPJ_SIZE_T>(-1);
  const size_t n = std::min<size_t>(count, source->size - source->pos);
  std::memcpy(buffer, source->data + source->pos, n);
  source->pos += n;
  return n;
}

OPJ_OFF_T SkipSource(OPJ_OFF_T count, void* user) {
  auto* source = static_cast<MemorySource*>(user);
  if (count < 0) {
    if (static_cast<uint64_t>(-count) > source->pos) return -1;
  } else if (static_cast<uint64_t>(count) > source->size - source->pos) {
    source->pos = source->size;
    return -1;
  }
  source->pos = static_cast<size_t>(static_cast<OPJ_OFF_T>(source->pos) + count);
  return count;
}

OPJ_BOOL SeekSource(OPJ_OFF_T offset, void* user) {
  auto* source = static_cast<MemorySource*>(user);
  if (offset < 0 || static_cast<uint64_t>(offset) > source->size) return OPJ_FALSE;
  source->pos = static_cast<size_t>(offset);
  return OPJ_TRUE;
}

uint64_t CeilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

// Component sizes from the header's image area, as the decoder will make
// them; false when a size or the memory they need is beyond the limits.
bool HeaderWithinLimits(const opj_image_t& header, size_t fileSize) {
  if (header.numcomps == 0 || header.comps == nullptr) return false;
  if (header.x1 <= header.x0 || header.y1 <= header.y0) return false;
  uint64_t samples = 0;
  for (uint32_t c = 0; c < header.numcomps; ++c) {
    const opj_image_comp_t& comp = header.comps[c];
    if (comp.dx == 0 || comp.dy == 0) return false;
    const uint64_t w = CeilDiv(header.x1, comp.dx) - CeilDiv(header.x0, comp.dx);
    const uint64_t h = CeilDiv(header.y1, comp.dy) - CeilDiv(header.y0, comp.dy);
    if (c == 0 && !ImageSizeWithinLimits(static_cast<int64_t>(std::min<uint64_t>(w, INT32_MAX)),
                                         static_cast<int64_t>(std::min<uint64_t>(h, INT32_MAX)))) {
      return false;
    }
    samples += w * h;
    if (samples * kBytesPerDecodedSample > kMaxDecoderBytes) return false;
  }
  // All samples against the file's size, as pixels are: empty packets let a
  // few bytes stand for a whole picture, and truncated streams are decoded
  // as far as they go, so without this a tiny file could claim gigabytes.
  return samples / kMaxPixelsPerInputByte <= fileSize;
}

// The code stream of a JP2 file: the contents of its first top-level
// "jp2c" box (up to the end of the file when the box claims more). Empty
// when there is none or a box length before it is broken.
std::pair<const uint8_t*, size_t> Jp2CodeStream(const uint8_t* data, size_t size) {
  size_t pos = 0;
  while (size - pos >= 8) {
    uint64_t length = ReadBE32(data + pos);
    size_t header = 8;
    if (length == 1) {
      if (size - pos < 16) break;
      length = ReadBE64(data + pos + 8);
      header = 16;
    } else if (length == 0) {
      length = size - pos;  // the last box, to the end of the file
    }
    if (length < header) break;
    const bool codeStream = std::memcmp(data + pos + 4, "jp2c", 4) == 0;
    const size_t available = std::min<uint64_t>(length, size - pos);
    if (codeStream) return {data + pos + header, available - header};
    if (length >= size - pos) break;
    pos += static_cast<size_t>(length);
  }
  return {nullptr, 0};
}

// The tile grid of the code stream's SIZ marker, checked before the library
// reads the header, since reading it already allocates the records of every
// tile and component. The grid must fit the file: no more tiles and
// components than a complete file of `fileSize` bytes could hold the headers
// and packets of, and their records within kMaxTileRecordBytes. False also
// for a stream without SIZ or an empty grid (which the library refuses too).
bool TilesWithinLimits(const uint8_t* stream, size_t streamSize, size_t fileSize) {
  // SOC, then SIZ: Lsiz, Rsiz, Xsiz, Ysiz, XOsiz, YOsiz, XTsiz, YTsiz,
  // XTOsiz, YTOsiz, Csiz.
  if (stream == nullptr || streamSize < 42 ||
      std::memcmp(stream, kCodeStreamSignature, sizeof kCodeStreamSignature) != 0) {
    return false;
  }
  const uint64_t x1 = ReadBE32(stream + 8);
  const uint64_t y1 = ReadBE32(stream + 12);
  const uint64_t tileW = ReadBE32(stream + 24);
  const uint64_t tileH = ReadBE32(stream + 28);
  const uint64_t tileX0 = ReadBE32(stream + 32);
  const uint64_t tileY0 = ReadBE32(stream + 36);
  const uint64_t components = uint64_t{stream[40]} << 8 | stream[41];
  if (tileW == 0 || tileH == 0 || x1 <= tileX0 || y1 <= tileY0 || components == 0) return false;
  const uint64_t tiles = CeilDiv(x1 - tileX0, tileW) * CeilDiv(y1 - tileY0, tileH);
  if (tiles > fileSize / (kMinTileBytes + components)) return false;
  return tiles * (kTileRecordBytes + components * kTileComponentRecordBytes) <= kMaxTileRecordBytes;
}

// Deliberate rule: samples of more than 8 bits are scaled to 8 bits by their
// precision (signed ones offset to unsigned first) rather than cut to their
// low byte, which would turn smooth 12- or 16-bit data into noise. Samples
// of up to 8 bits are taken as their low byte, unscaled.
class SampleTo8 {
 public:
  explicit SampleTo8(const opj_image_comp_t& comp) {
    const uint32_t prec = std::min<uint32_t>(comp.prec, 32);
    if (prec > 8) {
      m_scale = true;
      m_shift = static_cast<int>(prec - 8);
      m_max = (int64_t{1} << prec) - 1;
      m_offset = comp.sgnd ? int64_t{1} << (prec - 1) : 0;
    }
  }
  uint8_t operator()(OPJ_INT32 sample) const {
    if (!m_scale) return static_cast<uint8_t>(sample);
    const int64_t v = std::clamp<int64_t>(int64_t{sample} + m_offset, 0, m_max);
    return static_cast<uint8_t>(v >> m_shift);
  }

 private:
  bool m_scale = false;
  int m_shift = 0;
  int64_t m_max = 0;
  int64_t m_offset = 0;
};

// True when component c holds at least a w x h block of samples.
bool Covers(const opj_image_comp_t& comp, uint32_t w, uint32_t h) {
  return comp.data != nullptr && comp.w >= w && comp.h >= h;
}

// Fills `image` from the decoded components. 0 when the picture is empty,
// beyond the limits, or its components do not hold the samples read.
int ToDib(const opj_image_t& decoded, DibImage& image, int& grey) {
  if (decoded.numcomps == 0 || decoded.comps == nullptr) return 0;
  const opj_image_comp_t& c0 = decoded.comps[0];
  const uint32_t w = c0.w;
  const uint32_t h = c0.h;
  if (!ImageSizeWithinLimits(w, h) || !Covers(c0, w, h)) return 0;
  const bool colour = decoded.numcomps == 3 && decoded.comps[1].dx == c0.dx &&
                      decoded.comps[2].dx == c0.dx && decoded.comps[1].dy == c0.dy &&
                      decoded.comps[2].dy == c0.dy && decoded.comps[1].prec == c0.prec &&
                      decoded.comps[2].prec == c0.prec;
  // Equal sampling gives equal sizes; a decoder that still delivers smaller
  // green or blue planes is refused rather than read beyond them.
  if (colour && (!Covers(decoded.comps[1], w, h) || !Covers(decoded.comps[2], w, h))) return 0;
  if (!image.Create(static_cast<int32_t>(w), static_cast<int32_t>(h), 24)) return 0;

  const SampleTo8 red(c0);
  const SampleTo8 green(colour ? decoded.comps[1] : c0);
  const SampleTo8 blue(colour ? decoded.comps[2] : c0);
  for (uint32_t y = 0; y < h; ++y) {
    uint8_t* out = image.Row(static_cast<int32_t>(y));
    const OPJ_INT32* r = c0.data + static_cast<size_t>(y) * c0.w;
    if (colour) {
      const OPJ_INT32* g = decoded.comps[1].data + static_cast<size_t>(y) * decoded.comps[1].w;
      const OPJ_INT32* b = decoded.comps[2].data + static_cast<size_t>(y) * decoded.comps[2].w;
      for (uint32_t x = 0; x < w; ++x, out += 3) {
        out[0] = blue(b[x]);
        out[1] = green(g[x]);
        out[2] = red(r[x]);
      }
    } else {
      for (uint32_t x = 0; x < w; ++x, out += 3) {
        out[0] = out[1] = out[2] = red(r[x]);
      }
    }
  }
  grey = colour ? 0 : 1;
  return 1;
}

int Decode(const uint8_t* data, size_t size, DibImage& image, int* greySource) {
  OPJ_CODEC_FORMAT format;
  if (size >= sizeof kJp2Signature && std::memcmp(data, kJp2Signature, sizeof kJp2Signature) == 0) {
    format = OPJ_CODEC_JP2;
  } else if (size >= sizeof kCodeStreamSignature &&
             std::memcmp(data, kCodeStreamSignature, sizeof kCodeStreamSignature) == 0) {
    format = OPJ_CODEC_J2K;
  } else {
    return 0;
  }

  const auto [stream, streamSize] =
      format == OPJ_CODEC_JP2 ? Jp2CodeStream(data, size) : std::pair{data, size};
  if (!TilesWithinLimits(stream, streamSize, size)) return 0;

  CodecPtr codec(opj_create_decompress(format));
  if (!codec) return 0;
  opj_set_info_handler(codec.get(), Silent, nullptr);
  opj_set_warning_handler(codec.get(), Silent, nullptr);
  opj_set_error_handler(codec.get(), Silent, nullptr);
  opj_dparameters_t parameters;
  opj_set_default_decoder_parameters(&parameters);
  if (!opj_setup_decoder(codec.get(), &parameters)) return 0;

  MemorySource source{data, size, 0};
  StreamPtr input(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE));
  if (!input) return 0;
  opj_stream_set_read_function(input.get(), ReadSource);
  opj_stream_set_skip_function(input.get(), SkipSource);
  opj_stream_set_seek_function(input.get(), SeekSource);
  opj_stream_set_user_data(input.get(), &source, nullptr);
  opj_stream_set_user_data_length(input.get(), size);

  opj_image_t* raw = nullptr;
  const bool headerRead = opj_read_header(input.get(), codec.get(), &raw) != OPJ_FALSE;
  ImagePtr decoded(raw);
  if (!headerRead || !decoded || !HeaderWithinLimits(*decoded, size)) return 0;
  if (!opj_decode(codec.get(), input.get(), decoded.get())) return 0;

  int grey = 0;
  if (!ToDib(*decoded, image, grey)) {
    image.Clear();
    return 0;
  }
  if (greySource != nullptr) *greySource = grey;
  return 1;
}

}  // namespace

int DecodeJpeg2000Bytes(const uint8_t* data, size_t size, DibImage& image, int* greySource) {
  return GuardedDecode(image, [&] {
    return data == nullptr || size == 0 ? 0 : Decode(data, size, image, greySource);
  });
}

int ReadJpeg2000File(FileProbe& file, DibImage& image, int* greySource) {
  return ReadFileAndDecode(file, kMaxFileBytes, DecodeJpeg2000Bytes, image, greySource);
}

int ReadJpeg2000File(const std::filesystem::path& path, DibImage& image, int* greySource) {
  FileProbe file(path);
  return ReadJpeg2000File(file, image, greySource);
}

}  // namespace inkbrite
