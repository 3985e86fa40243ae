// SPDX-License-Identifier: GPL-2.0-or-later
#include "batch/batch_job.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <iterator>
#include <map>
#include <mutex>
#include <numeric>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "batch/attached_settings.h"
#include "batch/batch_job_pvt.h"
#include "batch/book_writer.h"
#include "batch/strip_pages.h"
#include "batch/work_list.h"
#include "core/auto_steps.h"
#include "core/enhance.h"
#include "core/learned.h"
#include "core/strip_cut.h"
#include "formats/file_probe.h"
#include "formats/format_table.h"
#include "formats/image_file.h"
#include "formats/jpeg/jpeg_codec.h"
#include "platform/ascii_case.h"
#include "platform/file_io.h"
#include "platform/out_of_memory.h"
#include "platform/program_paths.h"
#include "sources/page_source.h"

namespace inkbrite {

namespace fs = std::filesystem;
using batch_detail::IsSameFile;
using batch_detail::kUnitsAfterRead;
using batch_detail::LoadGreyPage;
using batch_detail::NameKey;
using batch_detail::PathFits;

namespace {

// A folder path with a trailing separator, as the relative paths below it
// are cut from it.
fs::path WithTrailingSeparator(fs::path dir) {
  if (!dir.native().empty() && dir.native().back() != '/') dir += "/";
  return dir;
}

// "name.ext", "name (2).ext", "name (3).ext", ...: the first name not taken
// in the folder; empty when every try is taken.
fs::path FreeName(const fs::path& wanted) {
  std::error_code ec;
  if (!fs::exists(wanted, ec) && !ec) return wanted;
  const std::string stem = wanted.stem().native();
  const std::string ext = wanted.extension().native();
  for (int n = 2; n < 10000; ++n) {
    std::string name = stem;
    name.append(" (").append(std::to_string(n)).append(")").append(ext);
    fs::path candidate = wanted.parent_path() / name;
    if (!fs::exists(candidate, ec) && !ec) return candidate;
  }
  return {};
}

// True when the two files hold the same bytes.
bool SameBytes(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  const uintmax_t size = fs::file_size(a, ec);
  if (ec || fs::file_size(b, ec) != size || ec) return false;
  std::FILE* fa = std::fopen(a.c_str(), "rb");
  std::FILE* fb = fa ? std::fopen(b.c_str(), "rb") : nullptr;
  bool same = fa != nullptr && fb != nullptr;
  char bufferA[65536], bufferB[65536];
  while (same) {
    const size_t got = std::fread(bufferA, 1, sizeof bufferA, fa);
    same = std::fread(bufferB, 1, sizeof bufferB, fb) == got &&
           std::equal(bufferA, bufferA + got, bufferB) && !std::ferror(fa) && !std::ferror(fb);
    if (got < sizeof bufferA) break;
  }
  if (fa) std::fclose(fa);
  if (fb) std::fclose(fb);
  return same;
}

// The failure words of a record line, without the colon.
std::string Reason(std::string_view prefix) {
  for (std::string_view colon : {"：", ": "}) {
    if (prefix.ends_with(colon)) prefix.remove_suffix(colon.size());
  }
  return std::string(prefix);
}

// A failed source's path in its record line, and why its reader failed
// when it said ("a.png: 文件已损坏或不完整").
fs::path WithReadReason(const fs::path& path, const ReadStatus& status) {
  if (!status.Failed()) return path;
  return fs::path(path.native() + ": " + ReadStatusText(status));
}

// A name in a text record's line: a line break in it (a file or entry name
// may hold one) is written as "\n" or "\r", so it cannot start a line.
std::string OneLine(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

// The modification time, or nothing.
std::optional<fs::file_time_type> WriteTime(const fs::path& path) {
  std::error_code ec;
  const fs::file_time_type time = fs::last_write_time(path, ec);
  if (ec) return std::nullopt;
  return time;
}

// Copies `source` byte for byte to `target` through a SafeFileWriter.
bool CopyFileSafely(const fs::path& source, const fs::path& target) {
  std::FILE* in = OpenRegularFile(source);
  if (in == nullptr) return false;
  SafeFileWriter writer(target);
  bool ok = writer.Open();
  char buffer[65536];
  while (ok) {
    size_t got = std::fread(buffer, 1, sizeof buffer, in);
    if (got > 0) ok = writer.Write(buffer, got);
    if (got < sizeof buffer) {
      ok = ok && !std::ferror(in);
      break;
    }
  }
  std::fclose(in);
  if (!ok) {
    writer.Discard();
    return false;
  }
  return writer.Commit();
}

// The name a file shares with every file it may touch: its folder and its
// name without the extension and without a trailing " (N)". A source, its
// target, the colour copy's free names "name (2).ext", ... and any source
// one of those would overwrite all map to one key.
std::string ChainKey(const fs::path& path) {
  return (path.parent_path() / StemWithoutCopyNumber(path.stem().native()))
      .lexically_normal()
      .native();
}

// Splits the files into chains of files sharing a key (union-find over the
// keys of the names each file touches: its source, its target and, when
// spreads are split, the target's two page names). Each chain lists its
// files in walk order; chains are ordered by their first file.
std::vector<std::vector<size_t>> SplitIntoChains(const std::vector<std::vector<fs::path>>& names) {
  const size_t n = names.size();
  std::vector<size_t> parent(n);
  std::iota(parent.begin(), parent.end(), size_t{0});
  auto find = [&parent](size_t i) {
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
  };
  std::unordered_map<std::string, size_t> owner;
  for (size_t i = 0; i < n; ++i) {
    for (const fs::path& name : names[i]) {
      auto [it, fresh] = owner.try_emplace(ChainKey(name), i);
      if (!fresh) {
        const size_t a = find(it->second), b = find(i);
        parent[std::max(a, b)] = std::min(a, b);  // the root is the earliest file
      }
    }
  }
  std::vector<std::vector<size_t>> chains;
  std::vector<size_t> chainOf(n);
  for (size_t i = 0; i < n; ++i) {
    const size_t root = find(i);
    if (root == i) {
      chainOf[i] = chains.size();
      chains.emplace_back();
    }
    chains[chainOf[root]].push_back(i);
  }
  return chains;
}

// With strips cut, a file's pages are "name_001" ...: a file whose name is
// such a page's of another file's target ("a_002.jpg" beside "a.jpg") also
// touches that target's name, so the two share a chain.
void AddStripPageNames(std::vector<std::vector<fs::path>>& names) {
  std::set<std::string> keys;
  for (const std::vector<fs::path>& file : names) {
    for (const fs::path& name : file) keys.insert(ChainKey(name));
  }
  for (std::vector<fs::path>& file : names) {
    const size_t count = file.size();
    for (size_t n = 0; n < count; ++n) {
      const std::string stem = file[n].stem().string();
      const size_t bar = stem.rfind('_');
      if (bar == std::string::npos || stem.size() - bar < 4 ||
          !std::all_of(stem.begin() + static_cast<ptrdiff_t>(bar) + 1, stem.end(),
                       [](char c) { return c >= '0' && c <= '9'; })) {
        continue;
      }
      const fs::path owner = file[n].parent_path() / (stem.substr(0, bar) + ".x");
      if (keys.contains(ChainKey(owner))) file.push_back(owner);
    }
  }
}

// The files a run with workers leaves to its own thread: the books, and the
// files whose source or target lies in the folder a book is unpacked into
// (--books folder), which must meet the book's pages in walk order.
std::vector<char> BooksAndTheirNeighbours(const std::vector<fs::path>& sources,
                                          const std::vector<fs::path>& targets,
                                          const std::vector<char>& books) {
  std::vector<char> deferred(sources.size(), 0);
  std::set<fs::path> bookFolders;
  for (size_t i = 0; i < sources.size(); ++i) {
    if (!books[i]) continue;
    deferred[i] = 1;
    bookFolders.insert(targets[i].lexically_normal());
  }
  if (bookFolders.empty()) return deferred;
  auto inBookFolder = [&bookFolders](const fs::path& path) {
    for (fs::path p = path.lexically_normal().parent_path(); !p.empty() && p != p.root_path();
         p = p.parent_path()) {
      if (bookFolders.count(p) != 0) return true;
    }
    return false;
  };
  for (size_t i = 0; i < sources.size(); ++i) {
    if (!deferred[i] && (inBookFolder(sources[i]) || inBookFolder(targets[i]))) deferred[i] = 1;
  }
  return deferred;
}

// Adds a folder that could not be listed, once.
void KeepUnreadable(std::vector<UnreadableFolder>* folders, const fs::path& folder,
                    const std::error_code& error) {
  if (folders == nullptr) return;
  for (const UnreadableFolder& f : *folders) {
    if (f.path == folder) return;
  }
  folders->push_back({folder, error});
}

// Lists the matching files in walk order; the stop check (if any) is asked
// after each file.
class FileLister : public CSrchDir {
 public:
  FileLister(const BatchStopCheck& stop, bool skipBooks, std::vector<UnreadableFolder>* unreadable)
      : m_stop(stop), m_skipBooks(skipBooks), m_unreadable(unreadable) {}
  std::vector<fs::path> files;

 protected:
  void OnFileFound(const fs::path& fullPath, const FindData& /*find*/) override {
    if (!m_skipBooks || !IsBatchBook(fullPath)) files.push_back(fullPath);
    if (m_stop && m_stop()) RequestStop();
  }
  void OnFolderUnreadable(const fs::path& folder, const std::error_code& error) override {
    KeepUnreadable(m_unreadable, folder, error);
  }

 private:
  const BatchStopCheck& m_stop;
  bool m_skipBooks;
  std::vector<UnreadableFolder>* m_unreadable;
};

// Counts the matching files, without the books when they are skipped.
class FileCounter : public CSrchDirCounter {
 public:
  FileCounter(bool skipBooks, std::vector<UnreadableFolder>* unreadable)
      : m_skipBooks(skipBooks), m_unreadable(unreadable) {}

 protected:
  void OnFileFound(const fs::path& fullPath, const FindData& find) override {
    if (!m_skipBooks || !IsBatchBook(fullPath)) CSrchDirCounter::OnFileFound(fullPath, find);
  }
  void OnFolderUnreadable(const fs::path& folder, const std::error_code& error) override {
    KeepUnreadable(m_unreadable, folder, error);
  }

 private:
  bool m_skipBooks;
  std::vector<UnreadableFolder>* m_unreadable;
};

// The folder a run takes its files from.
fs::path SourceFolder(const BatchSettings& settings, const BatchSelection* selection) {
  return selection ? selection->folder : settings.sourceDir;
}

}  // namespace

fs::path BatchPageTargetPath(const fs::path& target, int page) {
  fs::path name = target.stem();
  name += "_" + std::to_string(page);
  name += target.extension();
  return target.parent_path() / name;
}

fs::path StripPageTargetPath(const fs::path& target, size_t n) {
  fs::path name = StripPageStem(target.stem().string(), n);
  name += target.extension();
  return target.parent_path() / name;
}

fs::path BatchRelativePath(const fs::path& source, const fs::path& sourceDir) {
  fs::path relative = source.lexically_relative(sourceDir);
  if (relative.empty() || *relative.begin() == "..") relative = source.filename();
  return relative;
}

fs::path BatchTargetPath(const fs::path& source, const fs::path& sourceDir,
                         const fs::path& targetDir, std::string_view newExtension) {
  fs::path target = targetDir / BatchRelativePath(source, sourceDir);
  target.replace_extension(newExtension);
  return target;
}

fs::path BookTargetPath(const fs::path& source, const fs::path& sourceDir,
                        const fs::path& targetDir, BookOutput output) {
  std::error_code ec;
  if (fs::is_directory(source, ec)) {
    // A folder book: the folder's name with the kind's extension added (a
    // dot in it is kept); the source folder itself is named after itself.
    fs::path relative = source.lexically_normal().lexically_relative(sourceDir.lexically_normal());
    if (relative.empty() || relative == "." || *relative.begin() == "..") {
      fs::path name = source.lexically_normal();
      if (!name.has_filename()) name = name.parent_path();
      relative = name.filename().empty() ? fs::path("book") : name.filename();
    }
    fs::path target = targetDir / relative;
    if (BookIsOneFile(output)) target += std::string(BookKindRowOf(output).extension);
    return target;
  }
  fs::path target = targetDir / BatchRelativePath(source, sourceDir);
  target.replace_extension(BookIsOneFile(output) ? fs::path(BookKindRowOf(output).extension)
                                                 : fs::path());
  return target;
}

int SpreadPageFiles(const BatchSettings& settings) {
  return settings.spreadPages == SpreadPages::kBoth ? 3 : 2;
}

bool IsBatchBook(const fs::path& source) {
  FileProbe file(source);
  return IsBatchBook(file);
}

bool IsBatchBook(FileProbe& source) {
  std::error_code ec;
  return BookKindOf(source) != kFormatUnknown ||
         (!source.IsOpen() && fs::is_directory(source.Path(), ec));
}

void TakeBookSettings(const CParaBlock& block, BatchSettings& settings) {
  // A value beyond the row's range (a hand-edited file) is not taken either.
  const auto chosen = [&block](int slot, int& value) {
    value = block.GetValue(slot);
    return value >= 0 && value <= ParaSlotInfo(slot)->max;
  };
  int value = 0;
  if (chosen(kBookKind, value)) settings.books = static_cast<BookOutput>(value);
  if (chosen(kFolderBooks, value)) settings.folderBooks = value != 0;
  if (chosen(kSpreadPages, value)) settings.spreadPages = static_cast<SpreadPages>(value);
  if (chosen(kRenumber, value)) settings.renumber = value != 0;
}

bool MakesFolderBooks(const BatchSettings& settings) {
  // Joined strips: a folder of slices is one strip, its pages written as a
  // book of its kind or (--books folder) into a folder named after it.
  if (settings.stripJoin && settings.stripCut > 0) return settings.books != BookOutput::kSkip;
  return settings.folderBooks && BookIsOneFile(settings.books);
}

std::vector<std::string> FolderBookPages(const fs::path& folder, const BatchSettings& settings) {
  const BatchStopCheck none;
  FileLister lister(none, true, nullptr);
  lister.Init(settings.patterns, false, {});
  lister.Search(folder);
  std::vector<std::string> names;
  std::set<std::string> seen;
  for (const fs::path& file : lister.files) {
    std::string name = file.filename().string();
    if (seen.insert(name).second) names.push_back(std::move(name));
  }
  return names;
}

fs::path BatchOutputPath(const fs::path& source, const fs::path& sourceDir,
                         const fs::path& targetDir, const BatchSettings& settings) {
  return BatchOutputPath(source, sourceDir, targetDir, settings, IsBatchBook(source));
}

fs::path BatchOutputPath(const fs::path& source, const fs::path& sourceDir,
                         const fs::path& targetDir, const BatchSettings& settings, bool book) {
  return book ? BookTargetPath(source, sourceDir, targetDir, settings.books)
              : BatchTargetPath(source, sourceDir, targetDir, settings.newExtension);
}

bool IsSameBatchFolder(const fs::path& a, const fs::path& b) {
  // Equal texts count as the same folder even when it is missing.
  if (a.native() == b.native()) return true;
  std::error_code ec;
  return fs::equivalent(a, b, ec) && !ec;
}

namespace {

// Each folder of pages once, where its first page was; books stay.
std::vector<fs::path> FolderBooksOf(std::vector<fs::path> listed) {
  std::vector<fs::path> files;
  std::set<fs::path> folders;
  for (fs::path& file : listed) {
    if (IsBookFile(file)) {
      files.push_back(std::move(file));
    } else if (fs::path folder = file.parent_path(); folders.insert(folder).second) {
      files.push_back(std::move(folder));
    }
  }
  return files;
}

}  // namespace

std::vector<fs::path> ListBatchFiles(const BatchSettings& settings, const BatchSelection* selection,
                                     const BatchStopCheck& stop,
                                     std::vector<UnreadableFolder>* unreadable) {
  const bool skipBooks = settings.books == BookOutput::kSkip;
  std::vector<fs::path> files;
  if (selection) {
    for (const fs::path& file : selection->files) {
      if (!skipBooks || !IsBatchBook(file)) files.push_back(file);
    }
  } else {
    const fs::path source = SourceFolder(settings, selection);
    if (source.empty()) return {};
    const bool same = IsSameBatchFolder(source, settings.targetDir);
    FileLister lister(stop, skipBooks, unreadable);
    lister.Init(settings.patterns, settings.includeSubdirs, same ? fs::path() : settings.targetDir);
    lister.Search(source);
    files = std::move(lister.files);
  }
  return MakesFolderBooks(settings) ? FolderBooksOf(std::move(files)) : files;
}

namespace {

// The relative paths the files' parts are keyed by: each file's own, except
// with --books folder, where a file in the folder a book is unpacked into
// (at any depth, the outermost such book first) takes the book's: the two
// write into one folder and must meet in one part, in walk order.
std::vector<fs::path> ShardKeyPaths(const std::vector<fs::path>& files, const fs::path& source,
                                    const BatchSettings& settings) {
  std::vector<fs::path> keys;
  keys.reserve(files.size());
  for (const fs::path& file : files) keys.push_back(BatchRelativePath(file, source));
  if (settings.books != BookOutput::kFolder) return keys;
  std::map<fs::path, fs::path> bookFolders;  // the folder (relative) -> its book
  for (size_t i = 0; i < files.size(); ++i) {
    if (IsBatchBook(files[i])) {
      bookFolders.emplace(fs::path(keys[i]).replace_extension().lexically_normal(), keys[i]);
    }
  }
  if (bookFolders.empty()) return keys;
  for (fs::path& key : keys) {
    fs::path folder;
    const fs::path normal = key.lexically_normal();
    for (auto part = normal.begin(); part != normal.end(); ++part) {
      if (std::next(part) == normal.end()) break;  // the name itself
      folder /= *part;
      const auto book = bookFolders.find(folder);
      if (book != bookFolders.end()) {
        key = book->second;
        break;
      }
    }
  }
  return keys;
}

}  // namespace

std::vector<BatchWorkItem> BatchWorkList(const BatchSettings& settings,
                                         const BatchSelection* selection,
                                         const BatchStopCheck& stop, size_t* wholeJob,
                                         std::vector<UnreadableFolder>* unreadable) {
  const fs::path source = SourceFolder(settings, selection);
  const std::vector<fs::path> files = ListBatchFiles(settings, selection, stop, unreadable);
  if (wholeJob) *wholeJob = files.size();
  std::vector<BatchWorkItem> items;
  if (!settings.shard.Given()) {
    items.reserve(files.size());
    for (size_t i = 0; i < files.size(); ++i) items.push_back({i, files[i]});
    return items;
  }
  const std::vector<fs::path> keys = ShardKeyPaths(files, source, settings);
  items.reserve(files.size() / settings.shard.count + 1);
  for (size_t i = 0; i < files.size(); ++i) {
    if (ShardOfFile(keys[i], settings.shard.count) == settings.shard.index) {
      items.push_back({i, files[i]});
    }
  }
  return items;
}

std::string BatchSettingsFingerprint(const BatchSettings& settings, const EnhanceSettings& params) {
  std::string text;
  for (int slot = 0; slot < kParaSlotCount; ++slot) text += std::to_string(params[slot]) + ",";
  text += settings.newExtension + "," + std::to_string(settings.colourMode) + "," +
          std::to_string(settings.resizePercent) + "," + std::to_string(settings.jpegQuality) +
          "," + (settings.skipColour ? "1" : "0");
  static constexpr char kHex[] = "0123456789abcdef";
  const uint64_t hash = Fnv1a64(text);
  std::string hex(16, '0');
  for (int i = 0; i < 16; ++i) hex[static_cast<size_t>(i)] = kHex[(hash >> (60 - 4 * i)) & 0xF];
  return hex;
}

namespace {

// The ending that tells a written book's kind: ".kepub.epub", else its
// extension.
std::string BookKindEnding(const fs::path& file) {
  static constexpr std::string_view kKepub = ".kepub.epub";
  const std::string name = file.filename().string();
  if (name.size() > kKepub.size() && name.ends_with(kKepub)) return std::string(kKepub);
  return file.extension().string();
}

}  // namespace

fs::path DoneByEarlierRun(const EarlierRecords& earlier, const fs::path& source,
                          const fs::path& sourceDir, const fs::path& targetDir,
                          const BatchSettings& settings, const std::string& fingerprint) {
  const RecordEntry* entry = earlier.Find(BatchRelativePath(source, sourceDir).native());
  if (entry == nullptr || entry->settings != fingerprint || entry->target.empty() ||
      (entry->result != kResultConverted && entry->result != kResultCopied &&
       entry->result != kResultSkipped)) {
    return {};
  }
  const fs::path relative(entry->target);
  if (relative.is_absolute() ||
      std::any_of(relative.begin(), relative.end(), [](const fs::path& p) { return p == ".."; })) {
    return {};
  }
  fs::path written = targetDir / relative;
  std::error_code ec;
  const std::optional<fs::file_time_type> writtenTime = WriteTime(written);
  const std::optional<fs::file_time_type> sourceTime = WriteTime(source);
  if (!fs::is_regular_file(written, ec) || !writtenTime || !sourceTime ||
      *writtenTime <= *sourceTime) {
    return {};
  }
  // A book written as another kind (an earlier run's --books) is made again.
  if (IsBatchBook(source) &&
      BookKindEnding(written) !=
          BookKindEnding(BatchOutputPath(source, sourceDir, targetDir, settings, true))) {
    return {};
  }
  return written;
}

std::vector<fs::path> DoneByNewerTarget(const fs::path& source, const fs::path& sourceDir,
                                        const fs::path& targetDir, const BatchSettings& settings,
                                        bool splitSpreads) {
  const std::optional<fs::file_time_type> sourceTime = WriteTime(source);
  if (!sourceTime) return {};
  const bool book = IsBatchBook(source);
  auto newer = [&sourceTime, book, &settings](const fs::path& path) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    const bool kind = fs::is_regular_file(st) ||
                      (book && settings.books == BookOutput::kFolder && fs::is_directory(st));
    const std::optional<fs::file_time_type> time = WriteTime(path);
    return kind && time && *time > *sourceTime;
  };
  const fs::path target = BatchOutputPath(source, sourceDir, targetDir, settings);
  if (newer(target)) return {target};
  if (book && settings.bookMaxBytes != 0 && BookIsOneFile(settings.books)) {
    // Written as volumes: "NAME Vol. 1.ext" and those after it, each newer.
    std::vector<fs::path> volumes;
    for (size_t n = 1;; ++n) {
      fs::path volume = BookVolumePath(target, settings.books, n);
      std::error_code ec;
      if (!fs::exists(fs::symlink_status(volume, ec))) break;
      if (!newer(volume)) return {};
      volumes.push_back(std::move(volume));
    }
    if (!volumes.empty()) return volumes;
  }
  if (!book && splitSpreads) {
    std::vector<fs::path> pages;
    for (int page = 1; page <= SpreadPageFiles(settings); ++page) {
      pages.push_back(BatchPageTargetPath(target, page));
    }
    if (std::all_of(pages.begin(), pages.end(), newer)) return pages;
  }
  return {};
}

namespace {

// A folder (not a link) named as our temporary files are, whose writer is
// gone by IsStaleTempFile's rule: a book being converted when its run was
// killed (its pages, or its folder being filled).
bool IsStaleTempFolder(const fs::path& path) {
  const std::optional<TempFileOrigin> origin = TempFileOriginOf(path.filename().native());
  std::error_code ec;
  if (!origin || fs::is_symlink(path, ec) || !fs::is_directory(path, ec)) return false;
  if (origin->machine.empty() || origin->machine == ThisMachineTag()) {
    return !ProcessIsRunning(origin->pid);
  }
  const auto written = fs::last_write_time(path, ec);
  return !ec && fs::file_time_type::clock::now() - written >
                    std::chrono::seconds(kForeignTempFileAgeSeconds);
}

}  // namespace

int RemoveStaleTemporaries(const fs::path& folder) {
  int removed = 0;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code removeError;
    if (IsStaleTempFile(it->path())) {
      removed += fs::remove(it->path(), removeError) ? 1 : 0;
    } else if (IsStaleTempFolder(it->path())) {
      removed += fs::remove_all(it->path(), removeError) > 0 ? 1 : 0;
    }
  }
  return removed;
}

int CountExistingTargets(const BatchSettings& settings, const BatchSelection* selection,
                         const BatchStopCheck& stop) {
  const fs::path source = SourceFolder(settings, selection);
  std::set<fs::path> seen;
  int existing = 0;
  for (const fs::path& file : ListBatchFiles(settings, selection, stop)) {
    const fs::path target = NameKey(BatchOutputPath(file, source, settings.targetDir, settings));
    if (!seen.insert(target).second) continue;
    if (settings.ownFiles && settings.ownFiles->count(target)) continue;
    std::error_code ec;
    if (fs::exists(target, ec) && !IsSameFile(file, target)) ++existing;
  }
  return existing;
}

std::string BatchSummaryText(int total, int converted) {
  return EngineTextArgs(INKBRITE_TEXT("batch", "%1个文件需要转换，\n%2个文件转换成功。"),
                        {std::to_string(total), std::to_string(converted)});
}

std::string BatchReplaceQuestion(int existing) {
  return EngineTextArgs(
      INKBRITE_TEXT("batch", "目标目录中已有%1个同名文件，它们将被转换后的文件所覆盖。要继续吗？"),
      {std::to_string(existing)});
}

CBatchJob::CBatchJob() = default;

CBatchJob::~CBatchJob() {
  // A run unwound by an exception keeps the failures recorded so far.
  if (m_record) m_record->Commit();
}

void CBatchJob::HostAdvance(int units) {
  m_progressDone += units;
  m_host->AdvanceProgress(units);
}

bool CBatchJob::StopCheck() {
  if (m_host->PumpAndCheckStop()) {
    RequestStop();
    return true;
  }
  return false;
}

void CBatchJob::RecordLine(size_t index, std::string_view prefix, const fs::path& path,
                           const fs::path& target) {
  if (!m_record || m_settings->recordFormat != RecordFormat::kText) return;
  // A line that cannot be written is lost; the run goes on.
  std::string line;
  if (m_settings->shard.Given()) line = std::to_string(index) + "\t";
  line += EngineText(prefix);
  line += OneLine(path.native());
  if (!target.empty()) {
    line += " → ";
    line += OneLine(target.native());
  }
  line += '\n';
  WriteRecord(line);
}

// A record's line, on disk at once: a killed run's temporary record tells
// what it did. The first failure is kept for the summary (the record is then
// not committed: the earlier one stays whole).
void CBatchJob::WriteRecord(const std::string& text) {
  std::lock_guard lock(m_recordMutex);
  if (!m_record) return;
  errno = 0;
  if ((!m_record->Write(text.data(), text.size()) || std::fflush(m_record->Stream()) != 0) &&
      m_recordError.empty()) {
    m_recordError = std::system_category().message(errno != 0 ? errno : EIO);
  }
}

void CBatchJob::RecordJson(size_t index, const fs::path& source, const FileOutcome& outcome) {
  if (!m_record || m_settings->recordFormat != RecordFormat::kJsonLines) return;
  using Outcome = FileOutcome;
  auto belowTarget = [this](const fs::path& p) {
    const fs::path relative = p.lexically_relative(m_target);
    return (relative.empty() || *relative.begin() == "..") ? p.native() : relative.native();
  };
  RecordEntry entry;
  entry.index = static_cast<int64_t>(index);
  entry.source = BatchRelativePath(source, m_source).native();
  entry.bytesRead = outcome.bytesRead;
  entry.bytesWritten = outcome.bytesWritten;
  entry.ms = outcome.ms;
  entry.settings = m_fingerprint;
  switch (outcome.kind) {
    case Outcome::kConverted: entry.result = kResultConverted; break;
    case Outcome::kCopied: entry.result = kResultCopied; break;
    case Outcome::kSkipped: entry.result = kResultSkipped; break;
    case Outcome::kReadFailed:
      entry.result = kResultReadFailed;
      entry.reason = Reason(EngineText(kBatchReadFailed));
      if (outcome.status.Failed()) entry.reason += ": " + ReadStatusText(outcome.status);
      entry.reasonCode = kReasonUnreadable;
      break;
    case Outcome::kWriteFailed:
      entry.result = kResultWriteFailed;
      entry.reason = Reason(EngineText(kBatchWriteFailed));
      entry.reasonCode = kReasonNotWritten;
      break;
    case Outcome::kNameTaken:
      entry.result = kResultNameTaken;
      entry.reason = Reason(EngineText(kBatchNameTaken));
      entry.reasonCode = kReasonNameTaken;
      break;
    case Outcome::kOutOfMemory:
      entry.result = kResultOutOfMemory;
      entry.reason = Reason(EngineText(kBatchOutOfMemory));
      entry.reasonCode = kReasonOutOfMemory;
      break;
    case Outcome::kStopped: return;
  }
  if (!outcome.code.empty()) entry.reasonCode = outcome.code;
  if (!outcome.lines.empty()) {
    // A book: the first line's words, and every page (or reason) it names.
    entry.reason = outcome.lines.front().prefix.empty()
                       ? std::string()
                       : Reason(EngineText(outcome.lines.front().prefix));
    for (size_t i = 0; i < outcome.lines.size(); ++i) {
      entry.reason += (i == 0 ? ": " : ", ") + outcome.lines[i].what;
    }
  }
  if (outcome.kind == Outcome::kReadFailed || outcome.kind == Outcome::kOutOfMemory) {
    entry.target = belowTarget(BatchOutputPath(source, m_source, m_target, *m_settings));
  } else {
    entry.target = belowTarget(outcome.kind == Outcome::kNameTaken ? outcome.target : outcome.path);
  }
  for (const auto& [page, fields] : outcome.report) {
    if (!entry.findings.empty()) entry.findings += '\n';
    entry.findings += belowTarget(page) + "\t" + fields;
  }
  entry.attached = outcome.attached;
  for (const auto& [page, set] : outcome.pageSettings) {
    if (!entry.pageSettings.empty()) entry.pageSettings += '\n';
    entry.pageSettings.append(page).append("\t").append(set);
  }
  if (!outcome.fingerprint.empty()) entry.settings = outcome.fingerprint;
  WriteRecord(JsonRecordLine(entry));
}

// With --report, a text record's "自动处理：" lines for the pages a file wrote
// (a JSON record carries them in its "findings" member).
void CBatchJob::RecordFindings(size_t index, const FileOutcome& outcome) {
  if (!m_record || m_settings->recordFormat != RecordFormat::kText) return;
  if (!outcome.attached.empty()) {
    // "附加设置：vol1.cbz	manga（此系列）": the set the book's pages took.
    std::string line;
    if (m_settings->shard.Given()) line = std::to_string(index) + "\t";
    line += EngineText(kBatchAttachedSetting);
    line += OneLine(outcome.path.native()) + "\t" + outcome.attached + "\n";
    WriteRecord(line);
  }
  for (const auto& [page, set] : outcome.pageSettings) {
    // "附加设置：vol1.cbz	002.jpg	manga（此系列）＋此页：GreyScale=0".
    std::string line;
    if (m_settings->shard.Given()) line = std::to_string(index) + "\t";
    line += EngineText(kBatchAttachedSetting);
    line += OneLine(outcome.path.native()) + "\t" + OneLine(page) + "\t" + set + "\n";
    WriteRecord(line);
  }
  for (const auto& [page, fields] : outcome.report) {
    std::string line;
    if (m_settings->shard.Given()) line = std::to_string(index) + "\t";
    line += EngineText(kBatchFindings);
    line += OneLine(page.native());
    line += '\t';
    line += fields;
    line += '\n';
    WriteRecord(line);
  }
}

bool CBatchJob::WrittenByThisRun(const fs::path& path) {
  std::lock_guard lock(m_namesMutex);
  return m_written.count(NameKey(path)) != 0;
}

void CBatchJob::MarkWritten(const fs::path& path) {
  std::lock_guard lock(m_namesMutex);
  m_written.insert(NameKey(path));
}

// ---- the run ----

void CBatchJob::Run(BatchHost& host, const BatchSettings& settings,
                    const BatchSelection* selection) {
  StartRun(host, settings);
  if (!CheckSettings(selection)) return;
  const fs::path excluded = m_sameFolder ? fs::path() : m_target;
  if (!CountFiles(selection, excluded) || !ConfirmReplacing(selection)) return;
  const fs::path recordPath = StartConversion();
  ConvertFiles(selection, excluded);
  Finish(recordPath);
}

void CBatchJob::StartRun(BatchHost& host, const BatchSettings& settings) {
  m_host = &host;
  m_settings = &settings;
  m_params = settings.params ? settings.params : &AppParams();
  // One snapshot for the whole run: every file is made with one set.
  m_enhance = EnhanceSettings(*m_params);
  m_success = 0;
  m_total = 0;
  m_found = 0;
  m_skipped = 0;
  m_failed = 0;
  m_leftOut = 0;
  m_work.reset();
  m_wholeJob = 0;
  m_unreadable.clear();
  m_skipExisting = false;
  m_earlier = EarlierRecords();
  m_fingerprint.clear();
  m_source.clear();
  m_target.clear();
  m_sameFolder = false;
  m_record.reset();
  m_recordPath.clear();
  m_recordError.clear();
  m_written.clear();
  m_sweptFolders.clear();
}

// The refusals that end a run before anything is counted: no source or
// target folder, reduced colours into a format without a palette, e-book
// pages in a format EPUB does not take, and the
// same folder when the user does not want the sources overwritten.
bool CBatchJob::CheckSettings(const BatchSelection* selection) {
  m_source = SourceFolder(*m_settings, selection);
  if (m_source.empty()) {
    m_host->ShowMessage(EngineText(kBatchNoSourceMessage), MessageKind::kOk);
    return false;
  }
  m_target = m_settings->targetDir;
  if (m_target.empty()) {
    m_host->ShowMessage(EngineText(kBatchNoTargetMessage), MessageKind::kOk);
    return false;
  }
  if (!TakesReducedPages(m_settings->newExtension) && IsReducedMode(m_settings->colourMode)) {
    m_host->ShowMessage(EngineText(kBatchReducedNeedsPngMessage), MessageKind::kOk);
    return false;
  }
  if (!BookTakesPageExtension(m_settings->books, m_settings->newExtension)) {
    m_host->ShowMessage(EngineText(kBatchBookPagesMessage), MessageKind::kOk);
    return false;
  }
  if (IsSameBatchFolder(m_source, m_target)) {
    m_sameFolder = true;
    return m_host->ShowMessage(EngineText(kBatchSameFolderQuestion), MessageKind::kYesNo) ==
           MessageAnswer::kYes;
  }
  return true;
}

// The total: the picked files, or a count of the walk (stoppable). False,
// after saying so unless the count was stopped, when there is nothing to do.
bool CBatchJob::CountFiles(const BatchSelection* selection, const fs::path& excluded) {
  m_host->SetStatus(StatusLine::kOperation, EngineText(kBatchCounting));
  bool countStopped = false;
  if (m_settings->shard.Given()) {
    // A part: the whole job is listed, and the part's files are the total.
    size_t wholeJob = 0;
    m_work = BatchWorkList(
        *m_settings, selection,
        [this, &countStopped] { return countStopped = countStopped || m_host->PumpAndCheckStop(); },
        &wholeJob, &m_unreadable);
    if (countStopped) m_work.reset();
    // The folders that could not be listed are the first part's to record.
    if (m_settings->shard.index != 0) m_unreadable.clear();
    m_wholeJob = wholeJob;
    m_total = m_work ? static_cast<int>(m_work->size() + m_unreadable.size()) : 0;
    if (m_work && (wholeJob > 0 || !m_unreadable.empty())) return true;
  } else if (selection || MakesFolderBooks(*m_settings)) {
    m_total = static_cast<int>(ListBatchFiles(*m_settings, selection).size());
  } else {
    FileCounter counter(m_settings->books == BookOutput::kSkip, &m_unreadable);
    m_total =
        static_cast<int>(counter.Count(m_source, m_settings->patterns, m_settings->includeSubdirs,
                                       excluded, [this] { return m_host->PumpAndCheckStop(); }));
    countStopped = counter.Stopped();
    if (!countStopped) m_total += static_cast<int>(m_unreadable.size());
  }
  if (m_total > 0) return true;
  m_host->SetStatus(StatusLine::kOperation, "");
  if (!countStopped) m_host->ShowMessage(EngineText(kBatchNoFilesMessage), MessageKind::kOk);
  return false;
}

// The one question before replacing files the host did not write.
bool CBatchJob::ConfirmReplacing(const BatchSelection* selection) {
  if (!m_settings->askBeforeReplacing || m_sameFolder) return true;
  bool stopped = false;
  const int existing = CountExistingTargets(*m_settings, selection, [this, &stopped] {
    return stopped = stopped || m_host->PumpAndCheckStop();
  });
  if (!stopped && existing == 0) return true;
  if (!stopped && m_host->ShowMessage(BatchReplaceQuestion(existing), MessageKind::kYesNo) ==
                      MessageAnswer::kYes) {
    return true;
  }
  m_host->SetStatus(StatusLine::kOperation, "");
  return false;
}

// Folders with their separators, the progress range and the record (the
// target's and the record's folders cleared of what killed runs left);
// returns the record's path. Without a record the run goes on unrecorded.
fs::path CBatchJob::StartConversion() {
  m_source = WithTrailingSeparator(m_source);
  m_target = WithTrailingSeparator(m_target);
  m_steps = m_settings->resizePercent != 100 ? 13 : 12;
  m_progressUpper = (m_total + 1) * m_steps;
  m_progressDone = 0;
  m_host->SetProgressRange(m_progressUpper);
  SweepOnce(m_target);
  fs::path recordPath =
      m_settings->recordPath.empty() ? ProgramFilePath("_Rcd.txt") : m_settings->recordPath;
  m_fingerprint = BatchSettingsFingerprint(*m_settings, m_enhance);
  // What earlier runs did, read before their temporary records are swept.
  // Without a JSON record a file is done when its target is newer than it.
  const bool json = m_settings->recordFormat == RecordFormat::kJsonLines;
  m_skipExisting = m_settings->skipExisting && !m_sameFolder && (!json || !recordPath.empty());
  if (m_skipExisting && json) m_earlier.Read(recordPath);
  if (!recordPath.empty()) {
    RemoveStaleTemporaries(recordPath.parent_path().empty() ? fs::path(".")
                                                            : recordPath.parent_path());
    m_record = std::make_unique<SafeFileWriter>(recordPath);
    errno = 0;
    if (!m_record->Open()) {
      // The run goes on; the summary (and the converter's exit status) says
      // that it has no record.
      m_recordError = std::system_category().message(errno != 0 ? errno : EIO);
      m_record.reset();
    }
  } else {
    m_recordError = std::system_category().message(ENOENT);
  }
  m_recordPath = recordPath;
  return recordPath;
}

// One file at a time in walk order, or the same list on workers.
void CBatchJob::ConvertFiles(const BatchSelection* selection, const fs::path& excluded) {
  Init(m_settings->patterns, m_settings->includeSubdirs, excluded);
  const int jobs = std::clamp(m_settings->jobs, 1, kMaxBatchJobs);
  // The learned networks run each page on one thread while the run lasts,
  // so that its threads are its jobs: `--jobs 1` keeps to one core, more
  // jobs spread the pages over the cores (the viewer's pages have every
  // core again after it).
  struct OneThreadAPage {
    int before = SetLearnedThreadsPerPage(1);
    OneThreadAPage() = default;
    OneThreadAPage(const OneThreadAPage&) = delete;
    OneThreadAPage& operator=(const OneThreadAPage&) = delete;
    ~OneThreadAPage() { SetLearnedThreadsPerPage(before); }
  } oneThreadAPage;
  if (m_work) {
    m_found = static_cast<int>(m_work->size());
    if (jobs > 1) {
      ConvertWithWorkers(*m_work, jobs);
    } else {
      for (const BatchWorkItem& item : *m_work) {
        if (Stopped()) break;
        ConvertFile(item.index, item.source);
      }
    }
  } else if (jobs > 1) {
    std::vector<BatchWorkItem> items;
    for (fs::path& file : ListBatchFiles(*m_settings, selection, {}, &m_unreadable)) {
      items.push_back({items.size(), std::move(file)});
    }
    m_found = static_cast<int>(items.size());
    ConvertWithWorkers(items, jobs);
  } else if (selection || MakesFolderBooks(*m_settings)) {
    for (const fs::path& file : ListBatchFiles(*m_settings, selection)) {
      if (Stopped()) break;
      OnFileFound(file, FindData{});
    }
  } else {
    Search(m_source);
  }
  RecordUnreadableFolders();
}

void CBatchJob::OnFolderUnreadable(const fs::path& folder, const std::error_code& error) {
  KeepUnreadable(&m_unreadable, folder, error);
}

// The folders below the source that could not be listed: each a failure of
// the run, recorded after the files (in a part's record, indexed after the
// whole job's files).
void CBatchJob::RecordUnreadableFolders() {
  size_t index = m_settings->shard.Given() ? m_wholeJob : static_cast<size_t>(m_found);
  for (const UnreadableFolder& folder : m_unreadable) {
    ++m_found;
    ++m_failed;
    const std::string why = folder.error.message();
    RecordLine(index, kBatchFolderUnreadable, folder.path.native() + ": " + why);
    if (m_record && m_settings->recordFormat == RecordFormat::kJsonLines) {
      RecordEntry entry;
      entry.index = static_cast<int64_t>(index);
      entry.source = (BatchRelativePath(folder.path, m_source) / "").native();
      entry.result = kResultReadFailed;
      entry.reason = Reason(EngineText(kBatchFolderUnreadable)) + ": " + why;
      entry.reasonCode = kReasonFolderUnreadable;
      entry.settings = m_fingerprint;
      WriteRecord(JsonRecordLine(entry));
    }
    ++index;
  }
}

// The record closed, the summary shown (with the record offered after
// failures) and the host's lines cleared.
void CBatchJob::Finish(const fs::path& recordPath) {
  const bool stopped = Stopped();
  // The total the summary and the record answer for is the files the
  // conversion was handed. A page removed between the count and the walk
  // would otherwise be reported as a failure that the record cannot name
  // ("8 to convert, 6 converted" with an empty record), and one added would
  // give more successes than files. A stopped run keeps the count: the files
  // it never reached are still to be converted.
  if (!stopped) {
    m_host->SetProgressPosition(m_progressUpper);  // the end of the range set
    m_total = m_found;
  }
  if (m_record) {
    errno = 0;
    if (!m_record->Commit() && m_recordError.empty()) {
      m_recordError = std::system_category().message(errno != 0 ? errno : EIO);
    }
    m_record.reset();
  }

  std::string summary = BatchSummaryText(m_total, m_success);
  if (!m_recordError.empty()) {
    summary += EngineTextArgs(INKBRITE_TEXT("batch", "\n结果记录无法写入：%1（%2）"),
                              {recordPath.native(), m_recordError});
  }
  if (m_leftOut > 0) {
    summary += EngineTextArgs(INKBRITE_TEXT("batch", "\n书中有%1项已略去，见结果记录。"),
                              {std::to_string(m_leftOut)});
  }
  if (stopped) {
    summary += EngineText(kBatchStoppedSuffix);
    m_host->ShowMessage(summary, MessageKind::kOk);
  } else if (m_success == m_total) {
    m_host->ShowMessage(summary, MessageKind::kOk);
  } else {
    summary += EngineText(kBatchShowRecordQuestion);
    if (m_host->ShowMessage(summary, MessageKind::kYesNo) == MessageAnswer::kYes) {
      m_host->OpenWithShell(recordPath);
    }
  }

  m_host->SetStatus(StatusLine::kCurrentFile, "");
  m_host->SetStatus(StatusLine::kOperation, "");
  m_host->SetProgressPosition(0);
}

// ---- one file ----

void CBatchJob::OnFileFound(const fs::path& fullPath, const FindData& /*find*/) {
  if (m_settings->books == BookOutput::kSkip && IsBatchBook(fullPath)) return;
  ++m_found;
  ConvertFile(static_cast<size_t>(m_found - 1), fullPath);
}

void CBatchJob::ConvertFile(size_t index, const fs::path& source) {
  HostProgress progress(*this);
  ApplyOutcome(index, source, ConvertMeasured(source, progress));
}

void CBatchJob::ApplyOutcome(size_t index, const fs::path& source, const FileOutcome& outcome,
                             bool jsonWritten) {
  RecordFindings(index, outcome);
  m_leftOut += outcome.leftOut;
  // A book's own lines (a failed page each, the reason it was refused, or a
  // note on a book written) stand for the file's one line.
  const bool ownLines = !outcome.lines.empty();
  for (const FileOutcome::Line& line : outcome.lines) {
    RecordLine(index, line.prefix, line.path.native() + ": " + line.what);
  }
  switch (outcome.kind) {
    case FileOutcome::kSkipped: ++m_skipped; [[fallthrough]];
    case FileOutcome::kConverted:
    case FileOutcome::kCopied: ++m_success; break;
    case FileOutcome::kReadFailed:
      ++m_failed;
      if (!ownLines)
        RecordLine(index, kBatchReadFailed, WithReadReason(outcome.path, outcome.status));
      break;
    case FileOutcome::kWriteFailed:
      ++m_failed;
      if (!ownLines) RecordLine(index, kBatchWriteFailed, outcome.path);
      break;
    case FileOutcome::kNameTaken:
      ++m_failed;
      if (!ownLines) RecordLine(index, kBatchNameTaken, outcome.path, outcome.target);
      break;
    case FileOutcome::kOutOfMemory:
      ++m_failed;
      if (!ownLines) RecordLine(index, kBatchOutOfMemory, source);
      break;
    case FileOutcome::kStopped: break;
  }
  if (!jsonWritten) RecordJson(index, source, outcome);
}

// One file with what the record tells about it: skipped when an earlier run
// did it (--skip-existing), else converted; its sizes and time.
CBatchJob::FileOutcome CBatchJob::ConvertMeasured(const fs::path& source, FileProgress& progress) {
  const auto start = std::chrono::steady_clock::now();
  FileOutcome outcome;
  std::vector<fs::path> done;
  // With attached settings and a JSON record a book's own fingerprint: a
  // set changed since the record makes the book again. (Books are converted
  // on the run's thread, the one the library's state is used on.)
  std::string bookFingerprint;
  if (m_settings->useAttached && m_settings->recordFormat == RecordFormat::kJsonLines &&
      IsBatchBook(source)) {
    if (!m_library) m_library = std::make_shared<LibraryState>(m_settings->libraryStateFile);
    bookFingerprint = AttachedBookFingerprint(*m_library, *m_settings, *m_params, source);
    if (bookFingerprint == m_fingerprint) bookFingerprint.clear();
  }
  if (m_skipExisting) {
    if (progress.Stop()) return {FileOutcome::kStopped, {}};
    if (m_settings->recordFormat == RecordFormat::kJsonLines) {
      fs::path earlier =
          DoneByEarlierRun(m_earlier, source, m_source, m_target, *m_settings,
                           bookFingerprint.empty() ? m_fingerprint : bookFingerprint);
      if (!earlier.empty()) done.push_back(std::move(earlier));
    } else {
      done = DoneByNewerTarget(source, m_source, m_target, *m_settings,
                               m_params->GetValue(kSplitSpreads) != 0);
      // A target this run has written (or skipped) is another file's: this
      // one meets the clash rule, as in one uninterrupted run.
      if (!done.empty() && WrittenByThisRun(done.front()) && !IsSameFile(source, done.front())) {
        done.clear();
      }
    }
  }
  if (!done.empty()) {
    // Written for this run: a later file with the same target is refused as
    // it would be in one uninterrupted run.
    for (const fs::path& file : done) MarkWritten(file);
    SweepOnce(done.front().parent_path());
    progress.Advance(m_steps);
    FileOutcome skipped{FileOutcome::kSkipped, done.front()};
    skipped.fingerprint = bookFingerprint;
    return skipped;
  }
  try {
    outcome = ConvertOne(source, progress);
  } catch (const std::bad_alloc&) {
    // Out of memory where the file's own steps could not catch it (their
    // clean-up itself ran out): the file fails, the run goes on.
    outcome = {FileOutcome::kOutOfMemory, source};
  }
  RenewMemoryReserve();
  if (outcome.kind == FileOutcome::kStopped) return outcome;
  if (outcome.fingerprint.empty()) outcome.fingerprint = bookFingerprint;
  std::error_code ec;
  const uintmax_t read = fs::file_size(source, ec);
  outcome.bytesRead = ec ? 0 : read;
  // (A book's folder has its files' sizes already.)
  if ((outcome.kind == FileOutcome::kConverted || outcome.kind == FileOutcome::kCopied) &&
      outcome.bytesWritten == 0) {
    const uintmax_t written = fs::file_size(outcome.path, ec);
    outcome.bytesWritten = ec ? 0 : written;
  }
  outcome.ms = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - start)
                                         .count());
  return outcome;
}

CBatchJob::FileOutcome CBatchJob::ConvertOne(const fs::path& source, FileProgress& progress) {
  if (progress.Stop()) return {FileOutcome::kStopped, {}};
  // One open for the book test and the whole reading of a loose file; a
  // book opens its own reader.
  auto file = std::make_unique<FileProbe>(source);
  if (IsBatchBook(*file)) {
    file.reset();
    return ConvertBook(source, progress);
  }
  return ConvertLoose(*file, progress);
}

CBatchJob::FileOutcome CBatchJob::ConvertLoose(FileProbe& file, FileProgress& progress) {
  using Outcome = FileOutcome;
  const fs::path& source = file.Path();
  progress.Status(StatusLine::kCurrentFile, source.native());
  progress.Status(StatusLine::kOperation, EngineText(kBatchReading));
  // Converted a band of rows at a time when nothing needs the whole page.
  if (std::optional<FileOutcome> outcome = ConvertByRows(file, progress)) return *outcome;

  // A reader that throws (out of memory) fails the file alone. A grey page
  // written grey stays grey inside, one byte a pixel.
  DibImage image;
  int greySource = 0;
  int loaded = 0;
  ReadStatus status;
  try {
    const fs::path target = BatchTargetPath(source, m_source, m_target, m_settings->newExtension);
    if (LoadGreyPage(file, target, *m_settings, m_enhance, image)) {
      greySource = 1;
      loaded = 1;
    } else {
      loaded = LoadImageFile(file, image, &greySource, &status);
    }
  } catch (const std::bad_alloc&) {
    status = {ReadError::kOutOfMemory};
  } catch (const std::exception&) {
    loaded = 0;
  }
  if (!loaded) {
    progress.Advance(m_steps);
    Outcome failed{
        status.error == ReadError::kOutOfMemory ? Outcome::kOutOfMemory : Outcome::kReadFailed,
        source};
    failed.status = status;
    return failed;
  }
  // "Keep as is" is judged for each file.
  const int effectiveMode = ResolveKeepAsIs(m_settings->colourMode, greySource != 0);
  progress.Advance(1);
  if (progress.Stop()) return {Outcome::kStopped, {}};

  const fs::path target = BatchTargetPath(source, m_source, m_target, m_settings->newExtension);
  if (!PathFits(target)) {
    progress.Advance(kUnitsAfterRead);
    return {Outcome::kWriteFailed, target};
  }
  try {
    PrepareFolder(target.parent_path());
    if (m_settings->skipColour && !image.IsGrey()) {
      image.Clear();
      Outcome outcome{Outcome::kCopied, source};  // same folder: left untouched, as asked
      if (!m_sameFolder) {
        progress.Status(StatusLine::kOperation, EngineText(kBatchCopying));
        fs::path copyTarget = target;
        copyTarget.replace_extension(source.extension());
        outcome = CopyColourFile(source, copyTarget);
      }
      progress.Advance(kUnitsAfterRead);
      return outcome;
    }
    // The JPEG clean-up follows the source file's own table.
    JpegQuantisers tables;
    const bool known = m_enhance[kJpegCleanup] != 0 && ReadJpegQuantisers(file, tables);
    return WriteEnhanced(image, effectiveMode, source, target, progress, known ? &tables : nullptr);
  } catch (const std::bad_alloc&) {
    return {Outcome::kOutOfMemory, source};
  } catch (const std::exception&) {
    // A writer's library error (or lack of memory) fails this file only; the
    // written-through-a-temporary rule has left any previous file whole.
    return {Outcome::kWriteFailed, target};
  }
}

// The pipeline, then the reduced or the plain save; a target this run has
// written already is left as it is. The automatic source steps come first
// (all off by default): a spread they split is written as two pages,
// name_1 and name_2 in reading order, from one file's units of progress.
CBatchJob::FileOutcome CBatchJob::WriteEnhanced(DibImage& image, int mode, const fs::path& source,
                                                const fs::path& target, FileProgress& progress,
                                                const JpegQuantisers* quantisers) {
  using Outcome = FileOutcome;
  if (WrittenByThisRun(target) && !IsSameFile(source, target)) {
    progress.Advance(kUnitsAfterRead);
    return {Outcome::kNameTaken, source, target};
  }
  return SaveEnhanced(image, mode, source, target, progress, true, nullptr, quantisers);
}

// The source stage (which may split a spread into two pages), the pipeline,
// then the reduced or the plain save of each page. With `ownNames` the
// targets are the run's names (a second page's name already written is a
// clash, each page written is marked); a book's pages, saved into its
// temporary folder, keep their own names. `written` lists the files saved.
// Both stages read `sourceParams` when given (a book's own settings: its
// reading order, its attached set), else the run's settings.
CBatchJob::FileOutcome CBatchJob::SaveEnhanced(DibImage& image, int mode, const fs::path& source,
                                               const fs::path& target, FileProgress& progress,
                                               bool ownNames, const EnhanceSettings* sourceParams,
                                               const JpegQuantisers* quantisers, int jpegQuality) {
  if (jpegQuality < 0) jpegQuality = m_settings->jpegQuality;
  using Outcome = FileOutcome;
  if (m_settings->stripCut > 0 && !m_settings->stripJoin && image.Height() > StripRowsOf(image)) {
    return SaveStripPages(image, mode, source, target, progress, ownNames, sourceParams, quantisers,
                          jpegQuality);
  }
  // The pipeline in batch mode: one unit and one stop check a stage.
  EnhanceHooks hooks;
  hooks.mode = EnhanceMode::kBatch;
  hooks.progress = [&progress] { progress.Advance(1); };
  hooks.abortCheck = [&progress] { return progress.Stop() ? 1 : 0; };
  hooks.status = [&progress](std::string_view stage) {
    progress.Status(StatusLine::kOperation, stage);
  };
  DibImage more[2];
  PageFindings findings[3];
  const int pages = SourcePages(sourceParams ? *sourceParams : m_enhance, image, more, findings,
                                hooks, quantisers);
  if (pages == 0 || progress.Stop()) return {Outcome::kStopped, {}};
  const fs::path targets[3] = {pages > 1 ? BatchPageTargetPath(target, 1) : target,
                               BatchPageTargetPath(target, 2), BatchPageTargetPath(target, 3)};
  for (int i = 0; i < pages; ++i) {
    if (pages > 1 && !PathFits(targets[i])) {
      progress.Advance(kUnitsAfterRead);
      return {Outcome::kWriteFailed, targets[i]};
    }
    if (ownNames && pages > 1 && WrittenByThisRun(targets[i]) && !IsSameFile(source, targets[i])) {
      progress.Advance(kUnitsAfterRead);
      return {Outcome::kNameTaken, source, targets[i]};
    }
  }

  Outcome outcome{Outcome::kConverted, targets[0]};
  DibImage* page[3] = {&image, &more[0], &more[1]};
  for (int i = 0; i < pages; ++i) {
    const bool last = i + 1 == pages;
    // An existing read-only target is overwritten all the same.
    std::error_code ec;
    if (fs::exists(targets[i], ec)) {
      fs::permissions(targets[i], fs::perms::owner_write, fs::perm_options::add, ec);
    }
    EnhanceHooks pageHooks = hooks;
    if (i > 0) pageHooks.progress = nullptr;  // the first page's units stand for both
    pageHooks.findings = &findings[i];
    if (EnhanceImage(sourceParams ? *sourceParams : m_enhance, *page[i], pageHooks) != 0 ||
        progress.Stop()) {
      return {Outcome::kStopped, {}};
    }
    bool saved = false;
    progress.Status(StatusLine::kOperation, EngineText(kBatchReducing));
    // The viewer's Save writes a page through the same call.
    if (IsReducedMode(mode))
      saved = SavePageInColourMode(targets[i], *page[i], mode, false, 0, nullptr,
                                   m_settings->pageDeflateLevel) != 0;
    if (last) progress.Advance(1);
    if (!IsReducedMode(mode)) {
      progress.Status(StatusLine::kOperation, EngineText(kBatchSaving));
      saved = SavePageInColourMode(targets[i], *page[i], mode, false, jpegQuality) != 0;
    }
    if (last) progress.Advance(1);
    page[i]->Clear();
    if (!saved) {
      if (outcome.kind == Outcome::kConverted) outcome = {Outcome::kWriteFailed, targets[i]};
      continue;
    }
    if (ownNames) MarkWritten(targets[i]);
    outcome.written.push_back(targets[i]);
    if (m_settings->reportFindings)
      outcome.report.emplace_back(targets[i], FindingsFields(findings[i]));
  }
  return outcome;
}

// A page taller than the run's strip limit: cut into pages (strip_pages.h),
// "name_001" ... in reading order, each saved as a page of its own; the
// file's progress grows by the pages after the first. With --report each
// page's line says which rows of the strip it holds and, where its lower
// edge had to cut through the art, at which row.
CBatchJob::FileOutcome CBatchJob::SaveStripPages(DibImage& image, int mode, const fs::path& source,
                                                 const fs::path& target, FileProgress& progress,
                                                 bool ownNames, const EnhanceSettings* sourceParams,
                                                 const JpegQuantisers* quantisers,
                                                 int jpegQuality) {
  using Outcome = FileOutcome;
  std::vector<StripPiece> pieces;
  StripCutter cutter(StripLimitOf(m_settings->stripCut, m_enhance));
  const bool cut = cutter.Add(std::move(image), pieces) && cutter.Finish(pieces);
  if (!cut) {
    progress.Advance(kUnitsAfterRead);
    return {Outcome::kOutOfMemory, source};
  }
  std::vector<fs::path> targets;
  for (size_t i = 0; i < pieces.size(); ++i) {
    targets.push_back(StripPageTargetPath(target, i + 1));
    if (!PathFits(targets.back())) {
      progress.Advance(kUnitsAfterRead);
      return {Outcome::kWriteFailed, targets.back()};
    }
    if (ownNames && WrittenByThisRun(targets.back()) && !IsSameFile(source, targets.back())) {
      progress.Advance(kUnitsAfterRead);
      return {Outcome::kNameTaken, source, targets.back()};
    }
  }
  progress.Grow(static_cast<int>(pieces.size() - 1) * kUnitsAfterRead);
  Outcome outcome{Outcome::kConverted, targets[0]};
  for (size_t i = 0; i < pieces.size(); ++i) {
    const std::string cuts = pieces[i].Fields();
    // A page that does not begin on the source's 8-row JPEG blocks is not
    // told the source's table.
    Outcome page =
        SaveEnhanced(pieces[i].image, mode, source, targets[i], progress, ownNames, sourceParams,
                     pieces[i].top % 8 == 0 ? quantisers : nullptr, jpegQuality);
    pieces[i].image.Clear();
    if (page.kind == Outcome::kStopped) return page;
    if (page.kind != Outcome::kConverted && outcome.kind == Outcome::kConverted) outcome = page;
    outcome.written.insert(outcome.written.end(), page.written.begin(), page.written.end());
    for (auto& [path, fields] : page.report) {
      fields += '\t';
      fields += cuts;
      outcome.report.emplace_back(path, std::move(fields));
    }
  }
  return outcome;
}

// The rows a page of this width may take under the run's strip limit.
int32_t CBatchJob::StripRowsOf(const DibImage& image) const {
  const StripLimit limit = StripLimitOf(m_settings->stripCut, m_enhance);
  return StripSourceLimit(image.Width(), limit.targetHeight, limit.fitWidth, limit.fitHeight,
                          limit.percent);
}

// The source stage of a page (core/auto_steps.h): the pages it becomes,
// `image` the first and `more` the others, with what was found on each;
// with BatchSettings::spreadPages a spread is turned, or turned and split
// (see SpreadPages). `more` and `findings` hold two and three. 0 when
// stopped.
int CBatchJob::SourcePages(const EnhanceSettings& settings, DibImage& image, DibImage* more,
                           PageFindings* findings, const EnhanceHooks& hooks,
                           const JpegQuantisers* quantisers) const {
  const SpreadPages mode = m_settings->spreadPages;
  if (mode == SpreadPages::kSplit || settings[kSplitSpreads] == 0 || !image.Is24Bit() ||
      !FindSpread(image, SpreadReference(settings)).split) {
    const SourceStage stage = PrepareSourcePages(settings, image, more[0], findings, hooks.status,
                                                 hooks.abortCheck, quantisers);
    return stage.stopped != 0 ? 0 : stage.pages;
  }
  int pages = 1;
  if (mode == SpreadPages::kBoth) {
    DibImage first = image;
    const SourceStage split = PrepareSourcePages(settings, first, more[1], findings + 1,
                                                 hooks.status, hooks.abortCheck, quantisers);
    if (split.stopped != 0) return 0;
    more[0] = std::move(first);
    pages = 1 + split.pages;
  }
  // The page read first at the top: left to right the left page.
  if (!image.Rotate90(settings[kSplitRightToLeft] == 0)) return 0;
  EnhanceSettings whole = settings;
  whole.Set(kSplitSpreads, 0);
  DibImage none;
  PageFindings turned[2];
  const SourceStage stage =
      PrepareSourcePages(whole, image, none, turned, hooks.status, hooks.abortCheck, quantisers);
  findings[0] = turned[0];
  return stage.stopped != 0 ? 0 : pages;
}

CBatchJob::FileOutcome CBatchJob::CopyColourFile(const fs::path& source, const fs::path& wanted) {
  // A resumed run finds the copy an earlier run made (and could not record
  // before it was killed) under one of the names it would have taken.
  if (m_skipExisting) {
    fs::path candidate = wanted;
    std::error_code ec;
    for (int n = 2; n < 10000 && fs::exists(candidate, ec); ++n) {
      if (SameBytes(source, candidate)) {
        MarkWritten(candidate);
        return {FileOutcome::kSkipped, candidate};
      }
      candidate = wanted.parent_path() / (wanted.stem().native() + " (" + std::to_string(n) + ")" +
                                          wanted.extension().native());
    }
  }
  // The copy never replaces a file: a taken name gets " (2)", " (3)", ...
  const fs::path copyTarget = FreeName(wanted);
  // A failed copy is a failed file, not a success.
  if (!copyTarget.empty() && PathFits(copyTarget) && CopyFileSafely(source, copyTarget)) {
    MarkWritten(copyTarget);
    return {FileOutcome::kCopied, copyTarget};
  }
  return {FileOutcome::kWriteFailed, copyTarget.empty() ? wanted : copyTarget};
}

// Creates a folder the run writes into (a failure shows when the file is
// written; in same-folder mode every folder exists already).
void CBatchJob::PrepareFolder(const fs::path& folder) {
  if (!m_sameFolder) batch_detail::CreateFolders(folder);
  SweepOnce(folder);
}

// Removes what killed runs left in a folder, the first time this run meets it.
void CBatchJob::SweepOnce(const fs::path& folder) {
  {
    std::lock_guard lock(m_namesMutex);
    if (!m_sweptFolders.insert((folder / "").lexically_normal()).second) return;
  }
  RemoveStaleTemporaries(folder);
}

// ---- several files at once ----

void CBatchJob::ConvertWithWorkers(const std::vector<BatchWorkItem>& files, int jobs) {
  std::vector<fs::path> sources, targets;
  sources.reserve(files.size());
  targets.reserve(files.size());
  std::vector<std::vector<fs::path>> names;
  names.reserve(files.size());
  const bool split = m_enhance[kSplitSpreads] != 0;
  std::vector<char> books;  // IsBatchBook of each, tested once
  for (const BatchWorkItem& f : files) {
    sources.push_back(f.source);
    books.push_back(IsBatchBook(f.source) ? 1 : 0);
    targets.push_back(BatchOutputPath(f.source, m_source, m_target, *m_settings, books.back()));
  }
  // Books are converted on this thread afterwards, one at a time with their
  // pages on the workers, in walk order among the files they may touch.
  const std::vector<char> deferred = BooksAndTheirNeighbours(sources, targets, books);
  std::vector<size_t> loneIndex;
  for (size_t i = 0; i < files.size(); ++i) {
    if (deferred[i]) continue;
    loneIndex.push_back(i);
    names.push_back({sources[i], targets[i]});
    for (int page = 1; split && page <= SpreadPageFiles(*m_settings); ++page) {
      names.back().push_back(BatchPageTargetPath(targets[i], page));
    }
  }
  if (m_settings->stripCut > 0) AddStripPageNames(names);
  std::vector<std::vector<size_t>> chains = SplitIntoChains(names);
  for (std::vector<size_t>& chain : chains) {
    for (size_t& i : chain) i = loneIndex[i];
  }
  std::vector<FileOutcome> outcomes(files.size());

  WorkerShared shared;
  shared.done.assign(files.size(), 0);
  std::atomic<size_t> nextChain{0};
  auto work = [&] {
    WorkerProgress progress(shared);
    for (size_t c = nextChain.fetch_add(1); c < chains.size(); c = nextChain.fetch_add(1)) {
      for (size_t i : chains[c]) {
        FileOutcome outcome;
        try {
          outcome = ConvertMeasured(sources[i], progress);
        } catch (const std::exception&) {
          outcome = {FileOutcome::kWriteFailed, targets[i]};
        }
        // Its JSON line on disk as soon as its output is in place, not
        // once every earlier file is done: a killed run loses at most the
        // files in flight (the line carries its walk index).
        RecordJson(files[i].index, sources[i], outcome);
        outcomes[i] = std::move(outcome);
        shared.FileDone(i);
      }
    }
  };

  const size_t workerCount = std::min(static_cast<size_t>(jobs), chains.size());
  std::vector<std::thread> workers;
  workers.reserve(workerCount);
  try {
    for (size_t w = 0; w < workerCount; ++w) workers.emplace_back(work);
  } catch (const std::system_error&) {
    // No more threads: the ones started share the work; with none, this
    // thread does it all.
    if (workers.empty()) work();
  }
  size_t applied = WatchWorkers(shared, files, outcomes, loneIndex.size());
  for (std::thread& t : workers) t.join();

  HostProgress progress(*this);
  for (; applied < files.size(); ++applied) {
    if (deferred[applied]) {
      try {
        outcomes[applied] = ConvertMeasured(sources[applied], progress);
      } catch (const std::exception&) {
        outcomes[applied] = {FileOutcome::kWriteFailed, targets[applied]};
      }
    }
    ApplyOutcome(files[applied].index, files[applied].source, outcomes[applied],
                 !deferred[applied]);
  }
}

// The host's thread while the workers run: pumps events, reads the stop
// request, passes the workers' progress on and applies the outcomes (counts
// and record lines) in walk order as soon as every earlier file is done,
// until the `expected` files handed to the workers are done. Returns how
// many outcomes it applied (it stops before the first file left to this
// thread).
size_t CBatchJob::WatchWorkers(WorkerShared& shared, const std::vector<BatchWorkItem>& files,
                               const std::vector<FileOutcome>& outcomes, size_t expected) {
  int reported = 0;
  size_t applied = 0;
  std::vector<std::string> started;
  std::string operation;
  for (;;) {
    bool done = false, operationChanged = false;
    size_t ready = applied;
    {
      std::unique_lock lock(shared.mutex);
      shared.changed.wait_for(lock, std::chrono::milliseconds(50));
      done = shared.finished == expected;
      while (ready < files.size() && shared.done[ready]) ++ready;
      started.swap(shared.files);
      if (shared.operationChanged) {
        operation = shared.operation;
        shared.operationChanged = false;
        operationChanged = true;
      }
    }
    for (const std::string& file : started) m_host->SetStatus(StatusLine::kCurrentFile, file);
    started.clear();
    if (operationChanged) m_host->SetStatus(StatusLine::kOperation, operation);
    for (; applied < ready; ++applied) {
      ApplyOutcome(files[applied].index, files[applied].source, outcomes[applied], true);
    }
    const int units = shared.units.load(std::memory_order_relaxed);
    if (units != reported) {
      HostAdvance(units - reported);
      reported = units;
    }
    if (done) break;
    if (!shared.stop.load() && m_host->PumpAndCheckStop()) {
      RequestStop();
      shared.stop.store(true);
    }
  }
  return applied;
}

}  // namespace inkbrite
