// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/reading/reading_places.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QSettings>
#include <QString>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <system_error>

#include "browse/services/state_files.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

// The group of a folder or book: a hash of its path (paths may hold any
// character; the group names stay plain).
QString GroupOf(const fs::path& path) {
  const std::string& bytes = path.native();
  return QString::fromLatin1(
      QCryptographicHash::hash(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())),
                               QCryptographicHash::Sha1)
          .toHex());
}

ReadingPlace PlaceInGroup(QSettings& settings) {
  ReadingPlace place;
  place.page = settings.value(QStringLiteral("page")).toString().toStdString();
  place.number = settings.value(QStringLiteral("number"), 0).toInt();
  place.count = settings.value(QStringLiteral("count"), 0).toInt();
  place.lastRead = settings.value(QStringLiteral("lastRead"), 0).toLongLong();
  place.layoutKnown = settings.contains(QStringLiteral("twoPages"));
  place.twoPages = settings.value(QStringLiteral("twoPages"), false).toBool();
  place.coverAlone = settings.value(QStringLiteral("coverAlone"), false).toBool();
  place.rightToLeft = settings.value(QStringLiteral("rightToLeft"), false).toBool();
  place.zoom = settings.value(QStringLiteral("zoom"), -1).toInt();
  place.zoomFactor = settings.value(QStringLiteral("zoomFactor"), 1.0).toDouble();
  place.continuous = std::clamp(settings.value(QStringLiteral("continuous"), -1).toInt(), -1, 1);
  place.stripWithin = StripShare(settings.value(QStringLiteral("stripWithin"), 0.0).toDouble());
  return place;
}

void PutPlaceInGroup(QSettings& settings, const fs::path& path, const ReadingPlace& place) {
  settings.beginGroup(GroupOf(path));
  settings.setValue(QStringLiteral("path"), QString::fromStdString(path.string()));
  settings.setValue(QStringLiteral("page"), QString::fromStdString(place.page));
  settings.setValue(QStringLiteral("number"), place.number);
  settings.setValue(QStringLiteral("count"), place.count);
  settings.setValue(QStringLiteral("lastRead"), static_cast<qlonglong>(place.lastRead));
  if (place.layoutKnown) {
    settings.setValue(QStringLiteral("twoPages"), place.twoPages);
    settings.setValue(QStringLiteral("coverAlone"), place.coverAlone);
    settings.setValue(QStringLiteral("rightToLeft"), place.rightToLeft);
  }
  settings.setValue(QStringLiteral("zoom"), place.zoom);
  settings.setValue(QStringLiteral("zoomFactor"), place.zoomFactor);
  settings.setValue(QStringLiteral("continuous"), place.continuous);
  settings.setValue(QStringLiteral("stripWithin"), place.stripWithin);
  settings.endGroup();
}

// The places file's size and time: the database notes the file it read.
std::string FileStamp(const fs::path& file) {
  std::error_code ec;
  const uintmax_t size = fs::file_size(file, ec);
  if (ec) return {};
  const auto time = fs::last_write_time(file, ec).time_since_epoch().count();
  return ec ? std::string() : std::to_string(size) + "@" + std::to_string(time);
}

constexpr std::string_view kImportedNote = "places.ini read";

// The places: in the library's database, else in the places file. Changes
// wait in memory and are written a while after the last one, when the
// reader rests on a page, and at exit: not at each page turn, which would
// make every turn wait for the disk.
class PlacesStore {
 public:
  PlacesStore(const fs::path& database, const fs::path& oldFile) : m_oldFile(oldFile) {
    m_db = std::make_unique<LibraryState>(database);
    m_problem = m_db->Error();
    if (!m_db->Ok()) m_db.reset();
    ReadOldFile();
    m_timer.setSingleShot(true);
    m_timer.setInterval(kReadingPlacesWriteDelayMs);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Write(); });
  }
  ~PlacesStore() { Write(); }
  PlacesStore(const PlacesStore&) = delete;
  PlacesStore& operator=(const PlacesStore&) = delete;

  const std::string& Problem() const { return m_problem; }

  ReadingPlace Load(const fs::path& path) {
    if (auto pending = m_pending.find(path); pending != m_pending.end()) return pending->second;
    if (m_db) {
      if (std::optional<StoredPlace> place = m_db->PlaceOf(path)) return *place;
      return {};
    }
    if (!m_ini) return {};
    m_ini->beginGroup(GroupOf(path));
    ReadingPlace place = PlaceInGroup(*m_ini);
    m_ini->endGroup();
    return place;
  }
  std::vector<ReadingPlace> LoadMany(const std::vector<fs::path>& paths) {
    if (!m_db) {
      std::vector<ReadingPlace> places;
      places.reserve(paths.size());
      for (const fs::path& path : paths) places.push_back(Load(path));
      return places;
    }
    std::vector<std::optional<StoredPlace>> stored = m_db->PlacesOf(paths);
    std::vector<ReadingPlace> places(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
      if (auto pending = m_pending.find(paths[i]); pending != m_pending.end()) {
        places[i] = pending->second;
      } else if (stored[i]) {
        places[i] = *stored[i];
      }
    }
    return places;
  }
  void Save(const fs::path& path, const ReadingPlace& place) {
    m_pending[path] = place;
    // A timer needs the application's event loop; without one the places
    // are written when the store goes.
    if (QCoreApplication::instance() != nullptr) m_timer.start();
  }
  std::vector<std::pair<fs::path, ReadingPlace>> All() {
    std::vector<std::pair<fs::path, ReadingPlace>> places;
    if (m_db) {
      places = m_db->AllPlaces();
    } else if (m_ini) {
      for (const QString& group : m_ini->childGroups()) {
        m_ini->beginGroup(group);
        const QString path = m_ini->value(QStringLiteral("path")).toString();
        if (!path.isEmpty()) places.emplace_back(path.toStdString(), PlaceInGroup(*m_ini));
        m_ini->endGroup();
      }
    }
    // What waits to be written is the newer.
    std::map<fs::path, ReadingPlace> all(places.begin(), places.end());
    for (const auto& [path, place] : m_pending) all[path] = place;
    places.assign(all.begin(), all.end());
    return places;
  }
  // Writes what changed: to the database in one transaction, else (or when
  // that fails) to the places file.
  void Write() {
    m_timer.stop();
    if (m_pending.empty()) return;
    std::vector<std::pair<fs::path, StoredPlace>> places(m_pending.begin(), m_pending.end());
    if (m_db && m_db->StorePlaces(places)) {
      m_pending.clear();
      return;
    }
    if (m_db) m_problem = m_db->Error();
    if (!OpenOldFile()) return;  // kept in memory for this run
    for (const auto& [path, place] : places) PutPlaceInGroup(*m_ini, path, place);
    m_ini->sync();
    if (m_ini->status() == QSettings::NoError) m_pending.clear();
  }

 private:
  bool OpenOldFile() {
    if (m_ini) return true;
    // A FIFO or device in its place is set aside before it is read; one
    // that cannot be moved leaves the places in memory for this run.
    if (!MakeStateFileSafe(m_oldFile)) return false;
    m_ini = std::make_unique<QSettings>(QString::fromStdString(m_oldFile.string()),
                                        QSettings::IniFormat);
    return true;
  }
  // The places file, read into the database once (and again when it was
  // written since, by a run that could not use the database); without the
  // database it is the store.
  void ReadOldFile() {
    std::error_code ec;
    if (m_db && !fs::exists(m_oldFile, ec)) return;
    if (!OpenOldFile() || !m_db) return;
    const std::string stamp = FileStamp(m_oldFile);
    if (stamp.empty() || m_db->Note(kImportedNote) == stamp) {
      m_ini.reset();
      return;
    }
    std::vector<std::pair<fs::path, StoredPlace>> places;
    for (const QString& group : m_ini->childGroups()) {
      m_ini->beginGroup(group);
      const QString path = m_ini->value(QStringLiteral("path")).toString();
      if (!path.isEmpty()) places.emplace_back(path.toStdString(), PlaceInGroup(*m_ini));
      m_ini->endGroup();
    }
    m_ini.reset();
    // The file is kept. When it cannot be read into the database (held by
    // another program), it stays the store for this run, and is read at
    // the next start.
    if (m_db->StorePlaces(places) && m_db->SetNote(kImportedNote, stamp)) return;
    m_problem = m_db->Error();
    m_db.reset();
    OpenOldFile();
  }

  fs::path m_oldFile;
  std::unique_ptr<LibraryState> m_db;
  std::unique_ptr<QSettings> m_ini;
  std::map<fs::path, ReadingPlace> m_pending;
  std::string m_problem;
  QTimer m_timer;
};

std::unique_ptr<PlacesStore>& StoreHolder() {
  static std::unique_ptr<PlacesStore> store;
  return store;
}

PlacesStore& Store() {
  std::unique_ptr<PlacesStore>& store = StoreHolder();
  // The state folder may change (tests): a new folder, a new store.
  static fs::path database;
  if (!store || database != LibraryStateFile()) {
    store.reset();
    database = LibraryStateFile();
    store = std::make_unique<PlacesStore>(database, ReadingPlacesFile());
    // Written, and its timer gone, while the application still exists.
    static bool routineAdded = false;
    if (!routineAdded && QCoreApplication::instance() != nullptr) {
      qAddPostRoutine([] { StoreHolder().reset(); });
      routineAdded = true;
    }
  }
  return *store;
}

}  // namespace

fs::path ReadingPlacesFile() { return InkbriteStateFolder() / "places.ini"; }

ReadingPlace LoadReadingPlace(const fs::path& folderOrBook) {
  if (folderOrBook.empty()) return {};
  return Store().Load(folderOrBook);
}

void SaveReadingPlace(const fs::path& folderOrBook, const ReadingPlace& place) {
  if (folderOrBook.empty()) return;
  PlacesStore& store = Store();
  ReadingPlace stored = store.Load(folderOrBook);
  stored.page = place.page;
  if (place.number > 0) {
    stored.number = place.number;
    stored.count = place.count;
    stored.lastRead = place.lastRead;
  }
  if (place.layoutKnown) {
    stored.layoutKnown = true;
    stored.twoPages = place.twoPages;
    stored.coverAlone = place.coverAlone;
    stored.rightToLeft = place.rightToLeft;
  }
  store.Save(folderOrBook, stored);
}

void SaveReadingZoom(const fs::path& folderOrBook, const ReadingPlace& place) {
  if (folderOrBook.empty()) return;
  PlacesStore& store = Store();
  ReadingPlace stored = store.Load(folderOrBook);
  stored.zoom = place.zoom;
  stored.zoomFactor = place.zoomFactor;
  store.Save(folderOrBook, stored);
}

void SaveStripPlace(const fs::path& folderOrBook, const ReadingPlace& place) {
  if (folderOrBook.empty()) return;
  PlacesStore& store = Store();
  ReadingPlace stored = store.Load(folderOrBook);
  stored.page = place.page;
  stored.continuous = std::clamp(place.continuous, -1, 1);
  stored.stripWithin = StripShare(place.stripWithin);
  store.Save(folderOrBook, stored);
}

void WriteReadingPlaces() {
  if (StoreHolder()) StoreHolder()->Write();
}

ShelfProgress ReadingProgress(const fs::path& folderOrBook) {
  const ReadingPlace place = LoadReadingPlace(folderOrBook);
  return {place.number, place.count, place.lastRead};
}

std::vector<ShelfProgress> ReadingProgresses(const std::vector<fs::path>& paths) {
  std::vector<ShelfProgress> progress;
  progress.reserve(paths.size());
  for (const ReadingPlace& place : Store().LoadMany(paths)) {
    progress.push_back({place.number, place.count, place.lastRead});
  }
  return progress;
}

std::vector<std::pair<fs::path, ReadingPlace>> AllReadingPlaces() { return Store().All(); }

std::string ReadingPlacesProblem() { return Store().Problem(); }

}  // namespace inkbrite
