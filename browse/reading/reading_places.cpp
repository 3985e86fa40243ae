// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/reading/reading_places.h"

#include <QCryptographicHash>
#include <QSettings>
#include <QString>
#include <cstdlib>
#include <memory>

#include "browse/services/state_files.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

// One settings object per file, kept so that page turns write to memory and
// the file is written when Qt syncs it (at idle and at exit).
QSettings& Store() {
  static std::unique_ptr<QSettings> settings;
  const QString file = QString::fromStdString(ReadingPlacesFile().string());
  if (!settings || settings->fileName() != file) {
    if (settings) settings->sync();
    // A FIFO or device in its place is set aside before it is read; one
    // that cannot be moved leaves the places in memory for this run.
    const bool safe = MakeStateFileSafe(ReadingPlacesFile());
    settings = std::make_unique<QSettings>(safe ? file : QString(), QSettings::IniFormat);
  }
  return *settings;
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
  QSettings& settings = Store();
  settings.beginGroup(GroupOf(folderOrBook));
  place = PlaceInGroup(settings);
  settings.endGroup();
  return place;
}

void SaveReadingPlace(const fs::path& folderOrBook, const ReadingPlace& place) {
  if (folderOrBook.empty()) return;
  QSettings& settings = Store();
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
}

void SaveReadingZoom(const fs::path& folderOrBook, const ReadingPlace& place) {
  if (folderOrBook.empty()) return;
  QSettings& settings = Store();
  settings.beginGroup(GroupOf(folderOrBook));
  settings.setValue(QStringLiteral("path"), QString::fromStdString(folderOrBook.string()));
  settings.setValue(QStringLiteral("zoom"), place.zoom);
  settings.setValue(QStringLiteral("zoomFactor"), place.zoomFactor);
  settings.endGroup();
}

ShelfProgress ReadingProgress(const fs::path& folderOrBook) {
  const ReadingPlace place = LoadReadingPlace(folderOrBook);
  return {place.number, place.count, place.lastRead};
}

std::vector<std::pair<fs::path, ReadingPlace>> AllReadingPlaces() {
  std::vector<std::pair<fs::path, ReadingPlace>> places;
  QSettings& settings = Store();
  for (const QString& group : settings.childGroups()) {
    settings.beginGroup(group);
    const QString path = settings.value(QStringLiteral("path")).toString();
    if (!path.isEmpty()) places.emplace_back(path.toStdString(), PlaceInGroup(settings));
    settings.endGroup();
  }
  return places;
}

}  // namespace inkbrite
