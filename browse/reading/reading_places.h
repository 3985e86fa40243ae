// SPDX-License-Identifier: GPL-2.0-or-later
// Where the reader was in each folder and book, and how it was shown: the
// page last shown, how far in (page N of M, and when), and the two-page
// layout (two pages, cover alone, right to left), the continuous layout's
// choice and the place within a strip. Kept in the library's database in
// the state folder (sources/library_state.h), where a book renamed or moved
// keeps its place. A change is written a few seconds
// after the last one (when the reader rests on a page) and at exit, all
// changes at once in one transaction.
//
// The places file of earlier versions ($XDG_STATE_HOME/inkbrite/places.ini)
// is read into the database once (again only when it changes) and kept.
// When the database cannot be used (held by another program, a folder
// that cannot be written), the places are kept in that file instead, as
// before, and ReadingPlacesProblem() says why; a write to the database that
// fails goes to that file too, so no place is lost.
//
// Threads: user-interface thread only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "sources/library_state.h"
#include "sources/shelf.h"

namespace inkbrite {

using ReadingPlace = StoredPlace;

// The place stored for a folder or book (absolute path); an empty place
// when none is.
ReadingPlace LoadReadingPlace(const std::filesystem::path& folderOrBook);
// Stores the page last shown (and how far in, when `place.number` is set);
// the layout only when `place.layoutKnown`.
void SaveReadingPlace(const std::filesystem::path& folderOrBook, const ReadingPlace& place);
// Stores only the zoom of `place` (zoom and zoomFactor) for a folder or book.
void SaveReadingZoom(const std::filesystem::path& folderOrBook, const ReadingPlace& place);
// Stores the continuous layout's choice and the share of `place.page`
// above the view's middle line (continuous, stripWithin).
void SaveStripPlace(const std::filesystem::path& folderOrBook, const ReadingPlace& place);
// The progress a shelf shows for a folder or book.
ShelfProgress ReadingProgress(const std::filesystem::path& folderOrBook);
// ReadingProgress of many folders and books, read at once.
std::vector<ShelfProgress> ReadingProgresses(const std::vector<std::filesystem::path>& paths);
// Every folder and book with a place, and its place.
std::vector<std::pair<std::filesystem::path, ReadingPlace>> AllReadingPlaces();
// The stored places are written to their file this long after the last
// change (and at exit): a page turn changes memory only.
inline constexpr int kReadingPlacesWriteDelayMs = 3000;
// Writes the places changed so far to the file now.
void WriteReadingPlaces();
// The places file of earlier versions, and the one used when the database
// cannot be.
std::filesystem::path ReadingPlacesFile();
// Why the places are not kept in the database, or what was done to open it
// (a damaged database set aside); empty when all is well.
std::string ReadingPlacesProblem();

}  // namespace inkbrite
