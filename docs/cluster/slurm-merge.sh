#!/bin/bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Merges the records of the parts that slurm-array.sh ran into one record in
# the order of the walk, as one run would have written it:
#
#   sbatch --dependency=afterany:$jid --export=ALL,DST=/shared/out slurm-merge.sh
#
# DST       the target folder of the parts
# RECORDS   the folder of the parts' records (default: DST.records)
# MERGED    the merged record (default: DST.jsonl)
#SBATCH --job-name=inkbrite-merge
#SBATCH --output=inkbrite-merge-%j.out
set -euo pipefail
: "${DST:?set DST to the target folder}"
records=${RECORDS:-$DST.records}
exec inkbrite-batch --record "${MERGED:-$DST.jsonl}" --merge-records "$records"/part-*.jsonl
