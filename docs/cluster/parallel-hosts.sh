#!/bin/bash
# SPDX-License-Identifier: GPL-2.0-or-later
# An inkbrite-batch job in parts over several hosts with GNU parallel, then
# the parts' records merged:
#
#   HOSTS=8/node1,8/node2 PARTS=16 parallel-hosts.sh /shared/scans /shared/out
#
# HOSTS              GNU parallel's --sshlogin list: "N/host" runs N parts at
#                    once on host (ssh without a password); ":" is this machine
#                    (default: ":")
# PARTS              number of parts (default: 8); more parts than slots keep
#                    every host busy to the end
# JOBS               files each part converts at once (default: 1)
# RECORDS            the folder of the parts' records (default: DST.records)
# INKBRITE_OPTIONS   conversion options, e.g. "--ext .png --load clean"
#
# Every host sees SRC, DST and RECORDS at the same paths and has
# inkbrite-batch. Run it again after an interruption: parallel's job log
# skips the parts that finished, and the others continue where they stopped
# (--skip-existing). Exit status: 0 when every part ran (a part whose files
# partly failed counts: the merged record names those files), else 1.
set -euo pipefail
src=${1:?usage: parallel-hosts.sh SOURCE_DIR TARGET_DIR}
dst=${2:?usage: parallel-hosts.sh SOURCE_DIR TARGET_DIR}
parts=${PARTS:-8}
records=${RECORDS:-$dst.records}
mkdir -p "$records"
# shellcheck disable=SC2086  # INKBRITE_OPTIONS is a list of words
parallel --quote --sshlogin "${HOSTS:-:}" --joblog "$records/joblog" --resume-failed \
  inkbrite-batch --quiet --shard '{}'/"$parts" --jobs "${JOBS:-1}" --skip-existing \
  --record-format jsonl --record "$records/part-{}.jsonl" ${INKBRITE_OPTIONS:-} "$src" "$dst" \
  ::: $(seq 0 $((parts - 1))) || true
# Column 7 of the job log is the exit status: 0 all converted, 1 some files
# failed; anything else (refused, stopped, killed) means a part did not run.
ran=$(awk -F'\t' 'NR > 1 && ($7 == 0 || $7 == 1) { print $1 }' "$records/joblog" | sort -u | wc -l)
inkbrite-batch --record "$dst.jsonl" --merge-records "$records"/part-*.jsonl
[ "$ran" -eq "$parts" ]
