#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The programs that load the GPL-2.0-only libemf2svg (through the metafile
# module, libinkbrite-metafile.so, which links it) must not load a library
# under Apache-2.0 alone (Highway, libgav1, Abseil: Debian's libjxl and
# libavif bring them in; oneDNN, which the learned upscaling runs on), nor
# may the module itself; and the codec helper that links those must load
# neither libemf2svg nor the module (it carries no metafile reader, so not
# even the module's name).
#   check-linkage.sh INKBRITE INKBRITE_BATCH INKBRITE_CODEC METAFILE_MODULE
set -euo pipefail
status=0
for program in "$1" "$2" "$4"; do
  if ldd "$program" | grep -E 'lib(hwy|gav1|absl_|dnnl)[^ ]*\.so' ; then
    echo "$program loads a library under Apache-2.0 alone (above)"
    status=1
  fi
done
# (ldd's whole output first: grep -q leaving early would fail the pipe.)
if ! grep -q 'libemf2svg' <<<"$(ldd "$4")"; then
  echo "$4 does not link libemf2svg: not the metafile module?"
  status=1
fi
if ldd "$3" | grep -E 'libemf2svg' ; then
  echo "$3 loads libemf2svg"
  status=1
fi
if grep -q 'libinkbrite-metafile' "$3"; then
  echo "$3 carries the metafile module's loader"
  status=1
fi
exit $status
