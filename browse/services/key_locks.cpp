// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/services/key_locks.h"

#include <QGuiApplication>

#ifdef INKBRITE_HAVE_X11
#include <X11/XKBlib.h>
#include <X11/keysym.h>
#endif

namespace inkbrite {

std::optional<KeyLocks> ReadKeyLocks() {
#ifdef INKBRITE_HAVE_X11
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  Display* display = x11 ? x11->display() : nullptr;
  if (display == nullptr) return std::nullopt;
  XkbStateRec state{};
  if (XkbGetState(display, XkbUseCoreKbd, &state) != Success) return std::nullopt;
  // Caps Lock is the lock modifier; Num Lock is whichever modifier the
  // keyboard map gives the Num_Lock key (usually Mod2).
  const unsigned numMask = XkbKeysymToModifiers(display, XK_Num_Lock);
  KeyLocks locks;
  locks.caps = (state.locked_mods & LockMask) != 0;
  locks.num = numMask != 0 && (state.locked_mods & numMask) != 0;
  return locks;
#else
  return std::nullopt;
#endif
}

}  // namespace inkbrite
