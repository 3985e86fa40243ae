// SPDX-License-Identifier: GPL-2.0-or-later
// CBatchJob: converts a folder of pages (or a set of picked files) into
// enhanced copies in a target folder.
//
// Each file is read, run through the enhancement pipeline with one parameter
// block, and written with a new extension that picks the output format. The
// job runs on the thread of its host (the batch dialog or the command-line
// converter), keeps the host alive through BatchHost::PumpAndCheckStop,
// reports progress through the host, writes a record of the failed files and
// ends with a summary message.
//
// Progress: the range is (files + 1) x steps per file, where a file takes 12
// units, or 13 when the resize percentage is not 100. A converted file
// advances 1 (read) + 9 (pipeline) + 1 (reduction) + 1 (save); a copied
// colour file 1 + 11; an unreadable one the full steps per file at once. A
// run that was not stopped ends with the bar at the end of its range.
//
// Rules beyond the plain steps, kept on purpose:
// - Source and target are the same folder when they name the same folder on
//   disk (device and inode), not only when their texts are equal; the user is
//   asked before anything is overwritten.
// - Every file is written through a temporary file renamed over the target,
//   so a failed conversion in same-folder mode leaves the source page whole.
// - A colour file skipped under "skip colour" is copied to a free name
//   ("name (2).ext", ...) and never overwrites anything; a failed copy is a
//   write failure, not a success.
// - With colour mode 1 (black-and-white comic) the page is greyed before it
//   is saved, so every output format holds grey pixels.
// - Temporary files of ours that a killed run left (their writing process
//   no longer runs) are removed from the target folder, the record's folder
//   and each folder the run writes into, the first time it does.
// - A target path longer than the system allows fails that file as a write
//   failure; an exception raised while converting one file fails that file
//   (recorded) and the run goes on.
// - A part of a job (BatchSettings::shard) with no files, of a job that has
//   some, is not refused: it runs, writes its (empty) record and reports 0.
// - A run that was not stopped reports as its total the files the conversion
//   was handed, not the earlier count: a page removed or added between the
//   two is neither a failure the record cannot name nor a success beyond the
//   total.
// - A file whose target was already written by this run (page.jpg and
//   page.png both into ".bmp", or the same name in two picked folders) is not
//   converted over it: it fails with its own record line, so the counts and
//   the exit status tell the truth. A file converted in place (its target is
//   the source itself, in same-folder mode) is not such a clash.
// - A page that no step needs whole, in formats that stream, is converted a
//   band of rows at a time (batch_rows.cpp, BatchSettings::rowByRow): the
//   same file, record and progress as the whole-page way.
// - With BatchSettings::askBeforeReplacing (the dialog) the job asks once,
//   after counting, before it replaces files that exist and that the host
//   did not write itself (BatchReplaceQuestion); No ends the run unrecorded.
//   Same-folder mode has asked its own question instead.
//
// The record file is UTF-8 text, one line per failure in walk order:
// "文件读取失败：" + source path, "文件写入失败：" + target path, or
// "文件重名未转换：" + source path + " → " + target path; in a shard run each
// line starts with the file's walk index and a TAB. Or, with
// RecordFormat::kJsonLines, one JSON object per finished file (see
// run_record.h). Lines are flushed as files finish, so the temporary file of
// a killed run's record holds what the run did; with BatchSettings::
// skipExisting a later run reads it (and the committed record) and skips a
// file whose target exists, is newer than the source and was written, with
// the same settings, by an earlier run.
//
// Books (BatchSettings::books; book_job.cpp): a source that is a comic book
// (sources/page_source.h IsBookFile: a zip, RAR, 7z or tar archive or a PDF
// file, told by its content) is converted as one file of the run:
// - kCbz: into a .cbz at its mirrored path (BookTargetPath) holding every
//   page converted with the settings under its own name with the new
//   extension, every other entry (ComicInfo.xml, ...) copied unchanged, with
//   the entries' times: first the other entries in the book's own entry
//   order, then the pages in reading order (from an archive that unpacks
//   only in order, converted in its order and held back until their turn,
//   beyond an eighth of bookPagesMemory in files of the work folder);
//   pages in a format deflate cannot shrink (the format table's
//   storedInBooks) are stored, the rest deflated; links, names outside the book, entries over the
//   size limit, a second entry of one name and the file managers' litter
//   (__MACOSX/, hidden files, Thumbs.db) are left out (all but the litter
//   counted by reason in the record and LeftOutCount). A ComicInfo.xml is
//   kept true to the pages written (ComicInfoForPages: its page count and
//   page list); with spread splitting on, one that holds either is written
//   last, once every page is known. Names that are not ASCII carry the zip's
//   UTF-8 flag.
// - kFolder: the same entries as files in a folder named after the book.
// - kEpub, kKepub, kPdf: the converted pages, in reading order, as an
//   e-book or a PDF (book_writer.h) with the book's metadata; entries that
//   are not pages are left out. An e-book's pages must be JPEG, PNG or GIF
//   (a run with another new extension is refused before it starts).
// - kSkip: books are not listed, counted or converted.
// With BatchSettings::bookMaxBytes a book that is one file and would pass
// it is written as volumes under it ("book Vol. 2.cbz", book_writer.h
// BookVolumes), each a whole book with its own metadata; a volume still
// over it fails the book (kBatchVolumeOverLimit) and writes none.
// The book is written into a temporary file or folder beside its target
// and moved into place only when every page converted; a book with a
// failed page is not written, and the record has a line for each failed
// page ("文件读取失败：/src/book.cbz: 012.jpg"). A book that cannot be read at
// all is one line with the reason (sources/source_texts.h). In same-folder
// mode a book is replaced in place only by a CBZ of its own kind (a .cbz
// holding a RAR archive is refused and left as it is), and never written
// over another book. Progress counts pages: a book's pages widen the range
// when it is opened. With several jobs, books are converted after the
// loose files' workers, one at a time on the host's thread with their pages
// on the workers (the reading and the writing stay in order on the host's
// thread), so a book's bytes are those of a one-at-a-time run.
//
// Parts of a job (BatchSettings::shard, see work_list.h): every run lists the
// whole job and converts the files of its part; a file's walk index is its
// place in the whole list.
//
// With BatchSettings::reportFindings, every page written adds a line
// "自动处理：" + target path + TAB + what the automatic steps found
// (FindingsFields, core/auto_steps.h) to a text record, before the file's
// failure line if it has one, and a "findings" member to a JSON record.
//
// The automatic steps (core/auto_steps.h) run after reading, before the
// pipeline. A spread they split is written as two pages, "name_1.ext" and
// "name_2.ext" (BatchPageTargetPath) in reading order; both count as one
// converted file and take one file's units of progress. With
// BatchSettings::spreadPages a spread is instead turned (one page, under the
// file's own name) or turned and split ("name_1.ext" the turned spread, then
// "name_2.ext" and "name_3.ext" its pages). The clash rule
// above holds for those names too, and with splitting on they join the
// names a file touches when the files are shared out among workers.
//
// Several files at once (BatchSettings::jobs > 1): the file list is walked
// first, in the order the one-at-a-time run would take, and split into
// chains of files that touch the same names (a source, its target, a copy's
// " (2)" names); chains run on worker threads, the files of a chain in walk
// order. Files with no name in common cannot see each other's effects, so
// the written files are byte for byte those of a one-at-a-time run, and the
// record, kept per file and written at the end, lists the failures in walk
// order; two files with one target always share a chain, so the clash rule
// above fails the same file for any number of workers. The host's thread
// pumps events and reads the stop request while
// the workers run; the host is only ever called from that thread.
//
// Threads: a job is a short-lived local of the host's thread; it starts and
// joins its own workers inside Run.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "batch/book_meta.h"
#include "batch/run_record.h"
#include "batch/work_list.h"
#include "core/dib_image.h"
#include "core/jpeg_cleanup.h"
#include "core/para_block.h"
#include "formats/detect.h"
#include "platform/messages.h"
#include "platform/read_status.h"
#include "sources/srch_dir.h"

namespace inkbrite {

class FileProbe;
class LibraryState;

struct EnhanceHooks;
struct PageFindings;
class PageRowReader;
class PageRowWriter;
class SafeFileWriter;

enum class MessageKind { kOk, kYesNo };
enum class MessageAnswer { kOk, kYes, kNo };

// The two status lines of the host.
enum class StatusLine : int { kOperation = 0, kCurrentFile = 1 };

// What the job needs from whoever runs it. All calls come from the job's
// thread.
class BatchHost {
 public:
  virtual ~BatchHost() = default;
  // A modal message; kYesNo answers kYes or kNo, kOk answers kOk.
  virtual MessageAnswer ShowMessage(std::string_view text, MessageKind kind) = 0;
  virtual void SetStatus(StatusLine line, std::string_view text) = 0;
  // Sets the range 0 .. upper and the position to 0.
  virtual void SetProgressRange(int upper) = 0;
  virtual void SetProgressPosition(int position) = 0;
  virtual void AdvanceProgress(int units) = 0;
  // Handles pending user-interface events, then answers true when the user
  // asked the run to stop.
  virtual bool PumpAndCheckStop() = 0;
  // Opens a file with the desktop's default application.
  virtual bool OpenWithShell(const std::filesystem::path& path) = 0;
};

// Files picked by the user instead of a whole folder.
struct BatchSelection {
  std::filesystem::path folder;              // the folder the files were picked in
  std::vector<std::filesystem::path> files;  // full paths, converted in this order
};

// What a run does with a book (a comic archive or PDF file among the
// sources, sources/book_source.h). The numbers are stored (the dialog's
// choice): never renumbered.
enum class BookOutput : int {
  kCbz = 0,     // a .cbz of the converted pages at the book's mirrored path
  kFolder = 1,  // the converted pages in a folder named after the book
  kSkip = 2,    // books are left out of the run
  kEpub = 3,    // an EPUB 3 of fixed layout (book_writer.h)
  kKepub = 4,   // the same for Kobo's reader, named .kepub.epub
  kPdf = 5,     // a PDF, a page per picture
};

// What a spread becomes when the settings split spreads (kSplitSpreads): its
// two pages in reading order; the whole spread turned a quarter to fill an
// upright screen (left to right the left page, read first, at the top; right
// to left the right page); or the turned spread followed by its two pages.
enum class SpreadPages : int { kSplit = 0, kRotate = 1, kBoth = 2 };

// A run's settings, as the host's controls give them.
struct BatchSettings {
  std::filesystem::path sourceDir;  // as typed; ignored with a selection
  std::filesystem::path targetDir;  // as typed
  std::string patterns;             // e.g. "*.jpg;*.jpeg"
  std::string newExtension;         // one of SaveExtensions() (formats/format_table.h)
  bool includeSubdirs = true;
  bool skipColour = false;  // copy colour pages instead of converting them
  // Colour mode 0 to 7, resize percentage and JPEG quality, as the slider
  // positions give them (the host also stores them in the block's slots 10,
  // 5 and 6, from which the pipeline reads the resize).
  int colourMode = 2;
  int resizePercent = 100;
  int jpegQuality = 70;
  // The block the pipeline reads; none: AppParams().
  const CParaBlock* params = nullptr;
  // The result record; empty: ProgramFilePath("_Rcd.txt").
  std::filesystem::path recordPath;
  // Files converted at once (1 to kMaxBatchJobs).
  int jobs = 1;
  // Ask once before replacing existing files (see the header's rules);
  // files in `ownFiles` (what the host's earlier runs wrote) are not asked
  // about.
  bool askBeforeReplacing = false;
  const std::set<std::filesystem::path>* ownFiles = nullptr;
  // Only this part of the job (none: all of it).
  ShardSpec shard;
  // Skip files an earlier run converted (see above): with a JSON record,
  // those it records as done with the same settings and whose target is
  // newer than the source; with a text record, those whose target is newer
  // than the source (DoneByNewerTarget). Off in same-folder mode.
  bool skipExisting = false;
  RecordFormat recordFormat = RecordFormat::kText;
  // Record, for every page written, what the automatic clean-up steps found
  // (see the header).
  bool reportFindings = false;
  // The spreads' reading order (slot kSplitRightToLeft) was set for this
  // run (--set): it then holds for books too. Otherwise a book whose
  // ComicInfo says manga splits its spreads right page first, as the viewer
  // reads it.
  bool readingOrderChosen = false;
  // Convert a page a band of rows at a time where no step needs the whole
  // page (see ConvertByRows); the files written are the same either way.
  bool rowByRow = true;
  // Keep a grey page (a one-component file) grey inside, one byte a pixel,
  // where it is written grey: the rows streamed and the whole page both;
  // the files written are the same either way.
  bool greyLevels = true;
  BookOutput books = BookOutput::kCbz;
  // Each folder that holds pages becomes one book named after it (its
  // pages: the folder's own files that the patterns match, see
  // FolderBookPages), when the books are written as files (cbz, epub,
  // kepub, pdf); books among the sources stay books.
  bool folderBooks = false;
  SpreadPages spreadPages = SpreadPages::kSplit;
  // A CBZ's (or a book's folder's) pages named by their place in the
  // reading order, "0001.jpg" ... (at least four digits, no folders), since
  // e-readers sort names as plain text; otherwise each keeps its name.
  bool renumber = false;
  // Long strips (strip_pages.h): a page that would be taller than this many
  // pixels once fitted and resized is cut into pages at most this tall,
  // "name_001.ext", "name_002.ext" ... in reading order, each cut in a
  // gutter where one lies within reach; 0: pages are not cut.
  int stripCut = 0;
  // With stripCut, the pages of each folder or book are joined into one
  // strip before it is cut (a folder of pages becomes a book, as with
  // folderBooks), so that a panel broken across two slices comes out whole.
  bool stripJoin = false;
  // What a book's pages being converted may hold in memory together
  // (kBookPagesMemoryBytes, sources/book_limits.h).
  uint64_t bookPagesMemory = uint64_t{2} << 30;
  // An e-book's or PDF's metadata where the run names it (empty: each
  // book's own, book_meta.h), and how its pages are laid out.
  std::string bookTitle;
  std::string bookSeries;
  std::string bookAuthor;
  int bookPixelsPerInch = 300;
  bool bookSpreads = false;
  // The zlib level of palette PNG pages (the colour-reducing modes); -1:
  // zlib's default. A device's run (devices.h ApplyDeviceToRun) writes them
  // at kDevicePageDeflateLevel: the same pixels, much sooner.
  int pageDeflateLevel = -1;
  // A book that is one file and would pass this many bytes is written as
  // volumes under it (book_writer.h BookVolumes); 0: no limit.
  uint64_t bookMaxBytes = 0;
  // Each book is converted with the named set attached to it or to its
  // series (batch/attached_settings.h) over the run's parameters, read from
  // `attachedSettingsFile` (the named-settings file); a book with nothing
  // attached takes the run's parameters. The record names each book's set.
  // A book whose set is no longer in the file fails with its reason. A
  // page of a book with its own settings ("只用于此页", kept in the library)
  // takes them over the book's set; the record names those pages. A book's
  // set and its pages' settings choose their colour mode and JPEG quality
  // too. Joined strips (stripJoin) take the book's set alone.
  bool useAttached = false;
  std::filesystem::path attachedSettingsFile;
  std::filesystem::path libraryStateFile;  // empty: LibraryStateFile()
};

// Takes into `settings` what `block` chooses for books (slots kBookKind,
// kFolderBooks, kSpreadPages and kRenumber, core/para_slots.h); a slot at
// -1 leaves the run's value as it is.
void TakeBookSettings(const CParaBlock& block, BatchSettings& settings);

// One file of a run: its place in the whole job's list and its path.
struct BatchWorkItem {
  size_t index = 0;
  std::filesystem::path source;
};

inline constexpr int kMaxBatchJobs = 64;

// Messages of the job, shown through BatchHost::ShowMessage.
inline constexpr std::string_view kBatchNoSourceMessage =
    INKBRITE_TEXT("batch", "请先选择存放源文件的目录。");
inline constexpr std::string_view kBatchNoTargetMessage =
    INKBRITE_TEXT("batch", "请先选择存放新文件的目录。");
inline constexpr std::string_view kBatchReducedNeedsPngMessage =
    INKBRITE_TEXT("batch", "抱歉，减色后的图像只能保存为PNG格式，请重新选择。");
inline constexpr std::string_view kBatchSameFolderQuestion =
    INKBRITE_TEXT("batch", "源目录与目标目录相同，源文件将被转换后的文件所覆盖。要继续吗？");
inline constexpr std::string_view kBatchBookPagesMessage =
    INKBRITE_TEXT("batch", "抱歉，电子书的页面只能保存为JPEG、PNG或GIF格式，请重新选择。");
inline constexpr std::string_view kBatchNoFilesMessage =
    INKBRITE_TEXT("batch", "抱歉，在源目录下没有可供转换的文件。");
inline constexpr std::string_view kBatchStoppedSuffix =
    INKBRITE_TEXT("batch", "\n您选择了中途停止。");
inline constexpr std::string_view kBatchShowRecordQuestion =
    INKBRITE_TEXT("batch", "\n您想看结果记录吗？");
inline constexpr std::string_view kBatchReadFailed = INKBRITE_TEXT("batch", "文件读取失败：");
inline constexpr std::string_view kBatchWriteFailed = INKBRITE_TEXT("batch", "文件写入失败：");
inline constexpr std::string_view kBatchNameTaken = INKBRITE_TEXT("batch", "文件重名未转换：");
inline constexpr std::string_view kBatchFindings = INKBRITE_TEXT("batch", "自动处理：");
inline constexpr std::string_view kBatchAttachedSetting = INKBRITE_TEXT("batch", "附加设置：");
inline constexpr std::string_view kBatchOutOfMemory =
    INKBRITE_TEXT("batch", "内存不足，文件未转换：");
// A folder below the source that could not be listed: its path, ": " and
// the system's reason; it counts as one failed file of the run.
inline constexpr std::string_view kBatchFolderUnreadable =
    INKBRITE_TEXT("batch", "文件夹无法读取：");

// Books: a record line names the book and the page ("book.cbz: 012.jpg")
// or the reason the book was refused (sources/source_texts.h); a book in
// same-folder mode is only ever replaced by a book of its own kind.
inline constexpr std::string_view kBatchBookKindKept =
    INKBRITE_TEXT("batch", "原书不是ZIP格式，不会被替换");
inline constexpr std::string_view kBatchBookLeftOut =
    INKBRITE_TEXT("batch", "项已略去（链接或指向包外的文件名）");
inline constexpr std::string_view kBatchBookTooLarge =
    INKBRITE_TEXT("batch", "项已略去（超过大小限制）");
inline constexpr std::string_view kBatchBookNameTwice =
    INKBRITE_TEXT("batch", "项已略去（与前面的项同名）");
// A book split into volumes whose volume still passed the size limit (a
// page alone larger than it).
inline constexpr std::string_view kBatchVolumeOverLimit =
    INKBRITE_TEXT("batch", "分卷后仍超过大小限制（单页过大）");

// Operation-line texts of the job (the pipeline adds its stage names).
inline constexpr std::string_view kBatchCounting = INKBRITE_TEXT("batch", "统计文件数");
inline constexpr std::string_view kBatchReading = INKBRITE_TEXT("batch", "读取");
inline constexpr std::string_view kBatchCopying = INKBRITE_TEXT("batch", "复制");
inline constexpr std::string_view kBatchReducing = INKBRITE_TEXT("batch", "减色");
inline constexpr std::string_view kBatchSaving = INKBRITE_TEXT("batch", "存盘");

// "%d个文件需要转换，\n%d个文件转换成功。"
std::string BatchSummaryText(int total, int converted);

// "目标目录中已有%d个同名文件，它们将被转换后的文件所覆盖。要继续吗？"
std::string BatchReplaceQuestion(int existing);

// A source file's path below `sourceDir`; a file outside it keeps only its
// name.
std::filesystem::path BatchRelativePath(const std::filesystem::path& source,
                                        const std::filesystem::path& sourceDir);

// Where a source file is written: its relative path (BatchRelativePath)
// under `targetDir`, with the new extension in place of the name's own (a dot
// in a folder name is not cut).
std::filesystem::path BatchTargetPath(const std::filesystem::path& source,
                                      const std::filesystem::path& sourceDir,
                                      const std::filesystem::path& targetDir,
                                      std::string_view newExtension);

// The target of page 1, 2 (or 3) of a split spread: "name_1.ext",
// "name_2.ext" beside `target`.
std::filesystem::path BatchPageTargetPath(const std::filesystem::path& target, int page);
// The target of page `n` (from 1) of the strip cut from what would be
// written to `target`: "name_001.ext" beside it.
std::filesystem::path StripPageTargetPath(const std::filesystem::path& target, size_t n);
// How many files a split spread may become: 2, or 3 when it is also turned.
int SpreadPageFiles(const BatchSettings& settings);

// Where a book is written: its relative path under `targetDir` with the
// kind's extension (".cbz", ".epub", ".kepub.epub", ".pdf") in place of its
// own, or without the extension (a folder named after the book).
std::filesystem::path BookTargetPath(const std::filesystem::path& source,
                                     const std::filesystem::path& sourceDir,
                                     const std::filesystem::path& targetDir, BookOutput output);

// True when the run converts `source` as a book: its content (or, failing
// that, its name) is a book's (sources/page_source.h BookKindOf), or it is
// a folder (listed by a run with folder books).
bool IsBatchBook(const std::filesystem::path& source);
// The same on a file probed already (formats/file_probe.h).
bool IsBatchBook(FileProbe& source);

// Whether the run makes a book of each folder of pages (settings.folderBooks
// with a kind that is one file; joined strips with any kind but skip).
bool MakesFolderBooks(const BatchSettings& settings);

// The names of the pages of folder book `folder`: its own files (not below
// it) that the run's patterns match and that are not books, each once.
std::vector<std::string> FolderBookPages(const std::filesystem::path& folder,
                                         const BatchSettings& settings);

// Where the run writes `source`: a book's BookTargetPath (settings.books),
// anything else's BatchTargetPath.
std::filesystem::path BatchOutputPath(const std::filesystem::path& source,
                                      const std::filesystem::path& sourceDir,
                                      const std::filesystem::path& targetDir,
                                      const BatchSettings& settings);
// The same when IsBatchBook(source) is known already (`book`).
std::filesystem::path BatchOutputPath(const std::filesystem::path& source,
                                      const std::filesystem::path& sourceDir,
                                      const std::filesystem::path& targetDir,
                                      const BatchSettings& settings, bool book);

// Same folder on disk: equal texts, or the same device and inode, so "dir",
// "dir/" and a link to it are one folder.
bool IsSameBatchFolder(const std::filesystem::path& a, const std::filesystem::path& b);

// Answers true when the caller wants a walk to stop.
using BatchStopCheck = std::function<bool()>;

// The files a run with these settings converts, in its order: the picked
// files, or the matching files below the source folder with the target
// folder left out (unless it is the source folder). With folder books a
// folder of pages stands in for its pages, at the place of the first. A stop cuts the list
// short. `unreadable` (if given) gets the folders that could not be listed.
std::vector<std::filesystem::path> ListBatchFiles(
    const BatchSettings& settings, const BatchSelection* selection, const BatchStopCheck& stop = {},
    std::vector<UnreadableFolder>* unreadable = nullptr);

// The files of the run's part (settings.shard), in its order, each with its
// index in the whole list; `wholeJob` (if given) gets the whole list's size.
std::vector<BatchWorkItem> BatchWorkList(const BatchSettings& settings,
                                         const BatchSelection* selection,
                                         const BatchStopCheck& stop = {},
                                         size_t* wholeJob = nullptr,
                                         std::vector<UnreadableFolder>* unreadable = nullptr);

// A fingerprint of the settings that decide the written bytes: the block's
// values, the extension, colour mode, resize, JPEG quality and skip-colour.
std::string BatchSettingsFingerprint(const BatchSettings& settings, const EnhanceSettings& params);

// With --skip-existing: the file an earlier run wrote for `source` when the
// earlier record says it converted (or copied) it with these settings, and
// that file exists and is newer than the source; for a book, also of the
// kind `settings` make (the kind is not in the fingerprint); else an empty
// path.
std::filesystem::path DoneByEarlierRun(const EarlierRecords& earlier,
                                       const std::filesystem::path& source,
                                       const std::filesystem::path& sourceDir,
                                       const std::filesystem::path& targetDir,
                                       const BatchSettings& settings,
                                       const std::string& fingerprint);

// With --skip-existing and no JSON record: the files written for `source`
// when they exist and are newer than it (its target; with splitting on, the
// two pages of a split spread; a book's .cbz, or its folder; with a size
// limit, the book's volumes), else none.
// Every output is written whole or not at all, so an existing one is whole.
std::vector<std::filesystem::path> DoneByNewerTarget(const std::filesystem::path& source,
                                                     const std::filesystem::path& sourceDir,
                                                     const std::filesystem::path& targetDir,
                                                     const BatchSettings& settings,
                                                     bool splitSpreads);

// Removes the temporary files of our writers in `folder` (not below it)
// whose writer is gone (IsStaleTempFile: its process no longer runs here, or
// a file of another host or container left alone for a day), and our
// temporary folders of a book (so named) by the same rule: what a killed run
// left behind. Returns how many it removed.
int RemoveStaleTemporaries(const std::filesystem::path& folder);

// How many files a run would replace that exist now: the targets of the
// listed files (each once), without a file's own source (converted in
// place) and without those in settings.ownFiles.
int CountExistingTargets(const BatchSettings& settings, const BatchSelection* selection,
                         const BatchStopCheck& stop = {});

class CBatchJob : public CSrchDir {
 public:
  CBatchJob();
  ~CBatchJob() override;

  // The whole run: checks, count, conversion, summary. With a selection its
  // files are converted instead of the source folder's.
  void Run(BatchHost& host, const BatchSettings& settings,
           const BatchSelection* selection = nullptr);

  // Results of the last run, for the command-line converter and the tests.
  int Total() const { return m_total; }
  int SuccessCount() const { return m_success; }  // converted, copied or skipped
  int SkippedCount() const { return m_skipped; }
  int FailedCount() const { return m_failed; }
  // Entries of books left out of what was written (links, names outside the
  // book, entries over the size limit, second entries of one name).
  size_t LeftOutCount() const { return m_leftOut; }
  // Why the record could not be written or completed (the system's words);
  // empty when it was. A run without its record says so in its summary.
  const std::string& RecordError() const { return m_recordError; }
  const std::filesystem::path& RecordPath() const { return m_recordPath; }
  bool SameFolderMode() const { return m_sameFolder; }
  // Every file the last run wrote (converted pages and colour copies).
  const std::set<std::filesystem::path>& WrittenFiles() const { return m_written; }

 protected:
  // Converts one file; the find record is not used.
  void OnFileFound(const std::filesystem::path& fullPath, const FindData& find) override;
  // Keeps the folder for the record (RecordUnreadableFolders).
  void OnFolderUnreadable(const std::filesystem::path& folder,
                          const std::error_code& error) override;

 private:
  // How one file ended.
  struct FileOutcome {
    enum Kind {
      kConverted,
      kCopied,
      kSkipped,
      kReadFailed,
      kWriteFailed,
      kNameTaken,
      kOutOfMemory,  // no memory for it: the file fails, the run goes on
      kStopped
    } kind = kStopped;
    std::filesystem::path path;      // the failed source or target; the file written
    std::filesystem::path target{};  // kNameTaken: the target written before
    uint64_t bytesRead = 0;
    uint64_t bytesWritten = 0;
    uint64_t ms = 0;
    size_t leftOut = 0;   // a book's entries left out (links, too large, named twice)
    std::string code{};   // the record's reason_code when not the kind's own
    ReadStatus status{};  // kReadFailed, kOutOfMemory: why the reader failed, when it said
    // Per page written, with --report: its path and what the automatic steps found.
    std::vector<std::pair<std::filesystem::path, std::string>> report{};
    // A book's record lines instead of the one of `path`: each failed page
    // (or the reason the book was refused) after the book's path.
    struct Line {
      std::string_view prefix;     // kBatchReadFailed, ...
      std::filesystem::path path;  // the book
      std::string what;            // "012.jpg", or why
    };
    std::vector<Line> lines{};
    // The files saved (SaveEnhanced: one page, or the two of a split spread).
    std::vector<std::filesystem::path> written{};
    // With BatchSettings::useAttached, the set a book's pages were
    // converted with (AttachedSettingText); empty: the run's. The pages
    // converted with their own settings: each page's name and the set it
    // took (PageSettingText). The book's settings fingerprint, when not
    // the run's (AttachedBookFingerprint).
    std::string attached{};
    std::vector<std::pair<std::string, std::string>> pageSettings{};
    std::string fingerprint{};
  };
  // What converting one file reports as it goes: the host itself in a
  // one-at-a-time run, shared counters in a run with workers.
  class FileProgress;
  class HostProgress;
  class WorkerProgress;
  struct WorkerShared;

  // The steps of Run.
  void StartRun(BatchHost& host, const BatchSettings& settings);
  bool CheckSettings(const BatchSelection* selection);
  bool CountFiles(const BatchSelection* selection, const std::filesystem::path& excluded);
  bool ConfirmReplacing(const BatchSelection* selection);
  std::filesystem::path StartConversion();
  void ConvertFiles(const BatchSelection* selection, const std::filesystem::path& excluded);
  void Finish(const std::filesystem::path& recordPath);
  void RecordUnreadableFolders();

  bool StopCheck();
  void ConvertFile(size_t index, const std::filesystem::path& source);
  FileOutcome ConvertMeasured(const std::filesystem::path& source, FileProgress& progress);
  FileOutcome ConvertOne(const std::filesystem::path& source, FileProgress& progress);
  // A loose file, probed once for its reading (formats/file_probe.h).
  FileOutcome ConvertLoose(FileProbe& source, FileProgress& progress);
  std::optional<FileOutcome> ConvertByRows(FileProbe& source, FileProgress& progress);
  // Row by row (batch_rows.cpp): whether these settings let a page stream,
  // and one page streamed from its reader to its writer.
  enum class RowsEnd { kWritten, kUnreadable, kOutOfMemory, kStopped, kNotWritten };
  bool ConvertsByRows() const;
  RowsEnd StreamRows(PageRowReader& reader, PageRowWriter& writer, FileProgress& progress);
  // `quantisers`: the JPEG source's luminance table, for the JPEG clean-up
  // step (null: not known).
  FileOutcome WriteEnhanced(DibImage& image, int mode, const std::filesystem::path& source,
                            const std::filesystem::path& target, FileProgress& progress,
                            const JpegQuantisers* quantisers = nullptr);
  FileOutcome SaveEnhanced(DibImage& image, int mode, const std::filesystem::path& source,
                           const std::filesystem::path& target, FileProgress& progress,
                           bool ownNames, const EnhanceSettings* sourceParams = nullptr,
                           const JpegQuantisers* quantisers = nullptr, int jpegQuality = -1);
  FileOutcome SaveStripPages(DibImage& image, int mode, const std::filesystem::path& source,
                             const std::filesystem::path& target, FileProgress& progress,
                             bool ownNames, const EnhanceSettings* sourceParams,
                             const JpegQuantisers* quantisers, int jpegQuality);
  int32_t StripRowsOf(const DibImage& image) const;
  int SourcePages(const EnhanceSettings& settings, DibImage& image, DibImage* more,
                  PageFindings* findings, const EnhanceHooks& hooks,
                  const JpegQuantisers* quantisers) const;
  FileOutcome CopyColourFile(const std::filesystem::path& source,
                             const std::filesystem::path& target);

  // Books (book_job.cpp).
  struct BookRun;
  struct PageTask;
  class PagePool;
  struct StripJoin;
  struct SubmitPage;
  FileOutcome ConvertBook(const std::filesystem::path& source, FileProgress& progress);
  BookMeta MetaOfBook(BookRun& run, bool folder) const;
  FileOutcome BookSameFolderCheck(const std::filesystem::path& source,
                                  const std::filesystem::path& target, ImageFormat container);
  void GrowForBook(size_t pages, FileProgress& progress);
  static void DropBookWork(BookRun& run);
  void FollowBookReadingOrder(BookRun& run) const;
  // With BatchSettings::useAttached, gives the book's pages the set in
  // force for it; a refusal (its set missing) when that cannot be done,
  // else kConverted.
  FileOutcome TakeAttachedSetting(BookRun& run);
  // The settings, colour mode and JPEG quality a book's page is converted
  // with: its own, else its book's set, else the run's.
  const EnhanceSettings& PageParams(const BookRun& run, const PageTask& task) const;
  int PageColourMode(const BookRun& run, const PageTask& task) const;
  int PageJpegQuality(const BookRun& run, const PageTask& task) const;
  bool ConvertBookPages(BookRun& run, FileProgress& progress);
  bool ReadBookPage(BookRun& run, size_t i, std::set<std::string>& names, FileProgress& progress,
                    PageTask& task);
  void ConvertBookPage(BookRun& run, PageTask& task, FileProgress& progress);
  void ConvertBookPageSteps(BookRun& run, PageTask& task, FileProgress& progress);
  void JoinBookPage(BookRun& run, PageTask& task, int64_t mtime, StripJoin& join,
                    FileProgress& progress, SubmitPage& submit);
  void FlushStrip(BookRun& run, StripJoin& join, bool end, FileProgress& progress,
                  SubmitPage& submit);
  void ConvertStripPiece(BookRun& run, PageTask& task, FileProgress& progress);
  std::optional<RowsEnd> ConvertBookPageByRows(BookRun& run, PageTask& task, FileProgress& progress,
                                               std::vector<uint8_t>& bytes);
  void WriteReadySlots(BookRun& run);
  FileOutcome FinishBook(BookRun& run);
  static FileOutcome BookNotWritten(const BookRun& run);
  static FileOutcome BookConverted(BookRun& run, uintmax_t folderBytes);
  void PrepareFolder(const std::filesystem::path& folder);
  void SweepOnce(const std::filesystem::path& folder);
  void ConvertWithWorkers(const std::vector<BatchWorkItem>& files, int jobs);
  size_t WatchWorkers(WorkerShared& shared, const std::vector<BatchWorkItem>& files,
                      const std::vector<FileOutcome>& outcomes, size_t expected);
  void HostAdvance(int units);
  void ApplyOutcome(size_t index, const std::filesystem::path& source, const FileOutcome& outcome,
                    bool jsonWritten = false);
  void RecordLine(size_t index, std::string_view prefix, const std::filesystem::path& path,
                  const std::filesystem::path& target = {});
  void RecordJson(size_t index, const std::filesystem::path& source, const FileOutcome& outcome);
  void RecordFindings(size_t index, const FileOutcome& outcome);
  void WriteRecord(const std::string& text);

  // Names written by this run and folders swept; workers share them
  // (m_namesMutex).
  bool WrittenByThisRun(const std::filesystem::path& path);
  void MarkWritten(const std::filesystem::path& path);

  BatchHost* m_host = nullptr;
  const BatchSettings* m_settings = nullptr;
  const CParaBlock* m_params = nullptr;
  EnhanceSettings m_enhance;                // *m_params as the run started
  std::shared_ptr<LibraryState> m_library;  // with useAttached, opened at the first book
  std::filesystem::path m_source;
  std::filesystem::path m_target;
  int m_total = 0;
  int m_success = 0;
  int m_found = 0;  // files handed to the conversion (see Finish)
  int m_skipped = 0;
  int m_failed = 0;
  size_t m_leftOut = 0;
  // The part's files, listed while counting when the run is a part.
  std::optional<std::vector<BatchWorkItem>> m_work;
  size_t m_wholeJob = 0;  // the whole job's files (a part's record indexes its folders after them)
  std::vector<UnreadableFolder> m_unreadable;
  bool m_skipExisting = false;
  EarlierRecords m_earlier;
  std::string m_fingerprint;
  int m_steps = 12;
  int m_progressUpper = 0;  // the range set, grown by the pages of books
  int m_progressDone = 0;   // units advanced on the host
  bool m_sameFolder = false;
  std::unique_ptr<SafeFileWriter> m_record;
  std::mutex m_recordMutex;  // m_record and m_recordError (workers write JSON lines)
  std::filesystem::path m_recordPath;
  std::string m_recordError;
  std::mutex m_namesMutex;
  std::set<std::filesystem::path> m_written;
  std::set<std::filesystem::path> m_sweptFolders;
};

}  // namespace inkbrite
