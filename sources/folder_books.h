// SPDX-License-Identifier: GPL-2.0-or-later
// The comic books of one folder, in reading order: what a reader who keeps a
// series as one book per volume pages through, book after book.
//
// A book is a regular file (or a link to one) directly in the folder whose
// name has a book extension (.cbz .cbr .cb7 .cbt .zip .rar .7z .tar .pdf)
// and whose content is a book (BookKindOf: a ".cbz" that is really a JPEG
// picture is not). Hidden files (".x.cbz") are left out. The order is the
// natural order of the file names (sources/natural_order.h): "Vol 2" before
// "Vol 10".
//
// Threads: any; nothing is kept between calls.
#pragma once

#include <filesystem>
#include <vector>

namespace inkbrite {

// The books of `folder` in natural order of their names; none when the
// folder cannot be read.
std::vector<std::filesystem::path> BooksInFolder(const std::filesystem::path& folder);

// The book `step` places after `book` (a negative step: before it) among
// the books of its folder; empty when there is none (the first or last
// book, or `book` is not among them).
std::filesystem::path NeighbourBook(const std::filesystem::path& book, int step);

}  // namespace inkbrite
