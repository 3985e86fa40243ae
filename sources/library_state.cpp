// SPDX-License-Identifier: GPL-2.0-or-later
#include "sources/library_state.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <unordered_set>

#include "platform/messages.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

// The tables of this version (PRAGMA user_version), made by the steps
// below from the version a database has: kSchemaSteps[v] takes version v
// to v + 1. A path is its bytes.
constexpr int kSchemaVersion = 2;
constexpr const char* kSchemaSteps[kSchemaVersion] = {
    // 1: attachments, places, notes.
    "CREATE TABLE IF NOT EXISTS attachment("
    " path BLOB PRIMARY KEY, scope INTEGER NOT NULL, set_name TEXT NOT NULL) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS place("
    " path BLOB PRIMARY KEY, content_key TEXT, page BLOB, number INTEGER, count INTEGER,"
    " last_read INTEGER, layout_known INTEGER, two_pages INTEGER, cover_alone INTEGER,"
    " right_to_left INTEGER, zoom INTEGER, zoom_factor REAL) WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS place_by_key ON place(content_key);"
    "CREATE TABLE IF NOT EXISTS note(name TEXT PRIMARY KEY, value TEXT) WITHOUT ROWID;",
    // 2: the continuous layout's choice and the place within a strip; the
    // places stored before read as never chosen, at the page's top (and so
    // do those a program of version 1 writes later).
    "ALTER TABLE place ADD COLUMN continuous INTEGER NOT NULL DEFAULT -1;"
    "ALTER TABLE place ADD COLUMN strip_within REAL NOT NULL DEFAULT 0;",
};

// Tables added after the first version, each a step of its own that makes
// the table when the database lacks it (so the steps of user_version and
// these never depend on each other's order).
struct TableStep {
  const char* name;
  const char* sql;
};
constexpr TableStep kTableSteps[] = {
    {"page_setting",
     "CREATE TABLE IF NOT EXISTS page_setting("
     " book_key TEXT NOT NULL, page BLOB NOT NULL, slots TEXT NOT NULL,"
     " PRIMARY KEY(book_key, page)) WITHOUT ROWID;"},
};

// A place's columns after its path and key, in StoredPlace's order.
#define INKBRITE_PLACE_COLUMNS                                                            \
  "page, number, count, last_read, layout_known, two_pages, cover_alone, right_to_left, " \
  "zoom, zoom_factor, continuous, strip_within"
constexpr size_t kHashedBytes = 64 * 1024;  // at each end of a book, for its content key

// One prepared statement, finalised when it goes.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (db != nullptr) sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr);
  }
  ~Statement() { sqlite3_finalize(m_stmt); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool Ok() const { return m_stmt != nullptr; }
  void Bind(int i, const fs::path& path) {
    const std::string& bytes = path.native();
    sqlite3_bind_blob(m_stmt, i, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
  }
  void Bind(int i, std::string_view text) {
    sqlite3_bind_text(m_stmt, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  void Bind(int i, int64_t value) { sqlite3_bind_int64(m_stmt, i, value); }
  void Bind(int i, double value) { sqlite3_bind_double(m_stmt, i, value); }
  void BindNull(int i) { sqlite3_bind_null(m_stmt, i); }
  void Reset() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
  }
  int Step() { return m_stmt != nullptr ? sqlite3_step(m_stmt) : SQLITE_MISUSE; }
  std::string Text(int i) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, i));
    return text != nullptr ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(m_stmt, i)))
                           : std::string();
  }
  fs::path Path(int i) const {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(m_stmt, i));
    return bytes != nullptr
               ? fs::path(std::string(bytes, static_cast<size_t>(sqlite3_column_bytes(m_stmt, i))))
               : fs::path();
  }
  int64_t Int(int i) const { return sqlite3_column_int64(m_stmt, i); }
  double Double(int i) const { return sqlite3_column_double(m_stmt, i); }

 private:
  sqlite3_stmt* m_stmt = nullptr;
};

fs::path Normal(const fs::path& path) {
  std::error_code ec;
  return fs::absolute(path, ec).lexically_normal();
}

bool Damage(int code) {
  const int primary = code & 0xff;
  return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

bool Busy(int code) {
  const int primary = code & 0xff;
  return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

// Moves a damaged database (and its journal files) out of the way; the
// new name, or empty when it could not be moved.
fs::path SetAside(const fs::path& file) {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  fs::path aside = file.string() + ".damaged-" +
                   std::to_string(std::chrono::duration_cast<std::chrono::seconds>(now).count());
  std::error_code ec;
  fs::rename(file, aside, ec);
  if (ec) return {};
  for (const char* tail : {"-wal", "-shm", "-journal"}) {
    std::error_code ignored;
    fs::rename(file.string() + tail, aside.string() + tail, ignored);
  }
  return aside;
}

// The place in the columns from `first` on (INKBRITE_PLACE_COLUMNS).
StoredPlace PlaceAt(const Statement& row, int first) {
  StoredPlace place;
  place.page = row.Path(first).native();
  place.number = static_cast<int>(row.Int(first + 1));
  place.count = static_cast<int>(row.Int(first + 2));
  place.lastRead = row.Int(first + 3);
  place.layoutKnown = row.Int(first + 4) != 0;
  place.twoPages = row.Int(first + 5) != 0;
  place.coverAlone = row.Int(first + 6) != 0;
  place.rightToLeft = row.Int(first + 7) != 0;
  place.zoom = static_cast<int>(row.Int(first + 8));
  place.zoomFactor = row.Double(first + 9);
  place.continuous = std::clamp(static_cast<int>(row.Int(first + 10)), -1, 1);
  place.stripWithin = StripShare(row.Double(first + 11));
  return place;
}

void BindPlace(Statement& put, int first, const StoredPlace& place) {
  put.Bind(first, fs::path(place.page));
  put.Bind(first + 1, int64_t{place.number});
  put.Bind(first + 2, int64_t{place.count});
  put.Bind(first + 3, place.lastRead);
  put.Bind(first + 4, int64_t{place.layoutKnown});
  put.Bind(first + 5, int64_t{place.twoPages});
  put.Bind(first + 6, int64_t{place.coverAlone});
  put.Bind(first + 7, int64_t{place.rightToLeft});
  put.Bind(first + 8, int64_t{place.zoom});
  put.Bind(first + 9, place.zoomFactor);
  put.Bind(first + 10, int64_t{std::clamp(place.continuous, -1, 1)});
  put.Bind(first + 11, StripShare(place.stripWithin));
}

Attachment AttachmentAt(const Statement& row) {
  return {row.Path(0), row.Int(1) == 0 ? AttachScope::kSeries : AttachScope::kBook, row.Text(2)};
}

}  // namespace

double StripShare(double share) { return std::isfinite(share) ? std::clamp(share, 0.0, 1.0) : 0.0; }

fs::path InkbriteStateFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  fs::path folder;
  if (state && *state == '/') {
    folder = state;
  } else {
    const char* home = std::getenv("HOME");
    folder = fs::path(home && *home ? home : "/tmp") / ".local" / "state";
  }
  return folder / "inkbrite";
}

fs::path LibraryStateFile() { return InkbriteStateFolder() / "library.db"; }

LibraryState::LibraryState(const fs::path& file)
    : m_file(file.empty() ? LibraryStateFile() : file) {
  if (OpenFile()) return;
  // A file that is not a database, or a damaged one, is kept under another
  // name and the state begins afresh; anything else leaves it unavailable.
  if (!m_error.empty()) return;
  const fs::path aside = SetAside(m_file);
  if (aside.empty()) {
    m_error = EngineTextArgs(INKBRITE_TEXT("sources", "书库数据库已损坏，且无法改名：%1"),
                             {m_file.string()});
    return;
  }
  if (OpenFile()) {
    m_error = EngineTextArgs(INKBRITE_TEXT("sources", "书库数据库已损坏，已改名为%1，重新开始。"),
                             {aside.string()});
  }
}

LibraryState::~LibraryState() { sqlite3_close(m_db); }

// True when open; false with m_error empty when the file is damaged (to be
// set aside), with m_error set when it cannot be used.
bool LibraryState::OpenFile() {
  std::error_code ec;
  fs::create_directories(m_file.parent_path(), ec);
  const fs::file_status status = fs::status(m_file, ec);
  if (fs::exists(status) && !fs::is_regular_file(status)) return false;  // a FIFO, a folder...
  sqlite3* db = nullptr;
  int rc =
      sqlite3_open_v2(m_file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_busy_timeout(db, kLibraryBusyMs);
    sqlite3_extended_result_codes(db, 1);
    // WAL: a writer never blocks readers, a kill keeps every committed
    // transaction.
    rc = sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr,
                      nullptr);
  }
  if (rc == SQLITE_OK) {
    Statement check(db, "PRAGMA quick_check");
    rc = check.Ok() ? check.Step() : sqlite3_errcode(db);
    if (rc == SQLITE_ROW) rc = check.Text(0) == "ok" ? SQLITE_OK : SQLITE_CORRUPT;
  }
  int version = 0;
  if (rc == SQLITE_OK) {
    Statement get(db, "PRAGMA user_version");
    rc = get.Step() == SQLITE_ROW ? SQLITE_OK : sqlite3_errcode(db);
    if (rc == SQLITE_OK) version = static_cast<int>(get.Int(0));
  }
  // The tables are made once: a database that has them is read even while
  // another program writes it.
  if (rc == SQLITE_OK && version < kSchemaVersion) {
    rc = sqlite3_exec(db, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr);
    // Read again inside the transaction: another program may have taken
    // the database up meanwhile.
    if (rc == SQLITE_OK) {
      Statement get(db, "PRAGMA user_version");
      rc = get.Step() == SQLITE_ROW ? SQLITE_OK : sqlite3_errcode(db);
      if (rc == SQLITE_OK) version = std::max(0, static_cast<int>(get.Int(0)));
    }
    for (int step = version; rc == SQLITE_OK && step < kSchemaVersion; ++step) {
      rc = sqlite3_exec(db, kSchemaSteps[step], nullptr, nullptr, nullptr);
    }
    if (rc == SQLITE_OK && version < kSchemaVersion) {
      const std::string mark = "PRAGMA user_version = " + std::to_string(kSchemaVersion) + ";";
      rc = sqlite3_exec(db, mark.c_str(), nullptr, nullptr, nullptr);
    }
    rc = sqlite3_exec(db, rc == SQLITE_OK ? "COMMIT;" : "ROLLBACK;", nullptr, nullptr, nullptr) ==
                 SQLITE_OK
             ? rc
             : sqlite3_errcode(db);
  }
  // A later table that cannot be made (a database that may only be read)
  // leaves what it holds unavailable, never the rest.
  for (const TableStep& step : kTableSteps) {
    if (rc != SQLITE_OK) break;
    Statement has(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?");
    has.Bind(1, std::string_view(step.name));
    if (has.Step() != SQLITE_ROW) sqlite3_exec(db, step.sql, nullptr, nullptr, nullptr);
  }
  if (rc == SQLITE_OK) {
    m_db = db;
    return true;
  }
  const std::string why = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  sqlite3_close(db);
  if (Damage(rc)) return false;
  m_error = Busy(rc) ? EngineTextArgs(INKBRITE_TEXT("sources", "书库数据库正被另一个程序占用：%1"),
                                      {m_file.string()})
                     : EngineTextArgs(INKBRITE_TEXT("sources", "书库数据库无法打开：%1（%2）"),
                                      {m_file.string(), why});
  return false;
}

bool LibraryState::Attach(const fs::path& path, AttachScope scope, std::string_view setName) {
  if (m_db == nullptr || setName.empty()) return false;
  Statement put(m_db, "INSERT OR REPLACE INTO attachment(path, scope, set_name) VALUES(?, ?, ?)");
  put.Bind(1, Normal(path));
  put.Bind(2, int64_t{scope == AttachScope::kSeries ? 0 : 1});
  put.Bind(3, setName);
  if (put.Step() == SQLITE_DONE) return true;
  m_error = EngineTextArgs(INKBRITE_TEXT("sources", "书库数据库无法写入：%1（%2）"),
                           {m_file.string(), sqlite3_errmsg(m_db)});
  return false;
}

bool LibraryState::Detach(const fs::path& path) {
  if (m_db == nullptr) return false;
  Statement drop(m_db, "DELETE FROM attachment WHERE path = ?");
  drop.Bind(1, Normal(path));
  if (drop.Step() == SQLITE_DONE) return true;
  m_error = EngineTextArgs(INKBRITE_TEXT("sources", "书库数据库无法写入：%1（%2）"),
                           {m_file.string(), sqlite3_errmsg(m_db)});
  return false;
}

std::optional<Attachment> LibraryState::AttachmentOf(const fs::path& path) const {
  Statement get(m_db, "SELECT path, scope, set_name FROM attachment WHERE path = ?");
  if (!get.Ok()) return std::nullopt;
  get.Bind(1, Normal(path));
  if (get.Step() != SQLITE_ROW) return std::nullopt;
  return AttachmentAt(get);
}

std::vector<Attachment> LibraryState::Attachments(const fs::path& folder) const {
  std::vector<Attachment> found;
  Statement all(m_db, "SELECT path, scope, set_name FROM attachment ORDER BY path");
  if (!all.Ok()) return found;
  const std::string under = folder.empty() ? std::string() : Normal(folder).native();
  while (all.Step() == SQLITE_ROW) {
    Attachment attachment = AttachmentAt(all);
    const std::string& path = attachment.path.native();
    const bool below = under.empty() || path == under ||
                       (path.size() > under.size() && path.compare(0, under.size(), under) == 0 &&
                        (under.back() == '/' || path[under.size()] == '/'));
    if (below) found.push_back(std::move(attachment));
  }
  return found;
}

std::optional<StoredPlace> LibraryState::PlaceOf(const fs::path& path) {
  if (m_db == nullptr) return std::nullopt;
  const fs::path normal = Normal(path);
  {
    Statement get(m_db, "SELECT " INKBRITE_PLACE_COLUMNS " FROM place WHERE path = ?");
    get.Bind(1, normal);
    if (get.Step() == SQLITE_ROW) return PlaceAt(get, 0);
  }
  // A book moved or renamed: a place of the same size whose file is gone,
  // with the same content key. Only then is the book read for its key.
  std::error_code ec;
  if (!fs::is_regular_file(normal, ec)) return std::nullopt;
  const uintmax_t size = fs::file_size(normal, ec);
  if (ec) return std::nullopt;
  const std::string low = std::to_string(size) + "-";
  const std::string high = std::to_string(size) + ".";  // '.' follows '-'
  std::vector<std::pair<fs::path, std::string>> gone;
  {
    Statement same(
        m_db, "SELECT path, content_key FROM place WHERE content_key >= ? AND content_key < ?");
    same.Bind(1, std::string_view(low));
    same.Bind(2, std::string_view(high));
    while (same.Step() == SQLITE_ROW) {
      fs::path old = same.Path(0);
      std::error_code missing;
      if (!fs::exists(old, missing) && !missing) gone.emplace_back(std::move(old), same.Text(1));
    }
  }
  if (gone.empty()) return std::nullopt;
  const std::string key = BookContentKey(normal);
  for (const auto& [old, oldKey] : gone) {
    if (key.empty() || oldKey != key) continue;
    Statement move(m_db, "UPDATE place SET path = ? WHERE path = ?");
    move.Bind(1, normal);
    move.Bind(2, old);
    move.Step();  // a failed move still finds the place this time
    Statement get(m_db, "SELECT " INKBRITE_PLACE_COLUMNS " FROM place WHERE path = ? OR path = ?");
    get.Bind(1, normal);
    get.Bind(2, old);
    if (get.Step() == SQLITE_ROW) return PlaceAt(get, 0);
  }
  return std::nullopt;
}

std::vector<std::optional<StoredPlace>> LibraryState::PlacesOf(const std::vector<fs::path>& paths) {
  std::vector<std::optional<StoredPlace>> found(paths.size());
  if (m_db == nullptr || paths.empty()) return found;
  std::vector<size_t> missing;
  std::unordered_set<std::string> sizes;  // "SIZE-" of every content key stored
  const bool read = sqlite3_exec(m_db, "BEGIN;", nullptr, nullptr, nullptr) == SQLITE_OK;
  {
    Statement get(m_db, "SELECT " INKBRITE_PLACE_COLUMNS " FROM place WHERE path = ?");
    for (size_t i = 0; get.Ok() && i < paths.size(); ++i) {
      get.Reset();
      get.Bind(1, Normal(paths[i]));
      if (get.Step() == SQLITE_ROW) {
        found[i] = PlaceAt(get, 0);
      } else {
        missing.push_back(i);
      }
    }
    Statement keys(m_db,
                   "SELECT DISTINCT substr(content_key, 1, instr(content_key, '-')) FROM place"
                   " WHERE content_key IS NOT NULL");
    while (!missing.empty() && keys.Ok() && keys.Step() == SQLITE_ROW) sizes.insert(keys.Text(0));
  }
  if (read) sqlite3_exec(m_db, "COMMIT;", nullptr, nullptr, nullptr);
  for (const size_t i : missing) {
    std::error_code ec;
    const uintmax_t size = fs::file_size(paths[i], ec);
    if (!ec && sizes.count(std::to_string(size) + "-") != 0) found[i] = PlaceOf(paths[i]);
  }
  return found;
}

bool LibraryState::StorePlaces(const std::vector<std::pair<fs::path, StoredPlace>>& places) {
  if (m_db == nullptr) return false;
  bool ok = sqlite3_exec(m_db, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr) == SQLITE_OK;
  {
    Statement put(m_db, "INSERT OR REPLACE INTO place(path, content_key, " INKBRITE_PLACE_COLUMNS
                        ") VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    for (size_t i = 0; ok && i < places.size(); ++i) {
      const fs::path normal = Normal(places[i].first);
      put.Reset();
      put.Bind(1, normal);
      const std::string key = BookContentKey(normal);
      if (key.empty()) {
        put.BindNull(2);
      } else {
        put.Bind(2, std::string_view(key));
      }
      BindPlace(put, 3, places[i].second);
      ok = put.Step() == SQLITE_DONE;
    }
  }
  if (ok) ok = sqlite3_exec(m_db, "COMMIT;", nullptr, nullptr, nullptr) == SQLITE_OK;
  if (ok) return true;
  m_error = EngineTextArgs(INKBRITE_TEXT("sources", "书库数据库无法写入：%1（%2）"),
                           {m_file.string(), sqlite3_errmsg(m_db)});
  sqlite3_exec(m_db, "ROLLBACK;", nullptr, nullptr, nullptr);
  return false;
}

std::vector<std::pair<fs::path, StoredPlace>> LibraryState::AllPlaces() const {
  std::vector<std::pair<fs::path, StoredPlace>> places;
  Statement all(m_db, "SELECT path, " INKBRITE_PLACE_COLUMNS " FROM place ORDER BY path");
  while (all.Ok() && all.Step() == SQLITE_ROW) places.emplace_back(all.Path(0), PlaceAt(all, 1));
  return places;
}

bool LibraryState::WriteFailed() {
  m_error = EngineTextArgs(INKBRITE_TEXT("sources", "书库数据库无法写入：%1（%2）"),
                           {m_file.string(), sqlite3_errmsg(m_db)});
  return false;
}

bool LibraryState::SetPageSetting(std::string_view bookKey, std::string_view page,
                                  std::string_view text) {
  if (m_db == nullptr || bookKey.empty()) return false;
  Statement put(m_db, text.empty() ? "DELETE FROM page_setting WHERE book_key = ? AND page = ?"
                                   : "INSERT OR REPLACE INTO page_setting(book_key, page, slots) "
                                     "VALUES(?, ?, ?)");
  put.Bind(1, bookKey);
  put.Bind(2, fs::path(std::string(page)));
  if (!text.empty()) put.Bind(3, text);
  return put.Step() == SQLITE_DONE || WriteFailed();
}

std::string LibraryState::PageSetting(std::string_view bookKey, std::string_view page) const {
  Statement get(m_db, "SELECT slots FROM page_setting WHERE book_key = ? AND page = ?");
  if (!get.Ok() || bookKey.empty()) return {};
  get.Bind(1, bookKey);
  get.Bind(2, fs::path(std::string(page)));
  return get.Step() == SQLITE_ROW ? get.Text(0) : std::string();
}

std::vector<std::pair<std::string, std::string>> LibraryState::PageSettings(
    std::string_view bookKey) const {
  std::vector<std::pair<std::string, std::string>> pages;
  Statement all(m_db, "SELECT page, slots FROM page_setting WHERE book_key = ? ORDER BY page");
  if (!all.Ok() || bookKey.empty()) return pages;
  all.Bind(1, bookKey);
  while (all.Step() == SQLITE_ROW) pages.emplace_back(all.Path(0).native(), all.Text(1));
  return pages;
}

std::string LibraryState::Note(std::string_view name) const {
  Statement get(m_db, "SELECT value FROM note WHERE name = ?");
  if (!get.Ok()) return {};
  get.Bind(1, name);
  return get.Step() == SQLITE_ROW ? get.Text(0) : std::string();
}

bool LibraryState::SetNote(std::string_view name, std::string_view value) {
  Statement put(m_db, "INSERT OR REPLACE INTO note(name, value) VALUES(?, ?)");
  put.Bind(1, name);
  put.Bind(2, value);
  if (put.Step() == SQLITE_DONE) return true;
  if (m_db != nullptr) {
    m_error = EngineTextArgs(INKBRITE_TEXT("sources", "书库数据库无法写入：%1（%2）"),
                             {m_file.string(), sqlite3_errmsg(m_db)});
  }
  return false;
}

std::string BookContentKey(const fs::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return {};
  struct stat info {};
  std::string key;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    const auto size = static_cast<uint64_t>(info.st_size);
    std::vector<char> bytes(static_cast<size_t>(std::min<uint64_t>(size, 2 * kHashedBytes)));
    const uint64_t tail = size > 2 * kHashedBytes ? size - kHashedBytes : kHashedBytes;
    const size_t head = std::min(bytes.size(), kHashedBytes);
    const bool read = ::pread(fd, bytes.data(), head, 0) == static_cast<ssize_t>(head) &&
                      (bytes.size() <= head || ::pread(fd, bytes.data() + head, bytes.size() - head,
                                                       static_cast<off_t>(tail)) ==
                                                   static_cast<ssize_t>(bytes.size() - head));
    if (read) {
      // FNV-1a 64.
      uint64_t hash = 14695981039346656037ULL;
      for (const char c : bytes) hash = (hash ^ static_cast<uint8_t>(c)) * 1099511628211ULL;
      char hex[17];
      std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
      key = std::to_string(size) + "-" + hex;
    }
  }
  ::close(fd);
  return key;
}

std::optional<Attachment> AttachmentInForce(const LibraryState& state, const fs::path& book) {
  if (!state.Ok()) return std::nullopt;
  const fs::path normal = Normal(book);
  if (auto own = state.AttachmentOf(normal); own && own->scope == AttachScope::kBook) return own;
  for (fs::path folder = normal.parent_path(); !folder.empty(); folder = folder.parent_path()) {
    if (auto series = state.AttachmentOf(folder); series && series->scope == AttachScope::kSeries) {
      return series;
    }
    if (folder == folder.root_path()) break;
  }
  return std::nullopt;
}

std::string_view AttachScopeText(AttachScope scope) {
  return EngineText(scope == AttachScope::kSeries ? INKBRITE_TEXT("sources", "此系列")
                                                  : INKBRITE_TEXT("sources", "此书"));
}

}  // namespace inkbrite
