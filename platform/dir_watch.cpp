// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/dir_watch.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/inotify.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#endif

namespace inkbrite {

DirectoryWatch::~DirectoryWatch() { Close(); }

#ifdef _WIN32

bool DirectoryWatch::Open(const std::filesystem::path& folder) {
  Close();
  HANDLE h = FindFirstChangeNotificationW(
      folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME);
  if (h == INVALID_HANDLE_VALUE) return false;
  m_handle = h;
  return true;
}

void DirectoryWatch::Close() {
  if (m_handle != nullptr) FindCloseChangeNotification(static_cast<HANDLE>(m_handle));
  m_handle = nullptr;
}

bool DirectoryWatch::IsOpen() const { return m_handle != nullptr; }

bool DirectoryWatch::TakeSignal() {
  if (m_handle == nullptr) return false;
  if (WaitForSingleObject(static_cast<HANDLE>(m_handle), 0) != WAIT_OBJECT_0) return false;
  FindNextChangeNotification(static_cast<HANDLE>(m_handle));
  return true;
}

#else

bool DirectoryWatch::Open(const std::filesystem::path& folder) {
  Close();
  if (folder.empty()) return false;
  const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return false;
  // Names only: created, deleted, moved in or out (a rename inside the folder
  // gives both moves). IN_ONLYDIR refuses a path that is not a folder.
  constexpr uint32_t kMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR;
  if (inotify_add_watch(fd, folder.c_str(), kMask) < 0) {
    ::close(fd);
    return false;
  }
  m_fd = fd;
  return true;
}

void DirectoryWatch::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

bool DirectoryWatch::IsOpen() const { return m_fd >= 0; }

bool DirectoryWatch::TakeSignal() {
  if (m_fd < 0) return false;
  // Drain every queued event: one signal covers any number of changes. An
  // overflowed queue (IN_Q_OVERFLOW) or the folder's own removal (IN_IGNORED)
  // also arrive as events and count as changes.
  bool changed = false;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
    if (n > 0) {
      changed = true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;  // EAGAIN: the queue is empty
  }
  return changed;
}

#endif

}  // namespace inkbrite
