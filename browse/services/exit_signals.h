// SPDX-License-Identifier: GPL-2.0-or-later
// Ending the viewer on SIGTERM and SIGHUP (what logging out of the desktop,
// a shutdown or a closed terminal send) as the window's own Exit does: the
// signal only writes a byte to a pipe; the event loop reads it and leaves,
// so the recent-file list and the settings are written on the way out as
// at a normal exit. A second signal while the first is being answered is
// the same request.
//
// Threads: installed and answered on the user-interface thread (the handler
// itself only calls write()).
#pragma once

namespace inkbrite {

// Installs the handlers (once per process; later calls do nothing). The
// answer is QCoreApplication::quit(). False when the pipe or a handler
// cannot be had (the signals then end the process as before).
bool InstallExitSignals();

}  // namespace inkbrite
