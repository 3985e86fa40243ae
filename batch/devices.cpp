// SPDX-License-Identifier: GPL-2.0-or-later
#include "batch/devices.h"

#include <charconv>
#include <cmath>

#include "batch/book_writer.h"
#include "batch/named_settings.h"
#include "platform/ascii_case.h"

namespace inkbrite {

extern const char kDeviceTableText[];  // devices_table.cpp, made from devices.tsv

namespace {

std::vector<std::string_view> Split(std::string_view line, char by) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = line.find(by, start);
    parts.push_back(line.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

bool Int(std::string_view text, int low, int high, int& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && value >= low && value <= high;
}

bool RowOf(const std::vector<std::string_view>& f, DeviceRow& row) {
  if (f.size() != 11 || f[0].empty() || f[1].empty() || f[10].empty()) return false;
  row.name = f[0];
  row.label = f[1];
  row.source = f[10];
  double inches = 0;
  const auto [end, ec] = std::from_chars(f[4].data(), f[4].data() + f[4].size(), inches);
  row.inches = inches;
  const BookKindRow* kind = FindBookKindRow(f[8]);
  if (ec != std::errc() || end != f[4].data() + f[4].size() || inches <= 0 || kind == nullptr ||
      !BookIsOneFile(kind->output)) {
    return false;
  }
  row.kind = kind->output;
  if (f[6] == "grey") {
    row.colour = DeviceRow::Colour::kGrey;
  } else if (f[6] == "kaleido") {
    row.colour = DeviceRow::Colour::kKaleido;
  } else if (f[6] == "colour") {
    row.colour = DeviceRow::Colour::kColour;
  } else {
    return false;
  }
  return Int(f[2], 100, 8000, row.width) && Int(f[3], 100, 8000, row.height) &&
         Int(f[5], 72, 1200, row.ppi) && Int(f[7], 72, 1200, row.colourPpi) &&
         row.colourPpi <= row.ppi && Int(f[9], 1, 2, row.pages);
}

const DeviceSetting& ReadyMade(std::string_view name) {
  for (const DeviceSetting& s : kDeviceSettings) {
    if (s.name == name) return s;
  }
  return kDeviceSettings.front();
}

}  // namespace

bool ParseDeviceTable(std::string_view text, std::vector<DeviceRow>& rows, std::string& error) {
  rows.clear();
  bool header = true;
  int number = 0;
  for (std::string_view line : Split(text, '\n')) {
    ++number;
    if (line.empty() || line.front() == '#') continue;
    if (header) {
      header = false;
      continue;
    }
    DeviceRow row;
    if (!RowOf(Split(line, '\t'), row)) {
      error = "line " + std::to_string(number) + ": " + std::string(line);
      return false;
    }
    for (const DeviceRow& other : rows) {
      if (EqualsIgnoringAsciiCase(other.name, row.name)) {
        error = "line " + std::to_string(number) + ": a second " + row.name;
        return false;
      }
    }
    rows.push_back(std::move(row));
  }
  return true;
}

const std::vector<DeviceRow>& DeviceRows() {
  static const std::vector<DeviceRow> rows = [] {
    std::vector<DeviceRow> parsed;
    std::string error;
    if (!ParseDeviceTable(kDeviceTableText, parsed, error)) parsed.clear();
    return parsed;
  }();
  return rows;
}

const DeviceRow* FindDevice(std::string_view name) {
  for (const DeviceRow& row : DeviceRows()) {
    if (EqualsIgnoringAsciiCase(row.name, name)) return &row;
  }
  return nullptr;
}

void ApplyDevice(const DeviceRow& device, CParaBlock& block) {
  for (const DeviceSetting& s : kDeviceSettings) {
    if (s.name == device.name) {
      ApplyDeviceSetting(s, block);
      return;
    }
  }
  const bool grey = device.colour == DeviceRow::Colour::kGrey;
  ApplyDeviceSetting(ReadyMade(grey ? "eink-6-1072x1448" : "tablet-10-1600x2560"), block);
  int width = device.width;
  int height = device.height;
  if (device.colour == DeviceRow::Colour::kKaleido) {
    // Colour kept, at the colour layer's resolution (its pixels are
    // larger: more would only be thrown away by the screen).
    width = static_cast<int>(std::lround(width * double(device.colourPpi) / device.ppi));
    height = static_cast<int>(std::lround(height * double(device.colourPpi) / device.ppi));
  }
  block.SetValue(kFitWidth, width);
  block.SetValue(kFitHeight, height);
  block.SetValue(kBookKind, static_cast<int>(device.kind));
  block.SetName(device.name);
}

void ApplyDeviceToRun(const DeviceRow& device, BatchSettings& settings) {
  settings.bookPixelsPerInch =
      device.colour == DeviceRow::Colour::kKaleido ? device.colourPpi : device.ppi;
  settings.bookSpreads = device.pages == 2;
  settings.pageDeflateLevel = kDevicePageDeflateLevel;
}

}  // namespace inkbrite
