#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The installed thumbnailer as GNOME Files (Nautilus) runs it: GNOME's own
# thumbnail factory (gnome-desktop, in its bubblewrap sandbox) finds
# inkbrite.thumbnailer among the installed thumbnailers, runs it on each book
# given and writes the freedesktop cache (thumbnails/normal/MD5-OF-URI.png
# with Thumb::URI and Thumb::MTime), in a scratch cache folder. Run it after
# `make install` or installing the package:
#   scripts/check-thumbnailer.sh BOOK...
# It installs gir1.2-gnomedesktop-3.0 and bubblewrap when they are missing.
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 BOOK..." >&2; exit 2; }
missing=()
for p in gir1.2-gnomedesktop-3.0 bubblewrap python3-gi; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  ${SUDO:-$( [ "$(id -u)" -eq 0 ] || echo sudo)} apt-get install -y -q "${missing[@]}" >/dev/null
fi
cache=$(mktemp -d)
trap 'rm -rf "$cache"' EXIT
XDG_CACHE_HOME=$cache /usr/bin/python3 - "$@" <<'PY'
import hashlib, os, sys
import gi
gi.require_version("GnomeDesktop", "3.0")
gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf, Gio, GnomeDesktop

factory = GnomeDesktop.DesktopThumbnailFactory.new(GnomeDesktop.DesktopThumbnailSize.NORMAL)
failed = 0
for path in sys.argv[1:]:
    file = Gio.File.new_for_path(os.path.abspath(path))
    info = file.query_info("standard::content-type,time::modified", 0, None)
    mime, uri = info.get_content_type(), file.get_uri()
    mtime = info.get_attribute_uint64("time::modified")
    try:
        if not factory.can_thumbnail(uri, mime, mtime):
            raise RuntimeError("no thumbnailer for " + mime)
        factory.save_thumbnail(factory.generate_thumbnail(uri, mime, None), uri, mtime, None)
        out = os.path.join(os.environ["XDG_CACHE_HOME"], "thumbnails/normal",
                           hashlib.md5(uri.encode()).hexdigest() + ".png")
        made = GdkPixbuf.Pixbuf.new_from_file(out)
        if made.get_option("tEXt::Thumb::URI") != uri or max(made.get_width(), made.get_height()) > 128:
            raise RuntimeError("the cached thumbnail is not the book's")
        print("ok   %s (%s): %dx%d in %s" % (path, mime, made.get_width(), made.get_height(), out))
    except Exception as error:
        failed += 1
        print("FAIL %s (%s): %s" % (path, mime, error))
sys.exit(1 if failed else 0)
PY
