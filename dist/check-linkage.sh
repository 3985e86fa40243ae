#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The programs that link the GPL-2.0-only libemf2svg must not load a library
# under Apache-2.0 alone (Highway, libgav1, Abseil: Debian's libjxl and
# libavif bring them in; oneDNN, which the learned upscaling runs on), and
# the codec helper that links those must not load
# libemf2svg.
#   check-linkage.sh INKBRITE INKBRITE_BATCH INKBRITE_CODEC
set -euo pipefail
status=0
for program in "$1" "$2"; do
  if ldd "$program" | grep -E 'lib(hwy|gav1|absl_|dnnl)[^ ]*\.so' ; then
    echo "$program loads a library under Apache-2.0 alone (above)"
    status=1
  fi
done
if ldd "$3" | grep -E 'libemf2svg' ; then
  echo "$3 loads libemf2svg"
  status=1
fi
exit $status
