// SPDX-License-Identifier: GPL-2.0-or-later
// The toolbar's pictures, drawn by the program itself (no image files).
#pragma once

#include <QIcon>

namespace inkbrite {

// The 16 x 16 picture of a toolbar command; a null icon for others.
QIcon CommandIcon(int id);

}  // namespace inkbrite
