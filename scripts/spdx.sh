#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Every source file names its licence in an SPDX line at the top (the second
# line after a "#!" line). `spdx.sh` lists the files without one and fails;
# `spdx.sh --fix` adds the line to them.
set -euo pipefail
cd "$(dirname "$0")/.."

LICENCE="GPL-2.0-or-later"
fix=0
[ "${1:-}" = "--fix" ] && fix=1

missing=0
while IFS= read -r f; do
  [ -f "$f" ] || continue
  case "$f" in
    *.cpp | *.h) comment="//" ;;
    *) comment="#" ;;
  esac
  line="$comment SPDX-License-Identifier: $LICENCE"
  if head -n 2 "$f" | grep -qF "SPDX-License-Identifier: $LICENCE"; then
    continue
  fi
  if [ $fix -eq 1 ]; then
    if head -c 2 "$f" | grep -q '^#!'; then
      sed -i "1a\\$line" "$f"
    else
      sed -i "1i\\$line" "$f"
    fi
  else
    echo "no SPDX licence line: $f" >&2
    missing=$((missing + 1))
  fi
done < <(git ls-files --cached --others --exclude-standard \
  '*.cpp' '*.h' '*.cmake' '*.sh' '*.py' 'CMakeLists.txt' '*/CMakeLists.txt' \
  'Makefile' '.ci/*' 'scripts/*')

if [ $missing -ne 0 ]; then
  echo "spdx: $missing file(s) without \"SPDX-License-Identifier: $LICENCE\" in their first" \
       "two lines (scripts/spdx.sh --fix adds it)" >&2
  exit 1
fi
