// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/services/exit_signals.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

namespace inkbrite {

namespace {

int g_pipe[2] = {-1, -1};

void OnExitSignal(int /*signal*/) {
  const int saved = errno;
  const char byte = 1;
  // A full pipe already holds a request.
  [[maybe_unused]] const ssize_t written = write(g_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

bool InstallExitSignals() {
  if (g_pipe[0] >= 0) return true;
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_pipe) != 0) {
    g_pipe[0] = g_pipe[1] = -1;
    return false;
  }
  auto* notifier =
      new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
    char bytes[16];
    while (read(g_pipe[0], bytes, sizeof bytes) > 0) {
    }
    QCoreApplication::quit();
  });
  struct sigaction action = {};
  action.sa_handler = OnExitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  return sigaction(SIGTERM, &action, nullptr) == 0 && sigaction(SIGHUP, &action, nullptr) == 0;
}

}  // namespace inkbrite
