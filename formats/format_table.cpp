// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/format_table.h"

#include "formats/apart_codecs.h"
#include "formats/bmp/bmp_codec.h"
#include "formats/gif/gif_codec.h"
#include "formats/jpeg/jpeg_codec.h"
#include "formats/jpeg2000/jp2_codec.h"
#include "formats/metafile/metafile_codec.h"
#include "formats/picture_size.h"
#include "formats/png/png_codec.h"
#include "formats/tiff/tiff_codec.h"
#include "formats/webp/webp_codec.h"
#include "platform/ascii_case.h"
#include "platform/messages.h"

namespace inkbrite {

namespace {

constexpr NameUse kByContent = NameUse::kByContent;
constexpr NameUse kByName = NameUse::kByName;
constexpr NameUse kByNameInBatch = NameUse::kByNameInBatch;

int WritePngPage(const std::filesystem::path& path, const DibImage& image, int colourMode,
                 int /*quality*/) {
  return WritePngFile(path, image, colourMode);
}

// The rows, in the order the dialogs list them. Detection tries the
// signatures of the rows in this order, then their extensions in this
// order, and the batch dialog stores positions in SourcePatternLists() and
// SaveExtensions() (slots 17 and 18 of the parameter block): the order of
// the existing rows never changes, and a new format goes at the end.
// clang-format off
constexpr FileFormat kFileFormats[] = {
    {.code = kFormatJpeg,
     .name = "JPEG",
     .extensions = {{{".jpg", kByNameInBatch}, {".jpeg", kByNameInBatch}, {".jpe", kByContent}}},
     .signatures = {{{0, 2, {0xFF, 0xD8}}}},
     .openFilter = "Jpeg Files(*.jpg;*.jpeg;*.jpe)",
     .saveFilter = "Jpeg Files(*.jpg)",
     .read = ReadJpegFile,
     .readBytes = ReadJpegMemory,
     .write = WriteJpegPage,
     .reducedPages = kCxImageUnknown,
     .greySource = "a one-component (greyscale) file",
     .fuzzTargets = {"jpeg"},
     .limits = "at most 500 scans in a progressive file",
     .openRowReader = OpenJpegRowReader,
     .openRowWriter = OpenJpegRowWriter,
     .openRowReaderBytes = OpenJpegRowReaderMemory,
     .openRowWriterBytes = OpenJpegRowWriterMemory,
     .storedInBooks = true,
     .readSize = picture_size::Jpeg},
    {.code = kFormatGif,
     .name = "GIF",
     .extensions = {{{".gif", kByNameInBatch}}},
     .signatures = {{{0, 3, {'G', 'I', 'F'}}}},
     .openFilter = "Gif Files(*.gif)",
     .saveFilter = nullptr,
     .read = ReadGifFile,
     .readBytes = DecodeGifBytes,
     .write = nullptr,
     .reducedPages = kCxImageUnknown,
     .greySource = "a bilevel picture whose two colours are both neutral",
     .fuzzTargets = {"gif"},
     .limits = "only the first picture is decoded; the canvas within the common limits",
     .readSize = picture_size::Gif},
    {.code = kFormatUfo,
     .name = "UFO",
     .extensions = {{{".ufo", kByNameInBatch}}},
     .signatures = {},
     .openFilter = "Ufo Files(*.ufo)",
     .saveFilter = nullptr,
     .read = ReadUfoFile,
     .readBytes = DecodeUfoBytes,
     .write = nullptr,
     .reducedPages = kCxImageUnknown,
     .greySource = "a one-component (greyscale) file",
     .fuzzTargets = {"ufo"},
     .limits = "as JPEG"},
    {.code = kFormatBmp,
     .name = "BMP",
     .extensions = {{{".bmp", kByNameInBatch}, {".dib", kByName}}},
     .signatures = {{{0, 2, {'B', 'M'}}}},
     .openFilter = "Bmp Files(*.bmp;*.dib)",
     .saveFilter = "BMP Files(*.bmp)",
     .read = ReadBmpFile,
     .readBytes = DecodeBmpBytes,
     .write = WriteBmpFile,
     .reducedPages = kCxImageBmp,
     .greySource = "a 1-bit file",
     .fuzzTargets = {"bmp"},
     .limits = "every size, offset and run checked against the file",
     .readSize = picture_size::Bmp},
    {.code = kFormatPng,
     .name = "PNG",
     .extensions = {{{".png", kByNameInBatch}}},
     .signatures = {{{1, 3, {'P', 'N', 'G'}}}},
     .openFilter = "Png Files(*.png)",
     .saveFilter = "PNG Files(*.png)",
     .read = ReadPngFile,
     .readBytes = DecodePngBytes,
     .write = WritePngPage,
     .reducedPages = kCxImagePng,
     .greySource = "grey or grey-with-alpha, or a palette below 8 bits per pixel",
     .fuzzTargets = {"png"},
     .limits = "image data at most 1032 times its IDAT bytes",
     .storedInBooks = true,
     .readSize = picture_size::Png},
    {.code = kFormatTiff,
     .name = "TIFF",
     .extensions = {{{".tif", kByNameInBatch}, {".tiff", kByName}}},
     .signatures = {{{0, 2, {'I', 'I'}}, {0, 2, {'M', 'M'}}}},
     .openFilter = "Tiff Files(*.tif;*.tiff)",
     .saveFilter = "Tiff Files(*.tif)",
     .read = ReadTiffFile,
     .readBytes = DecodeTiffBytes,
     .write = WriteTiffFile,
     .reducedPages = kCxImageTiff,
     .greySource = "photometric 0 or 1, or a one-component JPEG strip",
     .fuzzTargets = {"tiff"},
     .limits = "pixels per byte of strip data by compression (fax codes: rows only)",
     .readSize = picture_size::Tiff},
    {.code = kFormatMetafile,
     .name = "metafile",
     .extensions = {{{".wmf", kByNameInBatch}, {".emf", kByName}}},
     .signatures = {{{0, 2, {0xD7, 0xCD}}}},
     .openFilter = "Wmf Files(*.wmf)",
     .saveFilter = nullptr,
     .read = ReadPictureFile,
     .readBytes = ReadPictureMemory,
     .write = nullptr,
     .reducedPages = kCxImageUnknown,
     .greySource = "never",
     .fuzzTargets = {"wmf", "emf"},
     .limits = "records checked against the file; 20 s of drawing"},
    {.code = kFormatJp2,
     .name = "JP2",
     .extensions = {{{".jp2", kByNameInBatch}}},
     .signatures =
         {{{0, 12, {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A}}}},
     .openFilter = "Jpeg 2000 Files(*.j2p;*.j2k;*.jpc)",
     .saveFilter = "Jpeg 2000 Files(*.jp2)",
     .read = ReadJpeg2000File,
     .readBytes = DecodeJpeg2000Bytes,
     .write = WriteJp2File,
     .reducedPages = kCxImageUnknown,
     .greySource = "not exactly three components of equal sampling and precision",
     .fuzzTargets = {"jp2"},
     .limits = "a tile grid the file has room for, its records within 512 MiB",
     .storedInBooks = true,
     .readSize = picture_size::Jp2},
    {.code = kFormatJ2kStream,
     .name = "JPEG 2000 code stream",
     .extensions = {{{".j2k", kByNameInBatch}, {".jpc", kByNameInBatch}}},
     .signatures = {{{0, 4, {0xFF, 0x4F, 0xFF, 0x51}}}},
     .openFilter = nullptr,  // in the JP2 entry
     .saveFilter = nullptr,
     .read = ReadJpeg2000File,
     .readBytes = DecodeJpeg2000Bytes,
     .write = nullptr,
     .reducedPages = kCxImageUnknown,
     .greySource = "as JP2",
     .fuzzTargets = {"j2k"},
     .limits = "as JP2",
     .readSize = picture_size::J2k},
    // Books: their pages are read by sources/ (archive_reader, pdf_reader);
    // no reader, writer or reduced pages of their own here. The fuzz
    // targets feed the book reader.
    {.code = kFormatZipBook,
     .name = "ZIP book",
     .extensions = {{{".cbz", kByNameInBatch}, {".zip", kByName}}},
     .signatures = {{{0, 4, {'P', 'K', 0x03, 0x04}}, {0, 4, {'P', 'K', 0x05, 0x06}}}},
     .openFilter = "Comic Books(*.cbz;*.cbr;*.cb7;*.cbt;*.zip;*.rar;*.7z;*.tar)",
     .saveFilter = nullptr,
     .read = nullptr,
     .readBytes = nullptr,
     .write = nullptr,
     .reducedPages = kCxImageUnknown,
     .greySource = "per page",
     .fuzzTargets = {"zip"},
     .limits = "book limits (sources/book_limits.h)",
     .role = FormatRole::kBook},
    {.code = kFormatRarBook,
     .name = "RAR book",
     .extensions = {{{".cbr", kByNameInBatch}, {".rar", kByName}}},
     .signatures = {{{0, 6, {'R', 'a', 'r', '!', 0x1A, 0x07}}}},
     .openFilter = nullptr,  // in the comic books' entry
     .saveFilter = nullptr,
     .read = nullptr,
     .readBytes = nullptr,
     .write = nullptr,
     .reducedPages = kCxImageUnknown,
     .greySource = "per page",
     .fuzzTargets = {"rar"},
     .limits = "book limits; RAR volumes refused",
     .role = FormatRole::kBook},
    {.code = kFormat7zBook,
     .name = "7z book",
     .extensions = {{{".cb7", kByNameInBatch}, {".7z", kByName}}},
     .signatures = {{{0, 6, {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C}}}},
     .openFilter = nullptr,  // in the comic books' entry
     .saveFilter = nullptr,
     .read = nullptr,
     .readBytes = nullptr,
     .write = nullptr,
     .reducedPages = kCxImageUnknown,
     .greySource = "per page",
     .fuzzTargets = {"7z"},
     .limits = "book limits",
     .role = FormatRole::kBook},
    {.code = kFormatTarBook,
     .name = "tar book",
     // A tar file's mark ("ustar" at byte 257) lies beyond the signatures'
     // 16 bytes: sources/ tests it itself.
     .extensions = {{{".cbt", kByNameInBatch}, {".tar", kByName}}},
     .signatures = {},
     .openFilter = nullptr,  // in the comic books' entry
     .saveFilter = nullptr,
     .read = nullptr,
     .readBytes = nullptr,
     .write = nullptr,
     .reducedPages = kCxImageUnknown,
     .greySource = "per page",
     .fuzzTargets = {"tar"},
     .limits = "book limits",
     .role = FormatRole::kBook},
    {.code = kFormatPdfBook,
     .name = "PDF book",
     .extensions = {{{".pdf", kByNameInBatch}}},
     .signatures = {{{0, 5, {'%', 'P', 'D', 'F', '-'}}}},
     .openFilter = "Pdf Files(*.pdf)",
     .saveFilter = nullptr,
     .read = nullptr,
     .readBytes = nullptr,
     .write = nullptr,
     .reducedPages = kCxImageUnknown,
     .greySource = "per page",
     .fuzzTargets = {"pdf"},
     .limits = "book limits; images within the picture limits; rendering within the pixel limits",
     .role = FormatRole::kBook},
    {.code = kFormatWebp,
     .name = "WebP",
     .extensions = {{{".webp", kByNameInBatch}}},
     .signatures = {},  // RIFF....WEBP: the content test
     .openFilter = "WebP Files(*.webp)",
     .saveFilter = "WebP Files(*.webp)",
     .read = ReadWebpFile,
     .readBytes = DecodeWebpBytes,
     .write = WriteWebpFile,
     .reducedPages = kCxImageWebp,
     .greySource = "every pixel neutral within one level (WebP has no grey picture type)",
     .fuzzTargets = {"webp"},
     .limits = "the canvas from the header; the first frame of an animation only",
     .contentTest = IsWebpHead,
     .storedInBooks = true,
     .readSize = picture_size::Webp},
    {.code = kFormatAvif,
     .name = "AVIF",
     .extensions = {{{".avif", kByNameInBatch}}},
     .signatures = {},  // the ftyp brands: the content test
     .openFilter = "Avif Files(*.avif)",
     .saveFilter = "Avif Files(*.avif)",
     .read = ReadAvifApart,  // in the helper program inkbrite-codec
     .readBytes = DecodeAvifApart,
     .write = WriteAvifApart,
     .reducedPages = kCxImageUnknown,
     .greySource = "a monochrome (4:0:0) picture",
     .fuzzTargets = {"avif"},
     .limits = "libavif's image size and dimension limits set to the common ones; "
               "the first frame of a sequence only",
     .contentTest = IsAvifHead,
     .storedInBooks = true,
     .readSize = picture_size::Avif},
    {.code = kFormatJxl,
     .name = "JPEG XL",
     .extensions = {{{".jxl", kByNameInBatch}}},
     .signatures = {{{0, 2, {0xFF, 0x0A}},
                     {0, 12, {0x00, 0x00, 0x00, 0x0C, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A}}}},
     .openFilter = "Jpeg XL Files(*.jxl)",
     .saveFilter = "Jpeg XL Files(*.jxl)",
     .read = ReadJxlApart,  // in the helper program inkbrite-codec
     .readBytes = DecodeJxlApart,
     .write = WriteJxlApart,
     .reducedPages = kCxImageJxl,
     .greySource = "one colour channel",
     .fuzzTargets = {"jxl"},
     .limits = "libjxl's allocations within the decoder memory limit; the first frame only",
     .storedInBooks = true,
     .readSize = picture_size::Jxl},
};
// clang-format on

constexpr const char* kSupportedFilesLabel = "Supported Files";
constexpr const char* kAllFilesLabel = "All Files(*.*)";
constexpr const char* kAllFilesPattern = "*.*";

void AddPattern(std::string& list, const char* extension) {
  if (!list.empty()) list += ';';
  list += '*';
  list += extension;
}

// The patterns of one row's extensions that `wanted` accepts.
template <class Wanted>
void AddPatterns(std::string& list, const FileFormat& format, Wanted wanted) {
  for (const FormatExtension& e : format.extensions) {
    if (e.text != nullptr && wanted(e.use)) AddPattern(list, e.text);
  }
}

bool Offered(NameUse use) { return use != NameUse::kNone; }
bool Named(NameUse use) { return use == kByName || use == kByNameInBatch; }

// One dialog entry per row with a filter label; rows without one add their
// extensions to the entry before them.
template <class Wanted, class Add>
void ForEachEntry(Wanted wanted, Add add) {
  std::string patterns;
  const char* label = nullptr;
  for (const FileFormat& f : kFileFormats) {
    if (f.openFilter != nullptr) {
      if (label != nullptr) add(label, patterns);
      label = f.openFilter;
      patterns.clear();
    }
    AddPatterns(patterns, f, wanted);
  }
  if (label != nullptr) add(label, patterns);
}

}  // namespace

std::span<const FileFormat> FileFormats() { return kFileFormats; }

const FileFormat* FindFileFormat(ImageFormat code) {
  for (const FileFormat& f : kFileFormats) {
    if (f.code == code) return &f;
  }
  return nullptr;
}

const char* PrimaryExtension(ImageFormat code) {
  const FileFormat* f = FindFileFormat(code);
  return f == nullptr ? "" : f->extensions[0].text;
}

namespace {

std::string OfferedPatternsOf(FormatRole role) {
  std::string list;
  for (const FileFormat& f : kFileFormats) {
    if (f.role == role) AddPatterns(list, f, Offered);
  }
  return list;
}

}  // namespace

const std::string& ReadablePatterns() {
  static const std::string patterns = OfferedPatternsOf(FormatRole::kImage);
  return patterns;
}

const std::string& BookPatterns() {
  static const std::string patterns = OfferedPatternsOf(FormatRole::kBook);
  return patterns;
}

const std::vector<FileFilter>& OpenFileFilters() {
  static const std::vector<FileFilter> filters = [] {
    std::string supported = ReadablePatterns();
    if (!BookPatterns().empty()) supported += ";" + BookPatterns();
    std::vector<FileFilter> list{{kSupportedFilesLabel, supported}};
    ForEachEntry(Offered, [&](const char* label, const std::string& patterns) {
      list.push_back({label, patterns});
    });
    list.push_back({kAllFilesLabel, kAllFilesPattern});
    return list;
  }();
  return filters;
}

const std::string& DefaultSourcePatterns() {
  static const std::string patterns = [] {
    std::string list;
    // Pictures by the batch dialog's chosen extensions, books by every
    // extension they are known by (a .zip of pages is a book too).
    for (const FileFormat& f : kFileFormats) {
      if (f.role == FormatRole::kBook) {
        AddPatterns(list, f, Named);
      } else {
        AddPatterns(list, f, [](NameUse use) { return use == kByNameInBatch; });
      }
    }
    return list;
  }();
  return patterns;
}

const std::vector<std::string>& SourcePatternLists() {
  static const std::vector<std::string> lists = [] {
    std::vector<std::string> list{DefaultSourcePatterns()};
    ForEachEntry(Named,
                 [&](const char*, const std::string& patterns) { list.push_back(patterns); });
    return list;
  }();
  return lists;
}

const std::vector<std::string>& SaveExtensions() {
  static const std::vector<std::string> extensions = [] {
    std::vector<std::string> list;
    for (const FileFormat& f : kFileFormats) {
      if (f.write != nullptr) list.emplace_back(f.extensions[0].text);
    }
    return list;
  }();
  return extensions;
}

const std::vector<FileFilter>& SaveFileFilters() {
  static const std::vector<FileFilter> filters = [] {
    std::vector<FileFilter> list;
    for (const FileFormat& f : kFileFormats) {
      if (f.write != nullptr)
        list.push_back({f.saveFilter, std::string("*") + f.extensions[0].text});
    }
    list.push_back({kAllFilesLabel, kAllFilesPattern});
    return list;
  }();
  return filters;
}

std::string JoinedForText(std::span<const std::string> extensions) {
  std::string text;
  for (size_t i = 0; i < extensions.size(); ++i) {
    if (i > 0) {
      text += i + 1 == extensions.size() ? EngineText(INKBRITE_TEXT("formats", "或"))
                                         : EngineText(INKBRITE_TEXT("formats", "、"));
    }
    text += extensions[i];
  }
  return text;
}

std::string UnsupportedSaveExtensionText() {
  std::vector<std::string> names;
  for (const std::string& extension : SaveExtensions()) names.push_back(extension.substr(1));
  return EngineTextArgs(INKBRITE_TEXT("formats", "抱歉，保存的文件名只能以%1为扩展名，请更正。"),
                        {JoinedForText(names)});
}

std::string ReducedPagesOnlyText() {
  std::vector<std::string> names;
  for (const FileFormat& f : FileFormats()) {
    if (f.write != nullptr && f.reducedPages != kCxImageUnknown) names.emplace_back(f.name);
  }
  return EngineTextArgs(
      INKBRITE_TEXT("formats", "抱歉，减色后的图像只能保存为%1格式，请重新选择。"),
      {JoinedForText(names)});
}

bool TakesReducedPages(const std::filesystem::path& name) {
  const FileFormat* f = FindFileFormat(DetectImageFormat(name, false));
  return f != nullptr && f->reducedPages != kCxImageUnknown;
}

bool HasWriter(const std::filesystem::path& name) {
  const FileFormat* f = FindFileFormat(DetectImageFormat(name, false));
  return f != nullptr && f->write != nullptr;
}

namespace {

// The row of role `role` one of whose extensions `name` ends in.
const FileFormat* RowOfNameEnding(std::string_view name, FormatRole role) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return nullptr;
  const std::string_view ext = name.substr(dot);
  for (const FileFormat& f : kFileFormats) {
    if (f.role != role) continue;
    for (const FormatExtension& e : f.extensions) {
      if (e.text != nullptr && EqualsIgnoringAsciiCase(ext, e.text)) return &f;
    }
  }
  return nullptr;
}

}  // namespace

bool HasPictureExtension(std::string_view name) {
  return RowOfNameEnding(name, FormatRole::kImage) != nullptr;
}

const FileFormat* BookRowOfName(std::string_view name) {
  return RowOfNameEnding(name, FormatRole::kBook);
}

}  // namespace inkbrite
