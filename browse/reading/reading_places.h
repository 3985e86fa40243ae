// SPDX-License-Identifier: GPL-2.0-or-later
// Where the reader was in each folder and book, and how it was shown: the
// page last shown, how far in (page N of M, and when), and the two-page
// layout (two pages, cover alone, right to left). Kept in the state folder:
// $XDG_STATE_HOME/inkbrite/places.ini (~/.local/state/inkbrite/places.ini
// when the variable is unset), one group per folder or book. A change is
// written to the file a few seconds after the last one (when the reader
// rests on a page) and at exit.
//
// Threads: user-interface thread only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "sources/shelf.h"

namespace inkbrite {

struct ReadingPlace {
  std::string page;  // the page's file name in a folder, its entry in a book
  // How far in: the last page shown (1-based; the second of a spread) of
  // `count`, at `lastRead` (seconds since the epoch); 0 when not known.
  int number = 0;
  int count = 0;
  int64_t lastRead = 0;
  bool layoutKnown = false;  // the layout below was chosen by the user
  bool twoPages = false;
  bool coverAlone = false;
  bool rightToLeft = false;
  // How the pages were last shown: ZoomCode's values, -1 when never chosen;
  // the factor of a zoom by steps.
  int zoom = -1;
  double zoomFactor = 1.0;
};

// The place stored for a folder or book (absolute path); an empty place
// when none is.
ReadingPlace LoadReadingPlace(const std::filesystem::path& folderOrBook);
// Stores the page last shown (and how far in, when `place.number` is set);
// the layout only when `place.layoutKnown`.
void SaveReadingPlace(const std::filesystem::path& folderOrBook, const ReadingPlace& place);
// Stores only the zoom of `place` (zoom and zoomFactor) for a folder or book.
void SaveReadingZoom(const std::filesystem::path& folderOrBook, const ReadingPlace& place);
// The progress a shelf shows for a folder or book.
ShelfProgress ReadingProgress(const std::filesystem::path& folderOrBook);
// Every folder and book with a place, and its place.
std::vector<std::pair<std::filesystem::path, ReadingPlace>> AllReadingPlaces();
// The stored places are written to their file this long after the last
// change (and at exit): a page turn changes memory only.
inline constexpr int kReadingPlacesWriteDelayMs = 3000;
// Writes the places changed so far to the file now.
void WriteReadingPlaces();
// The file the places are kept in.
std::filesystem::path ReadingPlacesFile();

}  // namespace inkbrite
