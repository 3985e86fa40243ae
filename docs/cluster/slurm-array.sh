#!/bin/bash
# SPDX-License-Identifier: GPL-2.0-or-later
# One part of an inkbrite-batch job per task of a Slurm job array.
#
#   jid=$(sbatch --parsable --export=ALL,SRC=/shared/scans,DST=/shared/out slurm-array.sh)
#   sbatch --dependency=afterany:$jid --export=ALL,DST=/shared/out slurm-merge.sh
#
# More parts: sbatch --array=0-15 ... (the array's size is the number of
# parts; give it as a range, e.g. 0-15 or 1-16, not a list).
#
# SRC, DST           the folders; every node sees them at the same paths
# RECORDS            the folder of the parts' records (default: DST.records)
# INKBRITE_OPTIONS   conversion options, e.g. "--ext .png --load clean"
#
# A task that is preempted, requeued or submitted again continues where it
# stopped (--skip-existing reads what its earlier run recorded). A task whose
# part had files that could not be converted exits 1 (FAILED in sacct): its
# record names them, and the merge job runs after any end (afterany).
#SBATCH --job-name=inkbrite
#SBATCH --array=0-3
#SBATCH --cpus-per-task=2
#SBATCH --requeue
#SBATCH --output=inkbrite-%A_%a.out
set -euo pipefail
: "${SRC:?set SRC to the source folder}" "${DST:?set DST to the target folder}"
records=${RECORDS:-$DST.records}
mkdir -p "$records"
# shellcheck disable=SC2086  # INKBRITE_OPTIONS is a list of words
exec inkbrite-batch --shard auto --jobs "${SLURM_CPUS_PER_TASK:-1}" --skip-existing \
  --record-format jsonl --record "$records/part-$SLURM_ARRAY_TASK_ID.jsonl" \
  ${INKBRITE_OPTIONS:-} "$SRC" "$DST"
