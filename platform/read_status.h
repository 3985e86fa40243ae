// SPDX-License-Identifier: GPL-2.0-or-later
// Why a file could not be read: the status a read gives besides its 0, as
// a save gives its SaveError.
//
// The reason is known deep inside a read (a limit check, the decoder's
// guard, the file's own reading), not where the read was asked for. So a
// caller opens a ReadNotes for the read on its thread, the places that know
// a reason note it (NoteReadFailure; the first note counts, and with no
// ReadNotes open a note goes nowhere), and the caller takes the status when
// the read failed. The table gives each reason its code for a machine (the
// JSON record's `reason_code`) and its text for a person, shown after the
// message of the failure ("文件读取失败。" and the rest keep their words).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/messages.h"

namespace inkbrite {

enum class ReadError : uint8_t {
  kNone,
  kNotThisFormat,      // no reader knows the file
  kDamaged,            // the reader found the file broken or cut short
  kOverSideLimit,      // a side above 65535 pixels
  kOverPixelLimit,     // more than 2^28 pixels
  kOverByteLimit,      // the picture in memory, or the file, above its byte limit
  kOverDecoderMemory,  // the codec's working memory above its limit
  kOverPixelsPerByte,  // a small file claiming a huge picture
  kOverCodecLimit,     // a bound of the format's own (scans, tiles, ratios)
  kOverTimeLimit,      // the read took longer than it may
  kOverMemoryLimit,    // the run's memory budget would be exceeded
  kOutOfMemory,        // an allocation failed
  kIoError,            // the system refused to open or read the file (errno)
  kUnsupported,        // a feature of the format this program does not read
  kNoReaderModule,     // the module that reads the format is missing or cannot be loaded
};

struct ReadStatus {
  ReadError error = ReadError::kNone;
  int errorNumber = 0;  // errno, for kIoError

  bool Failed() const { return error != ReadError::kNone; }
  bool operator==(const ReadStatus&) const = default;
};

struct ReadErrorRow {
  ReadError error;
  std::string_view code;  // for a machine: lower case, underscores
  std::string_view text;  // marked text
};

inline constexpr ReadErrorRow kReadErrors[] = {
    {ReadError::kNone, "", ""},
    {ReadError::kNotThisFormat, "not_this_format",
     INKBRITE_TEXT("platform", "不是能读取的图像格式")},
    {ReadError::kDamaged, "damaged", INKBRITE_TEXT("platform", "文件已损坏或不完整")},
    {ReadError::kOverSideLimit, "over_side_limit",
     INKBRITE_TEXT("platform", "图像的边长超过65535像素的上限")},
    {ReadError::kOverPixelLimit, "over_pixel_limit",
     INKBRITE_TEXT("platform", "图像超过2^28像素的上限")},
    {ReadError::kOverByteLimit, "over_byte_limit", INKBRITE_TEXT("platform", "超过2 GiB的上限")},
    {ReadError::kOverDecoderMemory, "over_decoder_memory",
     INKBRITE_TEXT("platform", "解码所需的内存超过上限")},
    {ReadError::kOverPixelsPerByte, "over_pixels_per_byte",
     INKBRITE_TEXT("platform", "文件太小，容不下它声称的图像")},
    {ReadError::kOverCodecLimit, "over_codec_limit",
     INKBRITE_TEXT("platform", "超过该格式自身的上限")},
    {ReadError::kOverTimeLimit, "over_time_limit", INKBRITE_TEXT("platform", "读取时间超过上限")},
    {ReadError::kOverMemoryLimit, "over_memory_limit",
     INKBRITE_TEXT("platform", "超过内存用量的上限")},
    {ReadError::kOutOfMemory, "out_of_memory", INKBRITE_TEXT("platform", "内存不足")},
    {ReadError::kIoError, "io_error", INKBRITE_TEXT("platform", "系统错误：%1")},
    {ReadError::kUnsupported, "unsupported", INKBRITE_TEXT("platform", "不支持文件所用的功能")},
    {ReadError::kNoReaderModule, "no_reader_module",
     INKBRITE_TEXT("platform", "读取该格式的模块缺失或无法加载")},
};

// The row of `error`.
const ReadErrorRow& ReadErrorInfo(ReadError error);

// The reason for a person, in the language of the run: the row's text, the
// system's own description (strerror) and errno's number in it for an I/O
// error; empty for kNone.
std::string ReadStatusText(const ReadStatus& status);

// Notes why the read under way on this thread fails. The first note of the
// innermost open ReadNotes counts; none open: nothing is kept.
void NoteReadFailure(ReadError error, int errorNumber = 0);

// Collects the notes of one read on this thread, from its construction to
// its destruction; they nest (an inner read's notes stay its own).
class ReadNotes {
 public:
  ReadNotes();
  ~ReadNotes();
  ReadNotes(const ReadNotes&) = delete;
  ReadNotes& operator=(const ReadNotes&) = delete;

  // The first note so far; kNone when there was none.
  ReadStatus Status() const { return m_status; }
  // Kept unless a note came first.
  void NoteIfNone(ReadError error, int errorNumber = 0);

 private:
  friend void NoteReadFailure(ReadError error, int errorNumber);
  ReadStatus m_status;
  ReadNotes* m_outer;
};

}  // namespace inkbrite
