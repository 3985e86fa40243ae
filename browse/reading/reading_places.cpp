// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/reading/reading_places.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QEvent>
#include <QSettings>
#include <QString>
#include <QTimer>
#include <cstdlib>
#include <memory>

#include "browse/services/state_files.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

// One settings object per file, kept so that page turns write to memory.
// The file is written a while after the last change, when the reader rests
// on a page, and at exit: not at the next idle moment, which came before
// the turned page was painted and made every page turn wait for two disk
// syncs (30 to 50 ms on a busy disk).
class PlacesStore : public QObject {
 public:
  explicit PlacesStore(const QString& file) : m_settings(file, QSettings::IniFormat) {
    m_timer.setSingleShot(true);
    m_timer.setInterval(kReadingPlacesWriteDelayMs);
    QObject::connect(&m_timer, &QTimer::timeout, &m_settings, [this] { m_settings.sync(); });
    m_settings.installEventFilter(this);
  }
  QSettings& Settings() { return m_settings; }
  // A change: the file is written kReadingPlacesWriteDelayMs after the last
  // one (a timer needs the application's event loop; without one the file
  // is written when the store goes).
  void Changed() {
    if (QCoreApplication::instance() != nullptr) m_timer.start();
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    // Qt's own sync at the next idle moment, replaced by the timer.
    if (watched == &m_settings && event->type() == QEvent::UpdateRequest) {
      Changed();
      return true;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QSettings m_settings;  // written when it goes, too
  QTimer m_timer;
};

std::unique_ptr<PlacesStore>& StoreHolder() {
  static std::unique_ptr<PlacesStore> store;
  return store;
}

PlacesStore& Store() {
  std::unique_ptr<PlacesStore>& store = StoreHolder();
  const QString file = QString::fromStdString(ReadingPlacesFile().string());
  if (!store || store->Settings().fileName() != file) {
    if (store) store->Settings().sync();
    // A FIFO or device in its place is set aside before it is read; one
    // that cannot be moved leaves the places in memory for this run.
    const bool safe = MakeStateFileSafe(ReadingPlacesFile());
    store = std::make_unique<PlacesStore>(safe ? file : QString());
    // Written, and its timer gone, while the application still exists.
    static bool routineAdded = false;
    if (!routineAdded && QCoreApplication::instance() != nullptr) {
      qAddPostRoutine([] { StoreHolder().reset(); });
      routineAdded = true;
    }
  }
  return *store;
}

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
  return place;
}

}  // namespace

fs::path ReadingPlacesFile() {
  const char* state = std::getenv("XDG_STATE_HOME");
  fs::path folder;
  if (state && *state == '/') {
    folder = state;
  } else {
    const char* home = std::getenv("HOME");
    folder = fs::path(home && *home ? home : "/tmp") / ".local" / "state";
  }
  return folder / "inkbrite" / "places.ini";
}

ReadingPlace LoadReadingPlace(const fs::path& folderOrBook) {
  ReadingPlace place;
  if (folderOrBook.empty()) return place;
  QSettings& settings = Store().Settings();
  settings.beginGroup(GroupOf(folderOrBook));
  place = PlaceInGroup(settings);
  settings.endGroup();
  return place;
}

void SaveReadingPlace(const fs::path& folderOrBook, const ReadingPlace& place) {
  if (folderOrBook.empty()) return;
  PlacesStore& store = Store();
  QSettings& settings = store.Settings();
  settings.beginGroup(GroupOf(folderOrBook));
  settings.setValue(QStringLiteral("path"), QString::fromStdString(folderOrBook.string()));
  settings.setValue(QStringLiteral("page"), QString::fromStdString(place.page));
  if (place.number > 0) {
    settings.setValue(QStringLiteral("number"), place.number);
    settings.setValue(QStringLiteral("count"), place.count);
    settings.setValue(QStringLiteral("lastRead"), static_cast<qlonglong>(place.lastRead));
  }
  if (place.layoutKnown) {
    settings.setValue(QStringLiteral("twoPages"), place.twoPages);
    settings.setValue(QStringLiteral("coverAlone"), place.coverAlone);
    settings.setValue(QStringLiteral("rightToLeft"), place.rightToLeft);
  }
  settings.endGroup();
  store.Changed();
}

void SaveReadingZoom(const fs::path& folderOrBook, const ReadingPlace& place) {
  if (folderOrBook.empty()) return;
  PlacesStore& store = Store();
  QSettings& settings = store.Settings();
  settings.beginGroup(GroupOf(folderOrBook));
  settings.setValue(QStringLiteral("path"), QString::fromStdString(folderOrBook.string()));
  settings.setValue(QStringLiteral("zoom"), place.zoom);
  settings.setValue(QStringLiteral("zoomFactor"), place.zoomFactor);
  settings.endGroup();
  store.Changed();
}

void WriteReadingPlaces() {
  if (StoreHolder()) StoreHolder()->Settings().sync();
}

ShelfProgress ReadingProgress(const fs::path& folderOrBook) {
  const ReadingPlace place = LoadReadingPlace(folderOrBook);
  return {place.number, place.count, place.lastRead};
}

std::vector<std::pair<fs::path, ReadingPlace>> AllReadingPlaces() {
  std::vector<std::pair<fs::path, ReadingPlace>> places;
  QSettings& settings = Store().Settings();
  for (const QString& group : settings.childGroups()) {
    settings.beginGroup(group);
    const QString path = settings.value(QStringLiteral("path")).toString();
    if (!path.isEmpty()) places.emplace_back(path.toStdString(), PlaceInGroup(settings));
    settings.endGroup();
  }
  return places;
}

}  // namespace inkbrite
