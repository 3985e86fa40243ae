// SPDX-License-Identifier: GPL-2.0-or-later
// The reading devices (devices.tsv, compiled in): each one's screen, pixel
// density, grey or colour, the book kind it reads best and whether it shows
// two pages. A device's settings are a ready-made set's (named_settings.h:
// the e-ink set for a grey or colour e-ink screen, the tablet set for a
// colour one) with the device's screen as the fit size; a device named as a
// ready-made set is that set.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_job.h"
#include "core/para_block.h"

namespace inkbrite {

struct DeviceRow {
  enum class Colour { kGrey, kKaleido, kColour };
  std::string name;
  std::string label;
  int width = 0;  // the screen upright, in pixels
  int height = 0;
  double inches = 0;
  int ppi = 0;
  Colour colour = Colour::kGrey;
  int colourPpi = 0;  // a colour e-ink screen's colour layer
  BookOutput kind = BookOutput::kEpub;
  int pages = 1;  // 2: shows two pages side by side
  std::string source;
};

// Parses the table's text (a header row, '#' comments, eleven columns
// separated by TABs). False with the first bad line named in `error`.
bool ParseDeviceTable(std::string_view text, std::vector<DeviceRow>& rows, std::string& error);

// The compiled-in table's rows, in its order.
const std::vector<DeviceRow>& DeviceRows();
// The row named `name` (ASCII case ignored); null when none is.
const DeviceRow* FindDevice(std::string_view name);

// Fills `block` with the device's settings (see above), its book kind
// among them; a colour e-ink screen keeps colour and is fitted at its colour
// layer's density.
void ApplyDevice(const DeviceRow& device, CParaBlock& block);
// The zlib level of a device's palette PNG pages: an e-ink page of 16 greys
// is mostly flat paper, and zlib's fastest level writes it in about a third
// of the default's time, some 15 % larger (still smaller than the same page
// as a GIF).
inline constexpr int kDevicePageDeflateLevel = 1;

// The run's book layout for the device: the PDF's density and whether an
// e-book shows two pages; its pages' zlib level.
void ApplyDeviceToRun(const DeviceRow& device, BatchSettings& settings);

}  // namespace inkbrite
