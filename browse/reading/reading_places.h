// SPDX-License-Identifier: GPL-2.0-or-later
// Where the reader was in each folder and book, and how it was shown: the
// page last shown and the two-page layout (two pages, cover alone, right to
// left). Kept in the state folder: $XDG_STATE_HOME/inkbrite/places.ini
// (~/.local/state/inkbrite/places.ini when the variable is unset), one group
// per folder or book.
//
// Threads: user-interface thread only.
#pragma once

#include <filesystem>
#include <string>

namespace inkbrite {

struct ReadingPlace {
  std::string page;          // the page's file name in a folder, its entry in a book
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
// Stores the page last shown; the layout only when `place.layoutKnown`.
void SaveReadingPlace(const std::filesystem::path& folderOrBook, const ReadingPlace& place);
// Stores only the zoom of `place` (zoom and zoomFactor) for a folder or book.
void SaveReadingZoom(const std::filesystem::path& folderOrBook, const ReadingPlace& place);
// The file the places are kept in.
std::filesystem::path ReadingPlacesFile();

}  // namespace inkbrite
