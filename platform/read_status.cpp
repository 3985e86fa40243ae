// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/read_status.h"

#include <system_error>

namespace inkbrite {

namespace {

thread_local ReadNotes* t_notes = nullptr;

}  // namespace

const ReadErrorRow& ReadErrorInfo(ReadError error) {
  for (const ReadErrorRow& row : kReadErrors) {
    if (row.error == error) return row;
  }
  return kReadErrors[0];
}

std::string ReadStatusText(const ReadStatus& status) {
  const ReadErrorRow& row = ReadErrorInfo(status.error);
  if (row.text.empty()) return {};
  if (status.error != ReadError::kIoError) return std::string(EngineText(row.text));
  const std::string system = status.errorNumber != 0
                                 ? std::generic_category().message(status.errorNumber) +
                                       " (errno " + std::to_string(status.errorNumber) + ")"
                                 : std::string("?");
  return EngineTextArgs(row.text, {system});
}

void NoteReadFailure(ReadError error, int errorNumber) {
  if (t_notes != nullptr) t_notes->NoteIfNone(error, errorNumber);
}

ReadNotes::ReadNotes() : m_outer(t_notes) { t_notes = this; }

ReadNotes::~ReadNotes() { t_notes = m_outer; }

void ReadNotes::NoteIfNone(ReadError error, int errorNumber) {
  if (!m_status.Failed() && error != ReadError::kNone) m_status = {error, errorNumber};
}

}  // namespace inkbrite
