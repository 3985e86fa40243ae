#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The manual pages and the bash completion of inkbrite-batch name exactly the
# options its --help names.
#   check-cli-docs.sh INKBRITE_BATCH MANPAGE COMPLETION [MANPAGE...]
set -euo pipefail
program=$1 manpage=$2 completion=$3
shift 3

options() { grep -oE -- '--[a-z][a-z-]*' | sort -u; }

from_help=$("$program" --help | options)
from_man=$(sed 's/\\-/-/g' "$manpage" | options)
from_completion=$(sed -n '/local options="/,/"/p' "$completion" | options)

status=0
compare() {
  local what=$1 list=$2
  if [ "$from_help" != "$list" ]; then
    echo "$what and --help differ (< --help, > $what):" >&2
    diff <(echo "$from_help") <(echo "$list") >&2 || true
    status=1
  fi
}
[ -n "$from_help" ] || { echo "no options in $program --help" >&2; exit 1; }
compare "$manpage" "$from_man"
compare "$completion" "$from_completion"
for other in "$@"; do
  compare "$other" "$(sed 's/\\-/-/g' "$other" | options)"
done
exit $status
