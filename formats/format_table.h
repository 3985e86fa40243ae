// SPDX-License-Identifier: GPL-2.0-or-later
// The one description of every file format the program knows.
//
// Each row of FileFormats() gives a format's code, the extensions it is
// known by, the bytes it starts with, its reader and writer, and the texts
// the dialogs show for it. Everything else that depends on the set of
// formats is derived from these rows: detection (both of its tables, in row
// order), LoadImageFile and SaveImageFile, the open and Save As dialogs'
// filters, the viewer's folder list, the batch dialog's and the command
// line's pattern and extension lists, the rule for colour-reduced pages,
// and the fuzz targets. docs/ADDING_A_FORMAT.md says how to add a row.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/dib_image.h"
#include "core/ximage.h"
#include "formats/detect.h"
#include "formats/page_rows.h"

namespace inkbrite {

class FileProbe;

// A reader of a file, opened and probed already (formats/file_probe.h): 1
// with the image replaced by a 24-bit picture and *greySource (when given)
// set, 0 on any failure. Never throws.
using FileReader = int (*)(FileProbe& file, DibImage& image, int* greySource);
// The same reader on the bytes of a whole file held in memory.
using BytesReader = int (*)(const uint8_t* data, size_t size, DibImage& image, int* greySource);
// A writer of a 24-bit page: `colourMode` 0 (colour) or 1 (grey), `quality`
// 0 to 100 (for the formats that use it). 1 on success; 0 with any previous
// file left whole. Never throws.
using FileWriter = int (*)(const std::filesystem::path& path, const DibImage& image, int colourMode,
                           int quality);

// What a row describes: a picture format, or a kind of book (an archive or a
// PDF whose pages are pictures, read by sources/; such a row has no reader,
// writer or reduced pages of its own).
enum class FormatRole : uint8_t { kImage = 0, kBook };

// How a file's name leads to a format.
enum class NameUse : uint8_t {
  kNone = 0,      // (an unused slot)
  kByContent,     // offered by the open dialog, but such a file is known by its content only
  kByName,        // DetectImageFormat knows the format by this extension
  kByNameInBatch  // ... and the batch dialog's first pattern entry names it
};

struct FormatExtension {
  const char* text = nullptr;  // ".jpg"
  NameUse use = NameUse::kNone;
};

// Bytes a file starts with, compared from `offset`.
struct FormatSignature {
  uint8_t offset = 0;
  uint8_t length = 0;  // 0: an unused slot
  std::array<uint8_t, 12> bytes{};
};

struct PictureSize;

struct FileFormat {
  ImageFormat code;  // the stored number (never renumbered)
  const char* name;  // "JPEG", for messages and tests
  // In detection order; unused slots at the end.
  std::array<FormatExtension, 4> extensions;
  std::array<FormatSignature, 2> signatures;
  // The open dialog's entry for the format; null when its extensions join
  // the entry of the row before it.
  const char* openFilter;
  // The Save As dialog's entry, for a format with a writer (saved under its
  // first extension).
  const char* saveFilter;
  FileReader read;
  BytesReader readBytes;
  FileWriter write;  // null: pages cannot be saved in this format
  // The container encoder (a CxImageType) that writes a colour-reduced page
  // at its palette depth; kCxImageUnknown when the format holds no such page.
  int reducedPages;
  // When the reader reports a grey source ("keep as is" then saves grey).
  const char* greySource;
  // The fuzz targets that feed readBytes (fuzz/, scripts/run-fuzz.sh).
  std::array<const char*, 2> fuzzTargets;
  // The reader's own bounds beyond the common limits of core/limits.h.
  const char* limits;
  FormatRole role = FormatRole::kImage;
  // For a format whose mark is not a fixed byte string (RIFF....WEBP, the
  // brands of an ISO-BMFF ftyp box): true when the first `size` bytes of a
  // file (at least 16, at most kContentTestBytes) are of this format. Tried
  // after the row's signatures, in row order.
  bool (*contentTest)(const uint8_t* head, size_t size) = nullptr;
  // Reading and writing a band of rows at a time (formats/page_rows.h);
  // null: the page is read or written whole.
  RowReaderOpener openRowReader = nullptr;
  RowWriterOpener openRowWriter = nullptr;
  // The same over a file's bytes in memory (a book's pages).
  RowBytesReaderOpener openRowReaderBytes = nullptr;
  RowBytesWriterOpener openRowWriterBytes = nullptr;
  // Its pages are stored in a converted book (CBZ) as they are: a format
  // deflate cannot shrink (JPEG, PNG, JPEG 2000, ...).
  bool storedInBooks = false;
  // The picture's size from the first bytes of a file (formats/picture_size.h:
  // the viewer's page shapes, the book pages' memory); null when the header
  // does not tell it.
  bool (*readSize)(const uint8_t* head, size_t size, PictureSize& out) = nullptr;
};

// The most bytes detection reads for the content tests.
inline constexpr size_t kContentTestBytes = 64;

// Every format, in the order the dialogs list them and detection tries them.
std::span<const FileFormat> FileFormats();

// The row of a code; null for kFormatUnknown or a code without a row.
const FileFormat* FindFileFormat(ImageFormat code);
// The first extension of a format's row (".jpg"); "" without a row.
const char* PrimaryExtension(ImageFormat code);

// ---- lists derived from the rows ----

// One entry of a file dialog: the text shown and its patterns ("*.a;*.b").
struct FileFilter {
  std::string label;
  std::string patterns;
};

// The open dialog: "Supported Files" with every extension offered (pictures,
// then books), one entry per format, then "All Files(*.*)".
const std::vector<FileFilter>& OpenFileFilters();
// Every picture extension the open dialog offers, as patterns: the viewer's
// folder list shows these files.
const std::string& ReadablePatterns();
// Every book extension (the rows of role kBook), as patterns.
const std::string& BookPatterns();
// The batch dialog's source list: the default patterns first, then one entry
// per format.
const std::vector<std::string>& SourcePatternLists();
// The batch dialog's first entry, inkbrite-batch's default --pattern.
const std::string& DefaultSourcePatterns();
// The extension of every format with a writer, in row order: the batch
// dialog's new-extension list and inkbrite-batch's --ext values.
const std::vector<std::string>& SaveExtensions();
// The Save As dialog: one entry per format with a writer, then
// "All Files(*.*)".
const std::vector<FileFilter>& SaveFileFilters();
// The extensions of a list joined for a message, in the language of the
// run: ".jpg、.bmp、.png或.jp2", ".jpg, .bmp, .png or .jp2".
std::string JoinedForText(std::span<const std::string> extensions);

// The messages that say what a page can be saved as, in the language of
// the run, built from the rows: a name whose extension has no writer
// ("抱歉，保存的文件名只能以jpg、bmp、png、tif、jp2、webp、avif或jxl为扩展名，
// 请更正。", each writer's first extension), a colour-reduced page into a
// format that holds none ("抱歉，减色后的图像只能保存为BMP、PNG、TIFF、WebP或
// JPEG XL格式，请重新选择。").
std::string UnsupportedSaveExtensionText();
std::string ReducedPagesOnlyText();

// True when a page named `name` (by its extension alone) is written by a
// format that holds colour-reduced pages.
bool TakesReducedPages(const std::filesystem::path& name);
// True when a page named `name` (by its extension alone) can be saved.
bool HasWriter(const std::filesystem::path& name);
// True when an entry or file named `name` is a picture by its extension alone
// (compared without regard to ASCII case with every picture row's
// extensions, those known by content included): a book's page rule.
bool HasPictureExtension(std::string_view name);
// The book row whose extension `name` has (by name alone), or null.
const FileFormat* BookRowOfName(std::string_view name);

}  // namespace inkbrite
