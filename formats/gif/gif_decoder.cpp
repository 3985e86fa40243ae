// SPDX-License-Identifier: GPL-2.0-or-later
// The container's GIF decoder over giflib, and the GIF file reader.
//
// giflib reads the blocks and decodes the LZW data; the rules of what is
// delivered (which image, its depth and colours, the canvas) are ours. The
// data is held in memory and giflib reads it through ReadFromMemory, which
// never goes past its end: a truncated file makes giflib fail, not read on.
#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "core/limits.h"
#include "formats/decode_guard.h"
#include "formats/gif/gif_codec.h"
#include "platform/read_status.h"

namespace inkbrite {

namespace {

// The largest file read into memory.
constexpr uint64_t kMaxGifFileBytes = kMaxDibBytes;

constexpr RgbQuad kBlack{0, 0, 0, 0};
constexpr RgbQuad kWhite{255, 255, 255, 0};

struct MemorySource {
  const uint8_t* data;
  size_t size;
  size_t position;
};

// giflib's input function: copies what is left, at most `length` bytes. A
// short count is taken by giflib as a read failure.
int ReadFromMemory(GifFileType* gif, GifByteType* buffer, int length) {
  auto* source = static_cast<MemorySource*>(gif->UserData);
  if (length <= 0) return 0;
  const size_t count = std::min(static_cast<size_t>(length), source->size - source->position);
  std::memcpy(buffer, source->data + source->position, count);
  source->position += count;
  return static_cast<int>(count);
}

struct GifCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};
using GifHandle = std::unique_ptr<GifFileType, GifCloser>;

// Reads one extension and its sub-blocks. A graphic control extension sets
// *transparent to its transparent index, or -1 when its flag is clear.
bool ReadExtension(GifFileType* gif, int* transparent) {
  int code = 0;
  GifByteType* block = nullptr;
  if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
  // block[0] is the sub-block length: flags, delay (2 bytes), index.
  if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4) {
    *transparent = (block[1] & 0x01) != 0 ? block[4] : -1;
  }
  while (block != nullptr) {
    if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
  }
  return true;
}

// Skips the LZW sub-blocks of an image without decoding them.
bool SkipImageData(GifFileType* gif) {
  int codeSize = 0;
  GifByteType* block = nullptr;
  if (DGifGetCode(gif, &codeSize, &block) == GIF_ERROR) return false;
  while (block != nullptr) {
    if (DGifGetCodeNext(gif, &block) == GIF_ERROR) return false;
  }
  return true;
}

// Walks the blocks up to the next image descriptor with pixels that lies
// inside the logical screen, skipping the others, and stops before its pixel
// data (gif->Image describes it). *transparent receives the index of the
// graphic control extension in front of it (-1 for none). False at the
// trailer, at the end of the data and at anything damaged or unknown: the
// walk ends there either way.
bool NextImage(GifFileType* gif, int* transparent) {
  int pending = -1;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR) return false;
    if (type == EXTENSION_RECORD_TYPE) {
      if (!ReadExtension(gif, &pending)) return false;
    } else if (type == IMAGE_DESC_RECORD_TYPE) {
      if (DGifGetImageDesc(gif) == GIF_ERROR) return false;
      const GifImageDesc& desc = gif->Image;
      if (desc.Width > 0 && desc.Height > 0 && desc.Left + desc.Width <= gif->SWidth &&
          desc.Top + desc.Height <= gif->SHeight) {
        *transparent = pending;
        return true;
      }
      if (!SkipImageData(gif)) return false;
      pending = -1;  // a control extension governs the one image after it
    } else {
      return false;
    }
  }
}

// Within the readers' limits, and no more pixels than LZW data of the file's
// size can give (a 12-bit code yields at most 4096 pixels); a truncated
// file fails only when its data runs out, after the picture was allocated.
bool FitsAs24Bit(int64_t width, int64_t height, size_t fileSize) {
  return DecodeWithinLimits(width, height, fileSize);
}

// The colour table entries of the file, the table size that gives the
// depth, and the colour of the container entries beyond them.
struct GifPalette {
  std::vector<RgbQuad> entries;  // empty: no colour table in the file
  RgbQuad beyond = kBlack;
};

void ApplyPalette(const GifPalette& palette, CxImage& picture) {
  if (palette.entries.empty()) {
    for (size_t i = 0; i < picture.PaletteSize(); ++i) {
      const auto v = static_cast<uint8_t>(i);
      picture.SetPaletteColor(i, RgbQuad{v, v, v, 0});
    }
    return;
  }
  picture.SetPalette(palette.entries.data(), palette.entries.size());
  for (size_t i = palette.entries.size(); i < picture.PaletteSize(); ++i) {
    picture.SetPaletteColor(i, palette.beyond);
  }
}

// Packs a row of 8-bit indices (each within the container's table) into a
// stored row of 1, 4 or 8 bits per pixel, leftmost pixel in the high bits.
void PackRow(const uint8_t* indices, int32_t width, int32_t bpp, uint8_t* dst) {
  if (bpp == 8) {
    std::memcpy(dst, indices, static_cast<size_t>(width));
    return;
  }
  const int perByte = 8 / bpp;
  for (int32_t x = 0; x < width; x += perByte) {
    uint8_t byte = 0;
    for (int k = 0; k < perByte; ++k) {
      const uint8_t index = x + k < width ? indices[x + k] : 0;
      byte = static_cast<uint8_t>(byte | (index << (8 - bpp * (k + 1))));
    }
    dst[x / perByte] = byte;
  }
}

// Gives the picture the next depth (1 -> 4, 4 -> 8 bits) with the same
// indices, so that an entry beyond a full 2- or 16-entry table exists.
bool Widen(CxImage& picture, const GifPalette& palette) {
  CxImage narrow = std::move(picture);
  // Create starts a new picture in the moved-from container (it destroys
  // what is left first); the settings carry over.
  // NOLINTNEXTLINE(bugprone-use-after-move)
  if (!picture.Create(narrow.Width(), narrow.Height(), narrow.Bpp() == 1 ? 4 : 8, kCxImageGif)) {
    return false;
  }
  ApplyPalette(palette, picture);
  for (int32_t y = 0; y < narrow.Height(); ++y) {
    for (int32_t x = 0; x < narrow.Width(); ++x) {
      picture.SetPixelIndex(x, y, narrow.GetPixelIndex(x, y));
    }
  }
  return true;
}

// Decodes the pixel data of the current image (gif->Image) into `picture`,
// created here at the depth its colour table gives.
bool DecodeImage(GifFileType* gif, const GifPalette& palette, CxImage& picture) {
  const int32_t width = gif->Image.Width;
  const int32_t height = gif->Image.Height;
  const size_t colours = palette.entries.size();
  const int depth = colours == 0 ? 8 : colours <= 2 ? 1 : colours <= 16 ? 4 : 8;
  if (!picture.Create(width, height, depth, kCxImageGif)) return false;
  ApplyPalette(palette, picture);

  // Image rows in the order the data holds them: interlaced pictures carry
  // every 8th row from 0, every 8th from 4, every 4th from 2, every 2nd
  // from 1.
  std::vector<int32_t> order;
  order.reserve(static_cast<size_t>(height));
  if (gif->Image.Interlace) {
    constexpr std::array<int32_t, 4> kStart{0, 4, 2, 1};
    constexpr std::array<int32_t, 4> kStep{8, 8, 4, 2};
    for (size_t pass = 0; pass < kStart.size(); ++pass) {
      for (int32_t y = kStart[pass]; y < height; y += kStep[pass]) order.push_back(y);
    }
  } else {
    for (int32_t y = 0; y < height; ++y) order.push_back(y);
  }

  // LZW yields indices up to 2^(code size) - 1, which may lie beyond the
  // file's table; they take the first entry after it (`spare`).
  int spare = colours != 0 && colours < picture.PaletteSize() ? static_cast<int>(colours) : -1;
  std::vector<GifPixelType> line(static_cast<size_t>(width));
  for (const int32_t y : order) {
    if (DGifGetLine(gif, line.data(), width) == GIF_ERROR) {
      picture.SetLastError("GIF: damaged or truncated image data");
      return false;
    }
    if (colours != 0) {
      for (auto& index : line) {
        if (index < colours) continue;
        if (spare < 0) {
          if (!Widen(picture, palette)) return false;
          spare = static_cast<int>(colours);
        }
        index = static_cast<GifPixelType>(spare);
      }
    }
    PackRow(line.data(), width, picture.Bpp(), picture.StoredRow(height - 1 - y));
  }
  return true;
}

// Replaces `picture` by a zero-filled 24-bit canvas of the screen's size with
// the old picture drawn at (left, top) from the top.
bool DrawOnCanvas(int32_t screenWidth, int32_t screenHeight, int32_t left, int32_t top,
                  CxImage& picture) {
  CxImage image = std::move(picture);
  // As in Widen: Create starts a new picture in the moved-from container.
  // NOLINTNEXTLINE(bugprone-use-after-move)
  if (!picture.Create(screenWidth, screenHeight, 24, kCxImageGif)) return false;
  for (int32_t y = 0; y < image.Height(); ++y) {
    const int32_t canvasY = screenHeight - 1 - (top + image.Height() - 1 - y);
    for (int32_t x = 0; x < image.Width(); ++x) {
      const RgbQuad c = image.GetPixelColor(x, y);
      picture.SetPixelColor(left + x, canvasY, c.blue, c.green, c.red);
    }
  }
  return true;
}

bool DecodeFirstImage(const uint8_t* data, size_t size, CxImage& out) {
  if (data == nullptr || size < 4 || std::memcmp(data, "GIF8", 4) != 0) {
    out.SetLastError("GIF: not a GIF file");
    return false;
  }
  MemorySource source{data, size, 0};
  int openError = 0;
  GifHandle gif(DGifOpen(&source, ReadFromMemory, &openError));
  if (!gif) {
    out.SetLastError("GIF: damaged header");
    return false;
  }
  int transparent = -1;
  if (!NextImage(gif.get(), &transparent)) {
    out.SetLastError("GIF: no image");
    return false;
  }
  const GifImageDesc desc = gif->Image;  // the next descriptor overwrites it
  if (!FitsAs24Bit(desc.Width, desc.Height, size)) {
    out.SetLastError("GIF: picture too large");
    return false;
  }

  GifPalette palette;
  const ColorMapObject* map = desc.ColorMap != nullptr ? desc.ColorMap : gif->SColorMap;
  if (map != nullptr && map->Colors != nullptr) {
    const int count = std::clamp(map->ColorCount, 0, 256);
    for (int i = 0; i < count; ++i) {
      const GifColorType& c = map->Colors[i];
      palette.entries.push_back(RgbQuad{c.Blue, c.Green, c.Red, 0});
    }
  }
  if (transparent >= 0) palette.beyond = kWhite;

  if (!DecodeImage(gif.get(), palette, out)) {
    out.Destroy();
    return false;
  }
  out.SetTransparentIndex(transparent);

  // The canvas case needs to know whether a second image follows; nothing
  // else is read after the first image.
  if (gif->SColorMap == nullptr && desc.Width != gif->SWidth && desc.Height != gif->SHeight) {
    int ignored = -1;
    if (NextImage(gif.get(), &ignored)) {
      if (!FitsAs24Bit(gif->SWidth, gif->SHeight, size) ||
          !DrawOnCanvas(gif->SWidth, gif->SHeight, desc.Left, desc.Top, out)) {
        out.Destroy();
        out.SetLastError("GIF: canvas too large");
        return false;
      }
    }
  }
  return true;
}

}  // namespace

bool DecodeGif(const uint8_t* data, size_t size, CxImage& out) {
  out.Destroy();
  try {
    return DecodeFirstImage(data, size, out);
  } catch (...) {  // std::bad_alloc: the memory for the picture
    NoteReadFailure(ReadError::kOutOfMemory);
    out.Destroy();
    out.SetLastError("GIF: out of memory");
    return false;
  }
}

int DecodeGifBytes(const uint8_t* data, size_t size, DibImage& image, int* greySource) {
  return GuardedDecode(image, [&] {
    CxImage picture;
    if (!DecodeGif(data, size, picture)) return 0;
    // Measured on the container, before the expansion to 24 bits.
    bool neutralBilevel = picture.Bpp() == 1;
    for (const RgbQuad& c : picture.GetPalette()) {
      neutralBilevel = neutralBilevel && c.red == c.green && c.green == c.blue;
    }
    if (!image.FromPackedDib(picture.Dib(), picture.DibSize())) return 0;
    if (greySource != nullptr) *greySource = neutralBilevel ? 1 : 0;
    return 1;
  });
}

int ReadGifFile(FileProbe& file, DibImage& image, int* greySource) {
  return ReadFileAndDecode(file, kMaxGifFileBytes, DecodeGifBytes, image, greySource);
}

int ReadGifFile(const std::filesystem::path& path, DibImage& image, int* greySource) {
  FileProbe file(path);
  return ReadGifFile(file, image, greySource);
}

}  // namespace inkbrite
