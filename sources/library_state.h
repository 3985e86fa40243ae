// SPDX-License-Identifier: GPL-2.0-or-later
// The library's state: where the reader was in each folder and book (the
// viewer's reading places, browse/reading/reading_places.h) and the named
// settings attached to a series (a folder of books) or to a book, kept in
// one SQLite database in the per-user state folder
// ($XDG_STATE_HOME/inkbrite/library.db, or ~/.local/state/inkbrite/library.db),
// which the viewer and inkbrite-batch share.
//
// A book's place is known by its path and by its content key (its size and
// a hash of its first and last 64 KiB, BookContentKey): a book renamed or
// moved finds its place again, which then moves to the new path.
//
// Safety: every change is one transaction (a crash or a kill keeps the
// database as it was before or after it); another program holding the
// database is waited for up to kLibraryBusyMs. A file that is not a
// database, or a damaged one, is set aside under a name of its own
// ("library.db.damaged-TIME", kept, never deleted) and a new database is
// begun; a database that cannot be opened or written (locked, a read-only
// folder) leaves the state unavailable: Ok() is false, Error() says why in
// the user's words, and every call does nothing (a lookup finds nothing).
//
// Paths are stored as their bytes, absolute and lexically normal.
//
// Threads: one LibraryState is one thread's; several may be open on the
// same file (in one process or several).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct sqlite3;

namespace inkbrite {

inline constexpr int kLibraryBusyMs = 2000;

// What an attachment is attached to: a folder (its books and the books of
// the folders below it) or one book.
enum class AttachScope { kSeries, kBook };

// Where the reader was in a folder or book and how it was shown (see
// browse/reading/reading_places.h, whose ReadingPlace this is).
struct StoredPlace {
  std::string page;  // the page's file name in a folder, its entry in a book
  // How far in: the last page shown (1-based) of `count`, at `lastRead`
  // (seconds since the epoch); 0 when not known.
  int number = 0;
  int count = 0;
  int64_t lastRead = 0;
  bool layoutKnown = false;  // the layout below was chosen by the user
  bool twoPages = false;
  bool coverAlone = false;
  bool rightToLeft = false;
  int zoom = -1;  // ZoomCode's values, -1 when never chosen
  double zoomFactor = 1.0;
  // The continuous layout: 1 on, 0 off (as the reader chose), -1 never
  // chosen; and how far down `page` the view's middle line was (0 to 1).
  int continuous = -1;
  double stripWithin = 0;
};

// A stored share of a page (stripWithin) as used: within 0 to 1, 0 for
// what is not a number.
double StripShare(double share);

struct Attachment {
  std::filesystem::path path;
  AttachScope scope = AttachScope::kBook;
  std::string setName;
};

class LibraryState {
 public:
  // Opens (or begins) the database in `file`; empty: LibraryStateFile().
  explicit LibraryState(const std::filesystem::path& file = {});
  ~LibraryState();
  LibraryState(const LibraryState&) = delete;
  LibraryState& operator=(const LibraryState&) = delete;

  bool Ok() const { return m_db != nullptr; }
  // Why the state is unavailable, or what was done to make it available
  // (a damaged file set aside); empty when nothing needs saying.
  const std::string& Error() const { return m_error; }
  const std::filesystem::path& File() const { return m_file; }

  // Attaches the set `setName` to `path` (replacing what was attached to
  // it). False when the state is unavailable or the write failed (Error()).
  bool Attach(const std::filesystem::path& path, AttachScope scope, std::string_view setName);
  // Removes what is attached to `path`; true when nothing is left attached.
  bool Detach(const std::filesystem::path& path);
  // What is attached to `path` itself.
  std::optional<Attachment> AttachmentOf(const std::filesystem::path& path) const;
  // Every attachment at or below `folder` (every one when empty), in path
  // order.
  std::vector<Attachment> Attachments(const std::filesystem::path& folder = {}) const;

  // The place of the folder or book at `path`: stored under that path, else,
  // for a book file, the place of a book with its content key whose file is
  // gone (moved or renamed), which then moves to `path`. None when neither.
  std::optional<StoredPlace> PlaceOf(const std::filesystem::path& path);
  // PlaceOf for many paths at once (a shelf's books), in one read: the
  // places stored under the paths, and a moved book's only where a gone
  // book of the same size is stored.
  std::vector<std::optional<StoredPlace>> PlacesOf(const std::vector<std::filesystem::path>& paths);
  // Stores the places (each replacing what its path had) in one
  // transaction: all or, on failure (Error()), none.
  bool StorePlaces(const std::vector<std::pair<std::filesystem::path, StoredPlace>>& places);
  // Every place, in path order.
  std::vector<std::pair<std::filesystem::path, StoredPlace>> AllPlaces() const;

  // A page's own settings (the parameter bar's "只用于此页"): a text kept
  // for the page `page` (its entry in the book, a PDF page's number) of the
  // book whose content key is `bookKey` (BookContentKey), so the book keeps
  // them when moved. Setting an empty text removes them. The text is the
  // caller's (batch/attached_settings.h: "Key=value" lines).
  bool SetPageSetting(std::string_view bookKey, std::string_view page, std::string_view text);
  // The text kept for that page; empty when none.
  std::string PageSetting(std::string_view bookKey, std::string_view page) const;
  // Every page of the book with a text, in page-name order.
  std::vector<std::pair<std::string, std::string>> PageSettings(std::string_view bookKey) const;

  // A value kept under `name` (the state's own notes); empty when none.
  std::string Note(std::string_view name) const;
  bool SetNote(std::string_view name, std::string_view value);

  sqlite3* Handle() const { return m_db; }

 private:
  bool OpenFile();
  bool WriteFailed();

  std::filesystem::path m_file;
  sqlite3* m_db = nullptr;
  std::string m_error;
};

// A book file's content key: "SIZE-HASH", HASH the FNV-1a 64 of its first
// and last 64 KiB in hexadecimal; empty for a folder or a file that cannot
// be read.
std::string BookContentKey(const std::filesystem::path& file);

// The per-user state folder: $XDG_STATE_HOME/inkbrite, else
// ~/.local/state/inkbrite.
std::filesystem::path InkbriteStateFolder();
// The database's file in it.
std::filesystem::path LibraryStateFile();

// The settings in force for a book: its own attachment, else that of the
// nearest folder above it attached as a series; none when neither is.
std::optional<Attachment> AttachmentInForce(const LibraryState& state,
                                            const std::filesystem::path& book);

// "此书" / "此系列" (translated).
std::string_view AttachScopeText(AttachScope scope);

}  // namespace inkbrite
