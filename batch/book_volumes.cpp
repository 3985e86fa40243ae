// SPDX-License-Identifier: GPL-2.0-or-later
#include <algorithm>
#include <cstdio>
#include <optional>

#include "batch/book_writer.h"
#include "platform/ascii_case.h"
#include "platform/file_io.h"
#include "sources/comic_info.h"

namespace inkbrite {

namespace {

// What the file of a volume holds besides its entries' bytes, at most: a
// zip's central directory end, an e-book's package, table of contents and
// container, a PDF's header, trailer and XMP packet.
constexpr uint64_t kVolumeOverhead = 32 * 1024;

// What a page adds to a volume beyond its bytes, at most: its zip headers
// (local, central, data descriptor and their extra fields) with its name
// twice; in an e-book also its XHTML page and its package entries; in a
// PDF its page, picture and content objects and their cross-references.
constexpr uint64_t kPageOverhead = 2048;

bool IsInfoName(const std::string& name) {
  const size_t slash = name.rfind('/');
  return EqualsIgnoringAsciiCase(slash == std::string::npos ? name : name.substr(slash + 1),
                                 "ComicInfo.xml");
}

}  // namespace

BookVolumes::BookVolumes(BookOutput output, std::filesystem::path target, BookMeta meta,
                         BookLayout layout, uint64_t maxBytes, size_t bookPages)
    : m_output(output),
      m_target(std::move(target)),
      m_meta(std::move(meta)),
      m_layout(layout),
      m_maxBytes(maxBytes),
      m_bookPages(bookPages) {}

BookVolumes::~BookVolumes() { Discard(); }

std::filesystem::path BookVolumePath(const std::filesystem::path& target, BookOutput output,
                                     size_t number) {
  const std::string extension(BookKindRowOf(output).extension);
  std::string name = target.filename().string();
  name.resize(name.size() - std::min(name.size(), extension.size()));
  return target.parent_path() / (name + " Vol. " + std::to_string(number) + extension);
}

// A volume's title: the book's and its number, once there is more than one.
std::string BookVolumes::VolumeTitle(size_t number) const {
  return m_meta.title + " Vol. " + std::to_string(number);
}

bool BookVolumes::Open() { return StartVolume(); }

bool BookVolumes::StartVolume() {
  Volume volume;
  volume.file = std::make_unique<SafeFileWriter>(m_target);
  volume.writer = MakeBookWriter(m_output, *volume.file, m_meta, m_layout);
  if (!volume.file->Open() || !volume.writer || !volume.writer->Open()) return Fail();
  volume.estimate = kVolumeOverhead;
  m_volumes.push_back(std::move(volume));
  for (const Other& other : m_others) {
    if (!AddOtherToVolume(other)) return false;
  }
  return true;
}

bool BookVolumes::Fail() {
  m_failed = true;
  return false;
}

bool BookVolumes::AddOtherToVolume(const Other& other) {
  Volume& v = m_volumes.back();
  v.estimate += other.bytes.size() + kPageOverhead;
  const bool ok = other.folder ? v.writer->AddOther(other.name, nullptr, 0, other.mtime)
                               : v.writer->AddOther(other.name, other.bytes.data(),
                                                    other.bytes.size(), other.mtime);
  return ok || Fail();
}

bool BookVolumes::AddOther(const std::string& name, const uint8_t* data, size_t size,
                           int64_t mtime) {
  if (m_failed || m_volumes.empty()) return false;
  if (m_maxBytes == 0) return m_volumes.back().writer->AddOther(name, data, size, mtime) || Fail();
  Other other{name, {}, mtime, data == nullptr};
  if (data != nullptr) other.bytes.assign(data, data + size);
  if (!other.folder && IsInfoName(name)) {
    // Told its volume's pages when the volume closes.
    m_infos.push_back(std::move(other));
    return true;
  }
  m_others.push_back(std::move(other));
  return AddOtherToVolume(m_others.back());
}

bool BookVolumes::AddPage(const std::string& name, uint64_t order, const uint8_t* data, size_t size,
                          int64_t mtime) {
  if (m_failed || m_volumes.empty()) return false;
  const uint64_t cost = size + size / 256 + 2 * name.size() + kPageOverhead;
  if (m_maxBytes != 0 && !m_volumes.back().pages.empty() &&
      m_volumes.back().estimate + cost + 2 * InfoBytes() > m_maxBytes) {
    // The page starts the next volume: the one before is whole.
    if (!CloseVolume(m_volumes.back()) || !StartVolume()) return Fail();
  }
  Volume& v = m_volumes.back();
  v.estimate += cost;
  v.pages.push_back(order);
  return v.writer->AddPage(name, order, data, size, mtime) || Fail();
}

uint64_t BookVolumes::InfoBytes() const {
  uint64_t bytes = 0;
  for (const Other& info : m_infos) bytes += info.bytes.size();
  return bytes;
}

// Finishes the last volume written: its ComicInfo.xml told its pages (and,
// of several volumes, its title) goes last; the file is checked against
// the limit.
bool BookVolumes::CloseVolume(Volume& v) {
  const size_t number = static_cast<size_t>(&v - m_volumes.data()) + 1;
  const bool several = m_volumes.size() > 1 || !v.last;
  const std::string title = several ? VolumeTitle(number) : std::string();
  if (several) {
    v.writer->SetTitle(title);
    if (!v.file->Retarget(BookVolumePath(m_target, m_output, number))) return Fail();
  }
  std::vector<uint8_t> outputs(m_bookPages, 0);
  for (const uint64_t order : v.pages) {
    const uint64_t page = order / kPageOrderStep;
    if (page < outputs.size() && outputs[page] < 255) ++outputs[page];
  }
  for (const Other& info : m_infos) {
    const std::optional<std::string> told =
        ComicInfoForPages(info.bytes.data(), info.bytes.size(), outputs, title);
    const bool ok =
        told ? v.writer->AddOther(info.name, reinterpret_cast<const uint8_t*>(told->data()),
                                  told->size(), info.mtime)
             : v.writer->AddOther(info.name, info.bytes.data(), info.bytes.size(), info.mtime);
    if (!ok) return Fail();
  }
  if (!v.writer->Close()) return Fail();
  const long size = std::ftell(v.file->Stream());
  if (m_maxBytes != 0 && (size < 0 || static_cast<uint64_t>(size) > m_maxBytes)) {
    m_overLimit = true;
    return Fail();
  }
  v.closed = true;
  return true;
}

bool BookVolumes::Close() {
  if (m_failed || m_volumes.empty()) return false;
  m_volumes.back().last = true;
  return CloseVolume(m_volumes.back());
}

bool BookVolumes::Commit() {
  if (m_failed) return false;
  for (Volume& v : m_volumes) {
    if (!v.closed || !v.file->Commit()) {
      // What was put in place goes again: the book is whole or absent.
      for (const Volume& done : m_volumes) {
        if (done.committed) {
          std::error_code ec;
          std::filesystem::remove(done.file->Target(), ec);
        }
      }
      Discard();
      return false;
    }
    v.committed = true;
    m_written.push_back(v.file->Target());
  }
  return true;
}

void BookVolumes::Discard() {
  for (Volume& v : m_volumes) {
    if (!v.committed && v.file) v.file->Discard();
  }
}

}  // namespace inkbrite
