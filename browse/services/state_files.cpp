// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/services/state_files.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QStandardPaths>
#include <cstdio>
#include <ctime>
#include <string>

namespace inkbrite {

namespace fs = std::filesystem;

bool MakeStateFileSafe(const fs::path& file, uint64_t maxBytes) {
  struct stat st {};
  // Missing (or a dangling link): QSettings writes a new file.
  if (::stat(file.c_str(), &st) != 0) return true;
  if (S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) <= maxBytes) return true;
  char stamp[32] = {};
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(stamp, sizeof(stamp), "%Y%m%d-%H%M%S", &local);
  fs::path aside = file;
  aside += std::string(".set-aside-") + stamp;
  for (int i = 2; fs::symlink_status(aside).type() != fs::file_type::not_found && i < 100; ++i) {
    aside = file;
    aside += std::string(".set-aside-") + stamp + "-" + std::to_string(i);
  }
  if (std::rename(file.c_str(), aside.c_str()) != 0) return false;
  std::fprintf(stderr, "inkbrite: %s is not a usable settings file; set aside as %s\n",
               file.c_str(), aside.c_str());
  return true;
}

QString SettingsFilePath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QLatin1Char('/') + QCoreApplication::organizationName() + QLatin1Char('/') +
         QCoreApplication::applicationName() + QStringLiteral(".conf");
}

}  // namespace inkbrite
