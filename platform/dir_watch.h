// SPDX-License-Identifier: GPL-2.0-or-later
// DirectoryWatch: tells whether names in one folder changed.
//
// Watches a single folder, not its subfolders, for entries created, deleted
// or renamed (moved in, moved out, or renamed inside it), files and folders
// alike. Changes of a file's content, size, times or attributes do not count.
// Nothing waits: the owner polls TakeSignal when it wants to know (the
// directory list does so at each page move), so no event loop is needed.
//
// Threads: one owner thread.
#pragma once

#include <filesystem>

namespace inkbrite {

class DirectoryWatch {
 public:
  DirectoryWatch() = default;
  ~DirectoryWatch();
  DirectoryWatch(const DirectoryWatch&) = delete;
  DirectoryWatch& operator=(const DirectoryWatch&) = delete;

  // Starts watching `folder` (closing any earlier watch). False when the
  // folder cannot be watched (missing, not a folder, no permission, the
  // system's watch limit reached); the object then never signals.
  bool Open(const std::filesystem::path& folder);
  void Close();
  bool IsOpen() const;

  // True when a name changed since the last call (or since Open); tests
  // without waiting and re-arms the watch.
  bool TakeSignal();

 private:
#ifdef _WIN32
  void* m_handle = nullptr;  // change-notification handle
#else
  int m_fd = -1;  // inotify instance, non-blocking
#endif
};

}  // namespace inkbrite
