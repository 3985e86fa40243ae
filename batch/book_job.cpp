// SPDX-License-Identifier: GPL-2.0-or-later
// The batch job's books: a comic archive or PDF file among the sources is
// converted as a book (see batch_job.h, "Books").
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "batch/attached_settings.h"
#include "batch/batch_job.h"
#include "batch/batch_job_pvt.h"
#include "batch/book_writer.h"
#include "batch/strip_pages.h"
#include "core/enhance.h"
#include "formats/format_table.h"
#include "formats/image_file.h"
#include "formats/jpeg/jpeg_codec.h"
#include "formats/page_rows.h"
#include "formats/picture_size.h"
#include "platform/ascii_case.h"
#include "platform/file_io.h"
#include "sources/book_limits.h"
#include "sources/book_source.h"
#include "sources/comic_info.h"
#include "sources/natural_order.h"

namespace inkbrite {

namespace fs = std::filesystem;
using batch_detail::IsSameFile;
using batch_detail::kUnitsAfterRead;
using batch_detail::PathFits;

namespace {

// 8 characters of [a-z0-9] for a temporary folder's name.
std::string RandomPart() {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device device;
  std::string text(8, 'a');
  for (char& c : text) c = kChars[device() % (sizeof kChars - 1)];
  return text;
}

// A temporary folder beside `final` for what becomes it (or the pages of
// the CBZ written there), named as our temporary files are, so a sweep
// finds it when the run is killed.
fs::path MakeWorkFolder(const fs::path& final) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    fs::path work = final.parent_path() / TempFileName(final.filename().native(), getpid(),
                                                       RandomPart(), ThisMachineTag());
    std::error_code ec;
    if (fs::create_directory(work, ec) && !ec) return work;
  }
  return {};
}

// `name` with the extension of its last component replaced by `extension`.
std::string WithExtension(const std::string& name, const std::string& extension) {
  const size_t slash = name.rfind('/');
  const size_t dot = name.rfind('.');
  const bool hasDot = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (hasDot ? name.substr(0, dot) : name) + extension;
}

// A PDF page's entry (or, renumbered, any page's): its number padded to the
// width of the page count (at least `least` digits), so any reader's order
// is the book's.
std::string PdfPageName(size_t page, size_t pages, size_t least = 3) {
  std::string number = std::to_string(page + 1);
  const size_t width = std::max<size_t>(least, std::to_string(pages).size());
  if (number.size() < width) number.insert(0, width - number.size(), '0');
  return number;
}

// The modification time of a file in seconds since 1970, or 0.
int64_t FileTime(const fs::path& path) {
  struct stat st = {};
  return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_mtime) : 0;
}

// True when every component of `path` below `root` that exists is a real
// folder or file, not a symbolic link: writing there stays inside `root`.
bool NoLinksBelow(const fs::path& root, const fs::path& path) {
  fs::path at = root;
  for (const fs::path& part : path.lexically_relative(root)) {
    at /= part;
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(at, ec);
    if (ec || st.type() == fs::file_type::not_found) return true;
    if (st.type() == fs::file_type::symlink) return false;
  }
  return true;
}

// Moves the files of `from` into the existing folder `into`, replacing
// files of the same names (each by one rename), then removes `from`.
bool MergeFolder(const fs::path& from, const fs::path& into) {
  std::error_code ec;
  bool ok = true;
  std::vector<fs::path> files;
  for (fs::recursive_directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file(ec) && !it->is_symlink(ec)) files.push_back(it->path());
  }
  if (ec) return false;
  for (const fs::path& file : files) {
    const fs::path target = into / file.lexically_relative(from);
    if (!NoLinksBelow(into, target)) {
      ok = false;
      continue;
    }
    fs::create_directories(target.parent_path(), ec);
    std::error_code renameError;
    fs::rename(file, target, renameError);
    ok = ok && !renameError;
  }
  fs::remove_all(from, ec);
  return ok;
}

// What a book's page holds while it is converted: its file's bytes, its
// picture and the pipeline's working copy of it (a picture size its header
// does not tell counts as its bytes again).
uint64_t PageMemoryCost(const std::vector<uint8_t>& bytes) {
  PictureSize size;
  const uint64_t picture =
      ReadPictureSize(bytes.data(), bytes.size(), size) ? size.Pixels() * 3 : bytes.size();
  return bytes.size() + 2 * picture;
}

// What a PDF page of `pixels` holds while it is converted: the helper's
// answer (its rows, in a memory file while it is read), the picture and the
// pipeline's working copy.
uint64_t DrawnPageMemoryCost(uint64_t pixels) { return 3 * pixels * 3; }

// What a decoded page holds from now on: itself and the pipeline's copy.
uint64_t PictureMemoryCost(const DibImage& image) {
  return 2 * uint64_t{static_cast<uint32_t>(image.Width())} *
         static_cast<uint32_t>(image.Height()) * 3;
}

// A failed page's name in the record with why: a page over a limit says
// which, a page its reader refused says the reader's reason when it gave one.
std::string FailedPageName(const std::string& name, SourceError why, bool pdf,
                           const ReadStatus& status = {}) {
  if (why != SourceError::kPageUnreadable)
    return name + ": " + std::string(SourceErrorText(why, pdf));
  return status.Failed() ? name + ": " + ReadStatusText(status) : name;
}

// Why reading a page's bytes failed, as the book's pages say it: running
// out of memory is the page's memory limit.
SourceError PageErrorOf(const ReadStatus& status) {
  return status.error == ReadError::kOutOfMemory ? SourceError::kOverMemory
                                                 : SourceError::kPageUnreadable;
}

// Entry `i`'s bytes; a page whose bytes find no memory is over the memory
// limit, any other failure leaves it unreadable.
SourceError ReadPageEntry(BookSource& book, size_t i, std::vector<uint8_t>& bytes) {
  try {
    const SourceError e = book.ReadEntry(i, kMaxPageFileBytes, bytes);
    if (e == SourceError::kNone || e == SourceError::kOverMemory) return e;
    return SourceError::kPageUnreadable;
  } catch (const std::bad_alloc&) {
    bytes = {};
    return SourceError::kOverMemory;
  }
}

// The order a book's entries are taken in: what is not a page first, in
// the archive's order, then the pages in reading order; from an archive
// that unpacks only in order, the pages in its order (the writing puts
// them in reading order, WriteReadySlots).
std::vector<size_t> BookEntryOrder(const BookSource& book) {
  const std::vector<BookEntry>& entries = book.Entries();
  std::vector<size_t> order;
  order.reserve(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!entries[i].page) order.push_back(i);
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].page && book.InOrderOnly()) order.push_back(i);
  }
  for (size_t page = 0; page < book.PageCount() && !book.InOrderOnly(); ++page) {
    order.push_back(book.EntryOfPage(page));
  }
  return order;
}

// A JPEG page's own luminance table, for the JPEG clean-up (read whatever
// the job's settings say: a book's own set may turn the step on).
std::optional<JpegQuantisers> JpegTablesOf(const std::vector<uint8_t>& bytes) {
  JpegQuantisers tables;
  if (!ReadJpegQuantisers(bytes.data(), bytes.size(), tables)) return std::nullopt;
  return tables;
}

}  // namespace

// ---- the pages of one book on workers ----

// Runs a book's page tasks on `jobs` threads (none with one job: the
// caller runs each task when it hands it in).
class CBatchJob::PagePool {
 public:
  explicit PagePool(int jobs) {
    for (int i = 0; jobs > 1 && i < jobs; ++i) {
      try {
        m_threads.emplace_back([this] { Work(); });
      } catch (const std::system_error&) {
        break;  // fewer threads; none: the caller runs the tasks
      }
    }
  }
  ~PagePool() {
    {
      std::lock_guard lock(m_mutex);
      m_closing = true;
    }
    m_wake.notify_all();
    for (std::thread& t : m_threads) t.join();
  }
  PagePool(const PagePool&) = delete;
  PagePool& operator=(const PagePool&) = delete;

  bool Threaded() const { return !m_threads.empty(); }

  void Submit(std::function<void()> task) {
    if (!Threaded()) {
      task();
      return;
    }
    {
      std::lock_guard lock(m_mutex);
      m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
  }

 private:
  void Work() {
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [this] { return m_closing || !m_tasks.empty(); });
        if (m_tasks.empty()) return;
        task = std::move(m_tasks.front());
        m_tasks.pop_front();
      }
      task();
    }
  }

  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<std::function<void()>> m_tasks;
  bool m_closing = false;
  std::vector<std::thread> m_threads;
};

// One book being converted.
struct CBatchJob::BookRun {
  // What the book's entries become, in the archive's order.
  struct Slot {
    enum Kind { kFolder, kFile } kind = kFile;
    std::string name;  // in the CBZ or below the book's folder
    int64_t mtime = 0;
    bool page = false;     // a page (stored when its format deflates badly)
    size_t pageIndex = 0;  // a page's place in the reading order
    bool info = false;     // a ComicInfo.xml, kept true to the pages written
    // The files to write (a page may have become two: a split spread); a
    // converted page of a folder is in place already and has none.
    struct File {
      std::string name;
      std::vector<uint8_t> bytes;
    };
    std::vector<File> files;
    // Where the files' bytes wait for their turn (WritePageInTurn; empty:
    // in memory).
    std::vector<fs::path> waitingFiles;
    // What the automatic steps found on each page written (--report).
    std::vector<std::pair<std::string, std::string>> report;
    bool ready = false;
    bool failed = false;
  };

  fs::path source;
  fs::path target;              // the book's file, or its folder
  std::string attached;         // the set attached to it or its series (AttachedSettingText)
  bool ownSet = false;          // `params` hold an attached set (its colour mode and quality too)
  BookSettingsInForce inForce;  // with useAttached: the set and the pages' own settings
  // The pages converted with their own settings, by name, and the set each took.
  std::vector<std::pair<std::string, std::string>> pageSettings;
  // The run's settings with the book's own reading order (a manga book's
  // spreads right page first); empty: the run's settings as they are.
  std::optional<EnhanceSettings> params;
  const EnhanceSettings* Settings() const { return params ? &*params : nullptr; }
  BookOutput output = BookOutput::kCbz;
  std::unique_ptr<BookSource> book;
  fs::path work;  // the temporary folder: the book's page files, or the folder being filled
  std::unique_ptr<BookVolumes> writer;  // a book that is one file (or its volumes)
  int64_t pdfTime = 0;                  // a PDF's pages are dated as its file

  std::mutex mutex;  // the slots, `failures` and `written` below, while pages run
  std::condition_variable changed;
  std::deque<Slot> slots;  // from `first` on, not yet written
  size_t first = 0;
  size_t inFlight = 0;          // pages handed to the pool, not yet finished
  uint64_t memoryInFlight = 0;  // what they hold (PageMemoryCost)
  uint64_t memoryBudget = 0;    // what they may hold (BatchSettings::bookPagesMemory)
  // What failed, with the entry's index: the record lists them in the book's order.
  std::vector<std::pair<size_t, FileOutcome::Line>> failures;
  std::vector<std::pair<std::filesystem::path, std::string>> report;  // in the book's order
  bool writeFailed = false;
  // Entries left out: links and names outside the book, entries over the
  // size limit, second entries of one name.
  size_t leftOutUnsafe = 0;
  size_t leftOutLarge = 0;
  size_t leftOutTwice = 0;
  // How many pages each page of the book became (2: a split spread), and
  // the ComicInfo.xml entries held back until that is known (when spreads
  // may be split: written last).
  std::vector<uint8_t> pageOutputs;
  bool holdInfo = false;
  std::vector<Slot> heldInfo;
  // Pages converted before their turn in the reading order (an archive that
  // unpacks only in order), by their place; beyond `waitingBudget` bytes
  // their files wait in the work folder.
  std::map<size_t, Slot> waiting;
  size_t nextPage = 0;
  uint64_t waitingBytes = 0;
  uint64_t waitingBudget = 0;
  bool pageFailed = false;  // a page failed: the book is not written

  Slot& At(size_t index) { return slots[index - first]; }
  size_t InFlight() {
    std::lock_guard lock(mutex);
    return inFlight;
  }
  // A page handed to the pool is done (under `mutex`).
  void Finished(uint64_t memory) {
    --inFlight;
    memoryInFlight -= memory;
  }
  // A page in flight holds `memory` now (a PDF page drawn from a picture of
  // its own resolution, larger than its listing said). False when that alone
  // passes the budget.
  bool Rehold(uint64_t& held, uint64_t memory) {
    if (memory > memoryBudget) return false;
    std::lock_guard lock(mutex);
    memoryInFlight = memoryInFlight - held + memory;
    held = memory;
    return true;
  }
  // Whether a page holding `memory` may start beside those in flight (at
  // most `pages` of them).
  bool HasRoomFor(uint64_t memory, size_t pages) {
    std::lock_guard lock(mutex);
    return inFlight == 0 || (inFlight < pages && memoryInFlight + memory <= memoryBudget);
  }
  bool TakeOtherEntry(size_t i, Slot& slot, std::set<std::string>& names);
  void FinishPage(PageTask& task, bool failed, std::string_view prefix,
                  std::vector<Slot::File> files = {},
                  std::vector<std::pair<std::string, std::string>> findings = {});
  void WriteSlotFiles(Slot& slot);
  void WritePageInTurn(Slot slot);
  void HoldBack(Slot& slot);
  // Whether a split spread would change the ComicInfo.xml of `slot` (it
  // holds a page count or a page list).
  bool InfoFollowsPages(const Slot& slot) const {
    const std::vector<uint8_t> split(pageOutputs.size(), 2);
    return std::any_of(slot.files.begin(), slot.files.end(), [&split](const Slot::File& f) {
      return ComicInfoForPages(f.bytes.data(), f.bytes.size(), split).has_value();
    });
  }
  static bool TakeSavedPages(const FileOutcome& saved, const fs::path& page,
                             const std::string& outName, bool cbz, std::vector<Slot::File>& files,
                             std::vector<std::pair<std::string, std::string>>& report);
};

// The page's file bytes (archives) or number (PDF) in, the converted page
// out: the slot's bytes (CBZ) or its file in the work folder.
struct CBatchJob::PageTask {
  size_t slot = 0;
  size_t entry = 0;  // in the archive's order
  size_t page = 0;
  std::string entryName;  // the page's own name
  std::string outName;    // the converted page's name
  std::vector<uint8_t> bytes;
  uint8_t outputs = 1;                             // the pages written (2, 3: a spread)
  DibImage piece;                                  // a page cut from a joined strip
  bool pieceGrey = false;                          // every slice of its strip grey
  std::string cuts;                                // its rows in the strip (--report)
  std::optional<EnhanceSettings> own;              // its own settings over its book's
  uint64_t memory = 0;                             // what converting it holds (PageMemoryCost)
  bool finished = false;                           // handed back (BookRun::FinishPage)
  SourceError why = SourceError::kPageUnreadable;  // why it could not be read
  ReadStatus status;                               // what its reader said, when it failed

  // A grey page written grey (KeepsGreyPages) is read as grey levels.
  SourceError Load(BookSource& book, DibImage& image, int& grey, const BatchSettings& settings,
                   const EnhanceSettings& params);
  // Its name in the record, with the reason when it passed a limit.
  std::string FailedName(const BookRun& run) const {
    return FailedPageName(entryName, why, run.book->IsPdf(), status);
  }
};

// A book whose pages are joined into one strip and cut again.
struct CBatchJob::StripJoin {
  explicit StripJoin(const StripLimit& limit) : cutter(limit) {}
  StripCutter cutter;
  std::vector<StripPiece> ready;                   // cut, not yet handed on
  std::vector<std::pair<int64_t, size_t>> slices;  // each page's first row and its place
  size_t slice = 0;                                // where the last piece began
  int64_t rows = 0;
  size_t slicesRead = 0;
  size_t pieces = 0;
  bool grey = true;
  int64_t mtime = 0;  // the latest of the pages'
};

void CBatchJob::GrowForBook(size_t pages, FileProgress& progress) {
  if (pages > 1) progress.Grow(static_cast<int>(pages - 1) * m_steps);
}

// A manga book (its ComicInfo reads right to left) splits its spreads
// right page first, as the viewer shows them, unless this run chose the
// order. Its ComicInfo is read only when spreads are split.
void CBatchJob::FollowBookReadingOrder(BookRun& run) const {
  const EnhanceSettings& params = run.params ? *run.params : m_enhance;
  if (params[kSplitSpreads] == 0 || params[kSplitRightToLeft] != 0 ||
      m_settings->readingOrderChosen || !run.book->Info().rightToLeft) {
    return;
  }
  run.params = params;
  run.params->Set(kSplitRightToLeft, 1);
}

CBatchJob::FileOutcome CBatchJob::TakeAttachedSetting(BookRun& run) {
  if (!m_settings->useAttached) return {FileOutcome::kConverted, run.source};
  if (!m_library) m_library = std::make_shared<LibraryState>(m_settings->libraryStateFile);
  // The run's block with the book's set over it; the unstored slots stay
  // the run's.
  CParaBlock block;
  block.Assign(*m_params);
  run.inForce = LoadBookSettings(*m_library, run.source, m_settings->attachedSettingsFile, block);
  const AttachedSetting& found = run.inForce.set;
  if (found.missing) {
    FileOutcome refused{FileOutcome::kReadFailed, run.source};
    refused.lines.push_back(
        {kBatchReadFailed, run.source, MissingAttachedSettingText(*found.attachment)});
    refused.code = kReasonAttachedSetMissing;
    return refused;
  }
  // A colour reduction the pages' extension cannot hold refuses the book,
  // as it refuses a run.
  std::vector<int> modes;
  if (found.attachment) modes.push_back(block.GetValue(kGreyScale));
  for (const auto& [page, slots] : run.inForce.pages) {
    for (const auto& [slot, value] : slots) {
      if (slot == kGreyScale) modes.push_back(value);
    }
  }
  for (const int mode : modes) {
    if (IsReducedMode(mode) && !TakesReducedPages(m_settings->newExtension)) {
      FileOutcome refused{FileOutcome::kReadFailed, run.source};
      refused.lines.push_back(
          {kBatchReadFailed, run.source, std::string(EngineText(kBatchReducedNeedsPngMessage))});
      refused.code = kReasonAttachedSetUnusable;
      return refused;
    }
  }
  if (!found.attachment) return {FileOutcome::kConverted, run.source};
  run.params = EnhanceSettings(block);
  run.ownSet = true;
  run.attached = AttachedSettingText(*found.attachment);
  return {FileOutcome::kConverted, run.source};
}

const EnhanceSettings& CBatchJob::PageParams(const BookRun& run, const PageTask& task) const {
  return task.own ? *task.own : run.params ? *run.params : m_enhance;
}

int CBatchJob::PageColourMode(const BookRun& run, const PageTask& task) const {
  return task.own || run.ownSet ? PageParams(run, task)[kGreyScale] : m_settings->colourMode;
}

int CBatchJob::PageJpegQuality(const BookRun& run, const PageTask& task) const {
  return task.own || run.ownSet ? PageParams(run, task)[kJpegQuality] : m_settings->jpegQuality;
}

CBatchJob::FileOutcome CBatchJob::ConvertBook(const fs::path& source, FileProgress& progress) {
  using Outcome = FileOutcome;
  progress.Status(StatusLine::kCurrentFile, source.native());
  progress.Status(StatusLine::kOperation, EngineText(kBatchReading));
  BookRun run;
  run.source = source;
  run.output = m_settings->books;
  run.memoryBudget = m_settings->bookPagesMemory;
  run.waitingBudget = m_settings->bookPagesMemory / 8;
  run.target = BookTargetPath(source, m_source, m_target, run.output);
  SourceError error = SourceError::kNone;
  std::error_code dirError;
  const bool folder = fs::is_directory(source, dirError);
  run.book = folder ? BookSource::OpenFolder(source, FolderBookPages(source, *m_settings), error)
                    : BookSource::Open(source, error);
  if (!run.book) {
    progress.Advance(m_steps);
    Outcome refused{Outcome::kReadFailed, source};
    refused.lines.push_back(
        {kBatchReadFailed, source,
         std::string(SourceErrorText(error, BookKindOf(source) == kFormatPdfBook))});
    refused.code = "book-" + std::string(SourceErrorName(error));
    std::replace(refused.code.begin(), refused.code.end(), ' ', '-');
    return refused;
  }
  GrowForBook(run.book->PageCount(), progress);
  const int units = static_cast<int>(run.book->PageCount()) * m_steps;
  if (Outcome refused = TakeAttachedSetting(run); refused.kind != Outcome::kConverted) {
    progress.Advance(units);
    return refused;
  }
  FollowBookReadingOrder(run);
  if (!PathFits(run.target)) {
    progress.Advance(units);
    return {Outcome::kWriteFailed, run.target};
  }
  if (Outcome refused = BookSameFolderCheck(source, run.target, run.book->Container());
      refused.kind != Outcome::kConverted) {
    progress.Advance(units);
    return refused;
  }
  try {
    PrepareFolder(run.target.parent_path());
    run.work = MakeWorkFolder(run.target);
    if (run.work.empty()) {
      progress.Advance(units);
      return {Outcome::kWriteFailed, run.target};
    }
    if (BookIsOneFile(run.output)) {
      run.writer = std::make_unique<BookVolumes>(
          run.output, run.target, MetaOfBook(run, folder),
          BookLayout{m_settings->bookPixelsPerInch, m_settings->bookSpreads},
          m_settings->bookMaxBytes, run.book->PageCount());
      if (!run.writer->Open()) run.writeFailed = true;
    }
    run.pdfTime = run.book->IsPdf() ? FileTime(source) : 0;
    run.pageOutputs.assign(run.book->PageCount(), 1);
    // Volumes tell their ComicInfo.xml their own pages when they close.
    run.holdInfo = (m_params->GetValue(kSplitSpreads) != 0 || m_settings->stripCut > 0) &&
                   m_settings->bookMaxBytes == 0;
    const bool stopped = !run.writeFailed && !ConvertBookPages(run, progress);
    if (stopped) {
      if (run.writer) run.writer->Discard();
      std::error_code ec;
      fs::remove_all(run.work, ec);
      return {Outcome::kStopped, {}};
    }
    Outcome finished = FinishBook(run);
    finished.attached = run.attached;
    finished.pageSettings = std::move(run.pageSettings);
    return finished;
  } catch (const std::bad_alloc&) {
    // No memory for the book's own work (an entry's bytes passed on the
    // way, the book's file): the book fails, the run goes on.
    DropBookWork(run);
    return {Outcome::kOutOfMemory, source};
  } catch (const std::exception&) {
    DropBookWork(run);
    return {Outcome::kWriteFailed, run.target};
  }
}

// The book's metadata: its ComicInfo.xml, its name (a folder's whole, dots
// and all), the run's overrides and reading direction.
BookMeta CBatchJob::MetaOfBook(BookRun& run, bool folder) const {
  const BookMetaOverrides overrides{m_settings->bookTitle, m_settings->bookSeries,
                                    m_settings->bookAuthor};
  std::string stem = run.source.stem().string();
  if (folder) {
    stem = run.target.filename().string();
    stem.resize(stem.size() - BookKindRowOf(run.output).extension.size());
  }
  BookMeta meta = MakeBookMeta(run.book->Info(), stem, overrides);
  meta.rightToLeft = meta.rightToLeft || m_params->GetValue(kSplitRightToLeft) != 0;
  return meta;
}

// What a book that failed half-way has written goes.
void CBatchJob::DropBookWork(BookRun& run) {
  if (run.writer) run.writer->Discard();
  std::error_code ec;
  if (!run.work.empty()) fs::remove_all(run.work, ec);
}

// The same-folder rules of books: a book is replaced in place only by a
// CBZ of its own kind, and never writes over another book among the
// sources; a target this run has written is not written again.
CBatchJob::FileOutcome CBatchJob::BookSameFolderCheck(const fs::path& source,
                                                      const fs::path& target,
                                                      ImageFormat container) {
  using Outcome = FileOutcome;
  const bool inPlace = IsSameFile(source, target);
  if (inPlace && container != kFormatZipBook) {
    Outcome kept{Outcome::kWriteFailed, target};
    kept.lines.push_back({kBatchWriteFailed, source, std::string(EngineText(kBatchBookKindKept))});
    kept.code = kReasonBookKindKept;
    return kept;
  }
  std::error_code ec;
  if (!inPlace && (WrittenByThisRun(target) ||
                   (m_sameFolder && fs::exists(target, ec) && IsBookFile(target)))) {
    return {Outcome::kNameTaken, source, target};
  }
  return {Outcome::kConverted, target};
}

// Whether an entry's name is a ComicInfo.xml (in any folder, any case).
bool IsComicInfoName(const std::string& name) {
  const size_t slash = name.rfind('/');
  return EqualsIgnoringAsciiCase(slash == std::string::npos ? name : name.substr(slash + 1),
                                 "ComicInfo.xml");
}

// An entry that is not a page: a folder, or a file copied as it is into
// `slot`. False when it is left out (a link, a name outside the book,
// litter, too large, a name written already) or could not be read
// (recorded).
bool CBatchJob::BookRun::TakeOtherEntry(size_t i, Slot& slot, std::set<std::string>& names) {
  const ArchiveEntry& e = book->Entries()[i].entry;
  if (e.unsafe || e.type == EntryType::kSymlink || e.type == EntryType::kOther) {
    ++leftOutUnsafe;  // never written: a link, or a name outside the book
    return false;
  }
  if (IsLitterEntryName(e.name)) return false;
  slot.name = e.name;
  if (e.type == EntryType::kFolder) {
    slot.kind = Slot::kFolder;
    slot.ready = true;
    // A folder named twice is made once.
    return names.insert(e.name + (e.name.ends_with('/') ? "" : "/")).second;
  }
  // A second entry of a name is left out: the first one stands.
  if (!names.insert(e.name).second) {
    ++leftOutTwice;
    return false;
  }
  // Everything else that is not litter is copied as it is.
  Slot::File copy{e.name, {}};
  SourceError read = SourceError::kNone;
  try {
    read = book->ReadEntry(i, kMaxOtherEntryBytes, copy.bytes);
  } catch (const std::bad_alloc&) {
    read = SourceError::kOverMemory;
  }
  slot.files.push_back(std::move(copy));
  slot.info = IsComicInfoName(e.name);
  if (read == SourceError::kTooLarge) {
    ++leftOutLarge;
    return false;
  }
  if (read != SourceError::kNone) {
    std::lock_guard lock(mutex);
    failures.push_back(
        {i, {kBatchReadFailed, source, FailedPageName(e.name, read, book->IsPdf())}});
    return false;
  }
  slot.ready = true;
  return true;
}

// The page task of entry `i`: its names and, from an archive, its bytes.
// False when its converted name is taken by an earlier page or its bytes
// cannot be read (recorded, its units counted).
bool CBatchJob::ReadBookPage(BookRun& run, size_t i, std::set<std::string>& names,
                             FileProgress& progress, PageTask& task) {
  BookSource& book = *run.book;
  const BookEntry& be = book.Entries()[i];
  task.entry = i;
  task.page = be.pageIndex;
  task.entryName = book.IsPdf() ? PdfPageName(be.pageIndex, book.PageCount()) : be.entry.name;
  task.outName = WithExtension(
      m_settings->renumber ? PdfPageName(be.pageIndex, book.PageCount(), 4) : task.entryName,
      m_settings->newExtension);
  std::string_view failed;
  SourceError why = SourceError::kPageUnreadable;
  if (!names.insert(task.outName).second) {
    // Two pages that become one name ("a.jpg" and "a.png" into ".jpg").
    failed = kBatchNameTaken;
  } else if (book.IsPdf()) {
    if (task.memory = DrawnPageMemoryCost(book.DrawnPixels(be.pageIndex));
        task.memory > m_settings->bookPagesMemory) {
      failed = kBatchReadFailed;
      why = SourceError::kOverMemory;
    }
  } else {
    progress.Status(StatusLine::kOperation, EngineText(kBatchReading));
    if (const SourceError read = ReadPageEntry(book, i, task.bytes); read != SourceError::kNone) {
      failed = kBatchReadFailed;
      why = read;
    } else if (task.memory = PageMemoryCost(task.bytes);
               task.memory > m_settings->bookPagesMemory) {
      failed = kBatchReadFailed;
      why = SourceError::kOverMemory;
      task.bytes = {};
    }
  }
  if (failed.empty()) {
    // A page with its own settings: its name in the library is its entry's,
    // a PDF page's its number.
    const std::string name = book.IsPdf() ? std::to_string(be.pageIndex + 1) : be.entry.name;
    const bool joined = m_settings->stripCut > 0 && m_settings->stripJoin;
    if (const PageSlots* own = joined ? nullptr : run.inForce.PageOwn(name)) {
      task.own = run.params ? *run.params : m_enhance;
      for (const auto& [slot, value] : *own) task.own->Set(slot, value);
      run.pageSettings.emplace_back(name, PageSettingText(run.inForce.set, *own));
    }
    return true;
  }
  {
    std::lock_guard lock(run.mutex);
    run.failures.push_back(
        {i, {failed, run.source, FailedPageName(task.entryName, why, book.IsPdf())}});
  }
  progress.Advance(m_steps);
  return false;
}

// On the run's thread while a book's pages are converted: hands a page's
// task to the pool once there is room for it, passes the workers' progress
// on, reads the stop request and writes the slots that are ready, in order.
struct CBatchJob::SubmitPage {
  CBatchJob& job;
  BookRun& run;
  WorkerShared& shared;
  PagePool& pool;
  FileProgress& progress;
  FileProgress& pageProgress;
  size_t limit;  // pages in flight at most
  int reported = 0;

  void KeepUp(bool wait) {
    std::unique_lock lock(run.mutex);
    if (wait) run.changed.wait_for(lock, std::chrono::milliseconds(50));
    lock.unlock();
    std::string operation;
    {
      std::lock_guard sharedLock(shared.mutex);
      if (shared.operationChanged) operation.swap(shared.operation);
      shared.operationChanged = false;
    }
    if (!operation.empty()) progress.Status(StatusLine::kOperation, operation);
    const int units = shared.units.load(std::memory_order_relaxed);
    if (units != reported) {
      progress.Advance(units - reported);
      reported = units;
    }
    if (pool.Threaded() && !shared.stop.load() && progress.Stop()) shared.stop = true;
    job.WriteReadySlots(run);
  }
  void operator()(PageTask task, BookRun::Slot slot) {
    while (!shared.stop && !run.HasRoomFor(task.memory, limit)) KeepUp(true);
    {
      std::lock_guard lock(run.mutex);
      task.slot = run.first + run.slots.size();
      run.slots.push_back(std::move(slot));
      ++run.inFlight;
      run.memoryInFlight += task.memory;
    }
    pool.Submit(
        [this, task = std::move(task)]() mutable { job.ConvertBookPage(run, task, pageProgress); });
    KeepUp(false);
  }
};

// Reads the book's entries (what is not a page first, then the pages in
// reading order) and hands its pages to the workers, writing whatever is
// ready in order as it goes. False when the run was stopped.
bool CBatchJob::ConvertBookPages(BookRun& run, FileProgress& progress) {
  BookSource& book = *run.book;
  const int jobs = std::clamp(m_settings->jobs, 1, kMaxBatchJobs);
  WorkerShared shared;
  WorkerProgress workerProgress(shared);
  PagePool pool(jobs);
  FileProgress& pageProgress =
      pool.Threaded() ? static_cast<FileProgress&>(workerProgress) : progress;
  // At most this many pages' bytes in flight: the workers' and as many
  // waiting (what a job holds besides the read-ahead of the book).
  SubmitPage submit{*this,
                    run,
                    shared,
                    pool,
                    progress,
                    pageProgress,
                    static_cast<size_t>(pool.Threaded() ? 2 * jobs : 1)};
  std::optional<StripJoin> join;
  if (m_settings->stripCut > 0 && m_settings->stripJoin) {
    join.emplace(StripLimitOf(m_settings->stripCut, m_enhance));
    std::fill(run.pageOutputs.begin(), run.pageOutputs.end(), 0);
  }
  std::set<std::string> names;  // the converted book's names so far
  for (const size_t i : BookEntryOrder(book)) {
    const BookEntry& be = book.Entries()[i];
    const ArchiveEntry& e = be.entry;
    if (progress.Stop() || shared.stop.load()) {
      shared.stop = true;
      break;
    }
    BookRun::Slot slot;
    slot.mtime = book.IsPdf() ? run.pdfTime : (e.mtimeKnown ? e.mtime : 0);
    if (!be.page || e.unsafe || e.type != EntryType::kFile) {
      if (!run.TakeOtherEntry(i, slot, names)) continue;
    } else {
      PageTask task;
      if (!ReadBookPage(run, i, names, progress, task)) continue;
      if (join) {
        JoinBookPage(run, task, slot.mtime, *join, progress, submit);
        continue;
      }
      slot.name = task.outName;
      slot.page = true;
      slot.pageIndex = be.pageIndex;
      submit(std::move(task), std::move(slot));
      continue;
    }
    {
      std::lock_guard lock(run.mutex);
      run.slots.push_back(std::move(slot));
    }
    submit.KeepUp(false);
  }
  if (join && !shared.stop.load()) FlushStrip(run, *join, true, progress, submit);
  while (run.InFlight() > 0) submit.KeepUp(true);
  submit.KeepUp(false);
  return !shared.stop.load() && !Stopped();
}

// A page of a book whose pages are joined into a strip: decoded here, in
// the book's order, and added to the strip; each page the strip's cuts now
// give is handed on as a task of its own ("book_001", or renumbered
// "0001"), in order. The page's own units stand for its read; each page
// cut takes a page's units.
void CBatchJob::JoinBookPage(BookRun& run, PageTask& task, int64_t mtime, StripJoin& join,
                             FileProgress& progress, SubmitPage& submit) {
  DibImage image;
  int grey = 0;
  const SourceError e =
      task.Load(*run.book, image, grey, *m_settings, run.Settings() ? *run.Settings() : m_enhance);
  task.bytes = {};
  if (e != SourceError::kNone) {
    progress.Advance(m_steps);
    task.why = e;
    std::lock_guard lock(run.mutex);
    run.failures.push_back({task.entry, {kBatchReadFailed, run.source, task.FailedName(run)}});
    return;
  }
  ++join.slicesRead;
  join.grey = join.grey && grey != 0;
  join.mtime = std::max(join.mtime, mtime);
  join.slices.push_back({join.rows, task.page});
  join.rows += image.Height();
  if (!join.cutter.Add(std::move(image), join.ready)) {
    task.why = SourceError::kOverMemory;
    std::lock_guard lock(run.mutex);
    run.failures.push_back({task.entry, {kBatchReadFailed, run.source, task.FailedName(run)}});
    return;
  }
  FlushStrip(run, join, false, progress, submit);
}

// Hands on the strip's pages whose cuts are placed (all of them, at the
// book's end).
void CBatchJob::FlushStrip(BookRun& run, StripJoin& join, bool end, FileProgress& progress,
                           SubmitPage& submit) {
  if (end && !join.cutter.Finish(join.ready)) {
    std::lock_guard lock(run.mutex);
    run.failures.push_back({run.book->Entries().size(),
                            {kBatchReadFailed, run.source,
                             std::string(SourceErrorText(SourceError::kOverMemory, false))}});
  }
  std::string stem = run.target.filename().string();
  if (BookIsOneFile(run.output))
    stem.resize(stem.size() - BookKindRowOf(run.output).extension.size());
  for (StripPiece& piece : join.ready) {
    const size_t n = join.pieces++;
    // Which page of the book the piece begins in (for its ComicInfo.xml).
    while (join.slice + 1 < join.slices.size() && join.slices[join.slice + 1].first <= piece.top) {
      ++join.slice;
    }
    const size_t page = join.slices.empty() ? 0 : join.slices[join.slice].second;
    PageTask task;
    task.entry = run.book->Entries().size() + n;
    task.page = SIZE_MAX;  // its outputs are counted here
    task.outName = (m_settings->renumber ? PdfPageName(n, n + 1, 4) : StripPageStem(stem, n + 1)) +
                   m_settings->newExtension;
    task.entryName = task.outName;
    task.cuts = piece.Fields();
    task.piece = std::move(piece.image);
    task.pieceGrey = join.grey;
    task.memory = PictureMemoryCost(task.piece);
    if (page < run.pageOutputs.size() && run.pageOutputs[page] < 255) ++run.pageOutputs[page];
    BookRun::Slot slot;
    slot.name = task.outName;
    slot.page = true;
    slot.pageIndex = n;
    slot.mtime = join.mtime;
    // Each page cut takes a page's units: the book's range grows when
    // there are more of them than pages read.
    if (join.pieces > join.slicesRead) progress.Grow(m_steps);
    submit(std::move(task), std::move(slot));
  }
  join.ready.clear();
  if (end && join.pieces < join.slicesRead) {
    progress.Advance(static_cast<int>(join.slicesRead - join.pieces) * m_steps);
  }
}

// Decodes a book's page: a PDF page rendered, an archive page from its
// bytes. Why it cannot be read, or kNone.
SourceError CBatchJob::PageTask::Load(BookSource& book, DibImage& image, int& grey,
                                      const BatchSettings& settings,
                                      const EnhanceSettings& params) {
  try {
    if (book.IsPdf()) return book.LoadPage(page, image, &grey);
    if (batch_detail::LoadGreyPageMemory(bytes, entryName, fs::path("page" + settings.newExtension),
                                         settings, params, image)) {
      grey = 1;
      return SourceError::kNone;
    }
    return LoadImageMemory(bytes.data(), bytes.size(), entryName, image, &grey, &status) != 0
               ? SourceError::kNone
               : PageErrorOf(status);
  } catch (const std::bad_alloc&) {
    return SourceError::kOverMemory;
  } catch (const std::exception&) {
    return SourceError::kPageUnreadable;
  }
}

// What saving a page wrote, under the page's name (or the names of the two
// pages of a split spread): for a CBZ the files' bytes, read back and the
// files removed, and the automatic steps' findings of each. False when
// the save or a read back failed.
bool CBatchJob::BookRun::TakeSavedPages(const FileOutcome& saved, const fs::path& page,
                                        const std::string& outName, bool cbz,
                                        std::vector<Slot::File>& files,
                                        std::vector<std::pair<std::string, std::string>>& report) {
  // A page saved as several ("_1", "_2" of a spread, "_001" ... of a
  // strip) keeps the suffixes its files were given.
  auto nameOf = [&saved, &page, &outName](size_t i) {
    const std::string stem = saved.written[i].stem().string();
    const std::string suffix = stem.substr(std::min(stem.size(), page.stem().string().size()));
    const fs::path out(outName);
    return ((out.parent_path() / out.stem()).string() + suffix) + out.extension().string();
  };
  bool ok = saved.kind == FileOutcome::kConverted;
  std::error_code ec;
  for (size_t i = 0; cbz && i < saved.written.size(); ++i) {
    Slot::File file{nameOf(i), {}};
    ok = ReadFileBytes(saved.written[i], kMaxPageFileBytes * 4, file.bytes) && ok;
    fs::remove(saved.written[i], ec);
    files.push_back(std::move(file));
  }
  for (size_t i = 0; i < saved.report.size() && i < saved.written.size(); ++i) {
    report.emplace_back(nameOf(i), saved.report[i].second);
  }
  return ok;
}

// One page on a worker (or on the run's thread with one job): decoded,
// enhanced and saved into the work folder; for a CBZ its bytes go to the
// slot and the file is removed.
// A page handed to the pool is done: its slot ready (or failed, recorded).
void CBatchJob::BookRun::FinishPage(PageTask& task, bool failed, std::string_view prefix,
                                    std::vector<Slot::File> files,
                                    std::vector<std::pair<std::string, std::string>> findings) {
  task.finished = true;
  {
    std::lock_guard lock(mutex);
    Slot& slot = At(task.slot);
    slot.ready = true;
    slot.failed = failed;
    slot.files = std::move(files);
    slot.report = std::move(findings);
    if (!failed && task.page < pageOutputs.size()) pageOutputs[task.page] = task.outputs;
    if (failed) failures.push_back({task.entry, {prefix, source, task.FailedName(*this)}});
    Finished(task.memory);
  }
  changed.notify_one();
}

// A page on a worker: whatever runs out of memory fails the page, never
// leaves the thread.
void CBatchJob::ConvertBookPage(BookRun& run, PageTask& task, FileProgress& progress) {
  try {
    ConvertBookPageSteps(run, task, progress);
  } catch (const std::bad_alloc&) {
    if (task.finished) return;
    task.why = SourceError::kOverMemory;
    run.FinishPage(task, true, kBatchReadFailed);
  }
}

void CBatchJob::ConvertBookPageSteps(BookRun& run, PageTask& task, FileProgress& progress) {
  using File = BookRun::Slot::File;
  auto finish = [&run, &task](bool failed, std::string_view prefix, std::vector<File> files = {},
                              std::vector<std::pair<std::string, std::string>> report = {}) {
    run.FinishPage(task, failed, prefix, std::move(files), std::move(report));
  };
  if (progress.Stop()) {
    finish(true, kBatchReadFailed);
    return;
  }
  if (!task.piece.IsEmpty()) {
    ConvertStripPiece(run, task, progress);
    return;
  }
  std::vector<uint8_t> streamed;
  ReadNotes notes;
  if (const std::optional<RowsEnd> end = ConvertBookPageByRows(run, task, progress, streamed)) {
    // Rows flowed: what stopped them is damage unless the decoder said.
    notes.NoteIfNone(ReadError::kDamaged);
    if (*end == RowsEnd::kUnreadable) task.status = notes.Status();
    std::vector<File> files;
    if (*end == RowsEnd::kWritten && BookIsOneFile(run.output)) {
      files.push_back({task.outName, std::move(streamed)});
    }
    const bool unreadable = *end == RowsEnd::kUnreadable || *end == RowsEnd::kOutOfMemory;
    if (*end == RowsEnd::kOutOfMemory) task.why = SourceError::kOverMemory;
    finish(*end != RowsEnd::kWritten, unreadable ? kBatchReadFailed : kBatchWriteFailed,
           std::move(files));
    return;
  }
  DibImage image;
  int grey = 0;
  if (const SourceError e = task.Load(*run.book, image, grey, *m_settings, PageParams(run, task));
      e != SourceError::kNone ||
      (run.book->IsPdf() && !run.Rehold(task.memory, PictureMemoryCost(image)))) {
    task.why = e != SourceError::kNone ? e : SourceError::kOverMemory;
    image.Clear();
    progress.Advance(m_steps);
    finish(true, kBatchReadFailed);
    return;
  }
  progress.Advance(1);
  const bool cbz = BookIsOneFile(run.output);
  if (m_settings->skipColour && !image.IsGrey() && !run.book->IsPdf()) {
    // A colour page is kept as it is, under its own name.
    progress.Advance(kUnitsAfterRead);
    bool ok = true;
    std::vector<File> files;
    if (cbz) {
      files.push_back({task.entryName, std::move(task.bytes)});
    } else {
      const fs::path copy = run.work / task.entryName;
      std::error_code ec;
      fs::create_directories(copy.parent_path(), ec);
      ok = WriteFileBytesSafely(copy, task.bytes.data(), task.bytes.size());
    }
    finish(!ok, kBatchWriteFailed, std::move(files));
    return;
  }
  // The JPEG clean-up follows the page's own table, as for a loose file.
  const std::optional<JpegQuantisers> tables = JpegTablesOf(task.bytes);
  task.bytes.clear();
  task.bytes.shrink_to_fit();
  const int mode = ResolveKeepAsIs(PageColourMode(run, task), grey != 0);
  const fs::path page = cbz ? run.work / (std::to_string(task.slot) + m_settings->newExtension)
                            : run.work / task.outName;
  if (std::error_code ec; !cbz) fs::create_directories(page.parent_path(), ec);
  FileOutcome saved{FileOutcome::kWriteFailed, page};
  try {
    saved = SaveEnhanced(image, mode, run.source, page, progress, false, &PageParams(run, task),
                         tables ? &*tables : nullptr, PageJpegQuality(run, task));
  } catch (const std::exception&) {
    saved = {FileOutcome::kWriteFailed, page};
  }
  image.Clear();
  std::vector<File> files;
  std::vector<std::pair<std::string, std::string>> report;
  const bool ok = BookRun::TakeSavedPages(saved, page, task.outName, cbz, files, report);
  task.outputs = static_cast<uint8_t>(std::clamp<size_t>(saved.written.size(), 1, 255));
  finish(!ok, kBatchWriteFailed, std::move(files), std::move(report));
}

// A page cut from a joined strip on a worker: enhanced and saved as a
// page read from the book is.
void CBatchJob::ConvertStripPiece(BookRun& run, PageTask& task, FileProgress& progress) {
  progress.Advance(1);
  const bool cbz = BookIsOneFile(run.output);
  const int mode = ResolveKeepAsIs(PageColourMode(run, task), task.pieceGrey);
  const fs::path page = cbz ? run.work / (std::to_string(task.slot) + m_settings->newExtension)
                            : run.work / task.outName;
  FileOutcome saved{FileOutcome::kWriteFailed, page};
  try {
    saved = SaveEnhanced(task.piece, mode, run.source, page, progress, false, run.Settings(),
                         nullptr, PageJpegQuality(run, task));
  } catch (const std::exception&) {
    saved = {FileOutcome::kWriteFailed, page};
  }
  task.piece.Clear();
  std::vector<BookRun::Slot::File> files;
  std::vector<std::pair<std::string, std::string>> report;
  const bool ok = BookRun::TakeSavedPages(saved, page, task.outName, cbz, files, report);
  for (auto& [name, fields] : report) fields += "\t" + task.cuts;
  run.FinishPage(task, !ok, kBatchWriteFailed, std::move(files), std::move(report));
}

// A page converted a band of rows at a time, as a loose page is when
// nothing needs the whole page (batch_rows.cpp): decoded from its bytes in
// memory and encoded into memory for a CBZ, or into its file in the work
// folder (the CBZ's bytes in `bytes`). The bytes are those of the
// whole-page way. None when the page does not stream (nothing done: the
// caller converts it whole).
std::optional<CBatchJob::RowsEnd> CBatchJob::ConvertBookPageByRows(BookRun& run, PageTask& task,
                                                                   FileProgress& progress,
                                                                   std::vector<uint8_t>& bytes) {
  // A book's own settings (its reading order, its attached set) and a
  // page's take the whole-page way.
  if (run.book->IsPdf() || run.params || task.own || !ConvertsByRows()) return std::nullopt;
  std::unique_ptr<PageRowReader> reader =
      OpenPageRowReaderMemory(task.bytes.data(), task.bytes.size(), task.entryName);
  if (reader == nullptr) return std::nullopt;
  const int mode = ResolveKeepAsIs(m_settings->colourMode, reader->GreySource());
  if (IsReducedMode(mode)) return std::nullopt;
  const bool cbz = BookIsOneFile(run.output);
  const int colourMode = mode == kGreyComic ? 1 : 0;
  std::unique_ptr<PageRowWriter> writer;
  if (cbz) {
    // About the page's own size: most conversions barely change it.
    bytes.reserve(task.bytes.size() + task.bytes.size() / 4);
    writer = OpenPageRowWriterMemory(bytes, fs::path(task.outName), reader->Width(),
                                     reader->Height(), colourMode, m_settings->jpegQuality);
  } else {
    const fs::path page = run.work / task.outName;
    std::error_code ec;
    fs::create_directories(page.parent_path(), ec);
    writer = OpenPageRowWriter(page, reader->Width(), reader->Height(), colourMode,
                               m_settings->jpegQuality);
  }
  if (writer == nullptr) return std::nullopt;
  return StreamRows(*reader, *writer, progress);
}

// Writes the slots from the first on while they are ready (a CBZ's entries
// in the archive's order; a folder's entries are in place already, its
// folders made here).
void CBatchJob::WriteReadySlots(BookRun& run) {
  for (;;) {
    BookRun::Slot slot;
    {
      std::lock_guard lock(run.mutex);
      if (run.slots.empty() || !run.slots.front().ready) return;
      slot = std::move(run.slots.front());
      run.slots.pop_front();
      ++run.first;
    }
    if (slot.failed && slot.page) {
      run.pageFailed = true;  // the book fails: what waits is dropped
      run.waiting.clear();
    }
    if (slot.failed || run.writeFailed) continue;
    for (auto& [name, fields] : slot.report) {
      run.report.emplace_back(fs::path(run.target.native() + ": " + name), std::move(fields));
    }
    if (slot.kind == BookRun::Slot::kFolder) {
      std::error_code ec;
      if (run.writer) {
        run.writeFailed = !run.writer->AddOther(slot.name, nullptr, 0, slot.mtime);
      } else {
        fs::create_directories(run.work / slot.name, ec);
      }
      continue;
    }
    if (slot.info && run.holdInfo && run.InfoFollowsPages(slot)) {
      run.heldInfo.push_back(std::move(slot));  // written when every page is known
      continue;
    }
    if (slot.page && run.writer) {
      run.WritePageInTurn(std::move(slot));
      continue;
    }
    run.WriteSlotFiles(slot);
  }
}

// A page into the book's file in its turn in the reading order: written
// now with the pages after it that wait, or kept until its turn.
void CBatchJob::BookRun::WritePageInTurn(Slot slot) {
  if (pageFailed) return;
  if (slot.pageIndex != nextPage) {
    HoldBack(slot);
    waiting.emplace(slot.pageIndex, std::move(slot));
    return;
  }
  WriteSlotFiles(slot);
  ++nextPage;
  for (auto it = waiting.begin(); it != waiting.end() && it->first == nextPage;
       it = waiting.erase(it), ++nextPage) {
    Slot& held = it->second;
    for (size_t i = 0; i < held.files.size(); ++i) {
      if (held.waitingFiles[i].empty()) {
        waitingBytes -= held.files[i].bytes.size();
        continue;
      }
      std::error_code ec;
      writeFailed =
          !ReadFileBytes(held.waitingFiles[i], kMaxPageFileBytes * 4, held.files[i].bytes) ||
          writeFailed;
      fs::remove(held.waitingFiles[i], ec);
    }
    WriteSlotFiles(held);
  }
}

// A page that waits for its turn keeps its bytes in memory while they fit
// the budget, else in files of the work folder.
void CBatchJob::BookRun::HoldBack(Slot& slot) {
  slot.waitingFiles.assign(slot.files.size(), {});
  for (size_t i = 0; i < slot.files.size(); ++i) {
    std::vector<uint8_t>& bytes = slot.files[i].bytes;
    if (waitingBytes + bytes.size() <= waitingBudget) {
      waitingBytes += bytes.size();
      continue;
    }
    slot.waitingFiles[i] =
        work / (".waiting-" + std::to_string(slot.pageIndex) + "-" + std::to_string(i));
    writeFailed =
        !WriteFileBytesSafely(slot.waitingFiles[i], bytes.data(), bytes.size()) || writeFailed;
    bytes = {};
  }
}

// A slot's files into the book's file, or (copied entries: a converted
// page's file is in place already) into the book's folder. A ComicInfo.xml
// is told the pages written.
void CBatchJob::BookRun::WriteSlotFiles(Slot& slot) {
  for (size_t i = 0; i < slot.files.size() && !writeFailed; ++i) {
    Slot::File& entry = slot.files[i];
    if (slot.info && !(writer && writer->TellsInfoItsPages())) {
      if (std::optional<std::string> info =
              ComicInfoForPages(entry.bytes.data(), entry.bytes.size(), pageOutputs)) {
        entry.bytes.assign(info->begin(), info->end());
      }
    }
    if (writer && slot.page) {
      // A split spread's pages (a strip's) keep their order within the page's place.
      writeFailed = !writer->AddPage(entry.name, slot.pageIndex * kPageOrderStep + i,
                                     entry.bytes.data(), entry.bytes.size(), slot.mtime);
    } else if (writer) {
      writeFailed =
          !writer->AddOther(entry.name, entry.bytes.data(), entry.bytes.size(), slot.mtime);
    } else {
      const fs::path path = work / entry.name;
      std::error_code ec;
      fs::create_directories(path.parent_path(), ec);
      writeFailed = !WriteFileBytesSafely(path, entry.bytes.data(), entry.bytes.size());
    }
  }
}

// A book that could not be written: a volume over the size limit says so.
CBatchJob::FileOutcome CBatchJob::BookNotWritten(const BookRun& run) {
  FileOutcome failed{FileOutcome::kWriteFailed, run.target};
  if (run.writer && run.writer->OverLimit()) {
    failed.lines.push_back(
        {kBatchWriteFailed, run.target, std::string(EngineText(kBatchVolumeOverLimit))});
    failed.code = kReasonVolumeOverLimit;
  }
  return failed;
}

// Every page converted: the CBZ committed, or the folder moved into place;
// otherwise nothing of the book appears, and the record names each failed
// page.
CBatchJob::FileOutcome CBatchJob::FinishBook(BookRun& run) {
  using Outcome = FileOutcome;
  std::error_code ec;
  auto dropWork = [&run, &ec] { fs::remove_all(run.work, ec); };
  if (!run.failures.empty()) {
    if (run.writer) run.writer->Discard();
    dropWork();
    // Read failures first: the book's own, then what could not be written;
    // each in the book's order (pages on workers finish in any order).
    std::sort(run.failures.begin(), run.failures.end(), [](const auto& a, const auto& b) {
      const bool aRead = a.second.prefix == kBatchReadFailed;
      const bool bRead = b.second.prefix == kBatchReadFailed;
      return aRead != bRead ? aRead : a.first < b.first;
    });
    const bool readFailed = run.failures.front().second.prefix == kBatchReadFailed;
    Outcome failed{readFailed ? Outcome::kReadFailed : Outcome::kWriteFailed,
                   readFailed ? run.source : run.target};
    for (auto& [entry, line] : run.failures) {
      if (line.prefix != kBatchReadFailed) line.path = run.target;
      failed.lines.push_back(std::move(line));
    }
    failed.code = kReasonPagesFailed;
    return failed;
  }
  // Every page came in its turn (none waits).
  if (!run.waiting.empty()) run.writeFailed = true;
  for (BookRun::Slot& held : run.heldInfo) run.WriteSlotFiles(held);
  bool written = !run.writeFailed;
  // A folder's files, relative: each is marked written, so a loose page
  // of the same name after the book is refused as a second source of it.
  std::vector<fs::path> folderFiles;
  uintmax_t folderBytes = 0;
  if (!run.writer && written) {
    for (fs::recursive_directory_iterator it(run.work, ec), end; !ec && it != end;
         it.increment(ec)) {
      if (!it->is_regular_file(ec) || it->is_symlink(ec)) continue;
      folderFiles.push_back(it->path().lexically_relative(run.work));
      const uintmax_t size = it->file_size(ec);
      folderBytes += ec ? 0 : size;
    }
    ec.clear();
  }
  if (run.writer) {
    written = written && run.writer->Close() && run.writer->Commit();
    if (!written) run.writer->Discard();
    dropWork();
  } else if (written) {
    const fs::file_status st = fs::symlink_status(run.target, ec);
    if (st.type() == fs::file_type::not_found) {
      fs::rename(run.work, run.target, ec);
      written = !ec;
      if (!written) dropWork();
    } else {
      // Never through a link, never over a file.
      written = st.type() == fs::file_type::directory && MergeFolder(run.work, run.target);
      dropWork();
    }
  } else {
    dropWork();
  }
  if (!written) return BookNotWritten(run);
  MarkWritten(run.target);
  if (run.writer) {
    for (const fs::path& volume : run.writer->Written()) MarkWritten(volume);
  }
  for (const fs::path& file : folderFiles) MarkWritten(run.target / file);
  return BookConverted(run, folderBytes);
}

// A book in place: recorded by its file (a book split into volumes by its
// first, a file that is there, so an earlier run's record finds it with
// --skip-existing), with its bytes and what was left out.
CBatchJob::FileOutcome CBatchJob::BookConverted(BookRun& run, uintmax_t folderBytes) {
  using Outcome = FileOutcome;
  std::error_code ec;
  const bool volumes = run.writer && !run.writer->Written().empty();
  Outcome converted{Outcome::kConverted, volumes ? run.writer->Written().front() : run.target};
  converted.bytesWritten = folderBytes;
  if (volumes) {
    for (const fs::path& volume : run.writer->Written()) {
      const uintmax_t size = fs::file_size(volume, ec);
      converted.bytesWritten += ec ? 0 : size;
    }
  }
  converted.report = std::move(run.report);
  // What was left out, counted by its reason.
  const std::pair<size_t, std::string_view> leftOut[] = {{run.leftOutUnsafe, kBatchBookLeftOut},
                                                         {run.leftOutLarge, kBatchBookTooLarge},
                                                         {run.leftOutTwice, kBatchBookNameTwice}};
  for (const auto& [count, text] : leftOut) {
    if (count == 0) continue;
    converted.leftOut += count;
    converted.lines.push_back(
        {"", run.source, std::to_string(count) + std::string(EngineText(text))});
  }
  return converted;
}

}  // namespace inkbrite
