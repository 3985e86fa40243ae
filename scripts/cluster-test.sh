#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Proves the recipes of docs/CLUSTER.md on this machine (make cluster-test):
# each runs one job in parts and is compared with one inkbrite-batch process
# over the same tree: the same files byte for byte, the merged record equal
# to the one-process record (the milliseconds aside), every file in exactly
# one part, no temporary file left.
#
#   cluster-test.sh BUILD_DIR [parallel|slurm|all]
#
# The job sharpens, greys and restores (despeckle, descreen, JPEG clean-up);
# with CLUSTER_LEARNED=1 it also takes the learned 2x upscaling (the weights
# must be in BUILD_DIR/models), on smaller pages so the runs stay short.
#
# parallel: docs/cluster/parallel-hosts.sh with GNU parallel, 4 parts at once
#           on this machine, then over two "hosts" reached through a stand-in
#           for ssh (it runs the command here; no ssh server is used); the
#           Kubernetes manifests parsed and checked, and their pod command
#           run for each index, 4 at once, with the volume's folder in place
#           of /data and this test's INKBRITE_OPTIONS (no Kubernetes, no
#           container: neither runs here).
# slurm:    a single-node Slurm (slurmctld, slurmd and munged, started from a
#           temporary slurm.conf and stopped again; needs root and the Debian
#           packages slurm-wlm and munge) runs docs/cluster/slurm-array.sh as
#           an array of 4 and slurm-merge.sh after it.
set -euo pipefail
build=$(cd "${1:?usage: cluster-test.sh BUILD_DIR [parallel|slurm|all]}" && pwd)
what=${2:-all}
repo=$(cd "$(dirname "$0")/.." && pwd)
recipes=$repo/docs/cluster
python=/usr/bin/python3
parts=4

work=$(mktemp -d /tmp/inkbrite-cluster.XXXXXX)
slurm_conf=""
munge_socket=""
cleanup() {
  if [ -n "$slurm_conf" ]; then
    SLURM_CONF=$slurm_conf scontrol shutdown >/dev/null 2>&1 || true
    for pid_file in "$work"/slurm/slurmctld.pid "$work"/slurm/slurmd.pid; do
      [ -s "$pid_file" ] && kill "$(cat "$pid_file")" 2>/dev/null || true
    done
  fi
  [ -n "$munge_socket" ] && munged --stop --socket="$munge_socket" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

step() { echo "== cluster-test: $*"; }
fail() {
  echo "cluster-test: FAILED: $*" >&2
  exit 1
}

# The recipes call inkbrite-batch as the package installs it.
mkdir -p "$work/bin"
ln -s "$build/app/inkbrite-batch" "$work/bin/inkbrite-batch"
export PATH="$work/bin:$PATH"
export INKBRITE_DATA_DIR="$work/data"
mkdir -p "$INKBRITE_DATA_DIR"

# The tree: comic pages in folders (one with a space, one not ASCII), a
# colour page every eighth (copied, not converted, with --skip-colour), two
# sources of one target, an unreadable page.
size=500x700
steps="--set Despeckle=2 --set Descreen=60 --set JpegCleanup=1"
if [ "${CLUSTER_LEARNED:-0}" = 1 ]; then
  [ -d "$build/models/waifu2x" ] || fail "CLUSTER_LEARNED=1: no weights in $build/models"
  steps="$steps --set Learned=1"
  size=240x340
fi
step "a tree of pages ($size; $steps)"
src="$work/src tree"
"$build/app/make_comic_pages" --pages 36 --large 0 --size $size --quality 85 \
  --prefix page "$src/vol 1" >/dev/null
"$build/app/make_comic_pages" --pages 20 --large 0 --size $size --quality 85 \
  --prefix 页 "$src/第2卷" >/dev/null
mkdir -p "$src/vol 1/extra"
mv "$src/vol 1"/page_03[0-6].jpg "$src/vol 1/extra/"
cp "$src/vol 1/page_003.jpg" "$src/vol 1/page_003.png"  # a second source of page_003.jpg
printf 'BM not a page' >"$src/vol 1/broken.bmp"
export INKBRITE_OPTIONS="--skip-colour --set Sharpen=2 --set GreyScale=2 $steps --ext .jpg"
# shellcheck disable=SC2086
inkbrite-batch --list0 $INKBRITE_OPTIONS "$src" "$work/out" >"$work/whole.list0"
files=$(tr -cd '\0' <"$work/whole.list0" | wc -c)
[ "$files" -eq 58 ] || fail "the tree has $files files, not 58"

step "one process: the reference"
status=0
# shellcheck disable=SC2086
inkbrite-batch --quiet --jobs 2 --record-format jsonl --record "$work/reference.jsonl" \
  $INKBRITE_OPTIONS "$src" "$work/out" || status=$?
[ "$status" -eq 1 ] || fail "the one-process run exited $status, not 1 (two files fail)"
mv "$work/out" "$work/reference"

# Every part lists its own files: together the whole list, none twice.
check_parts_list() {
  : >"$work/parts.list0"
  for k in $(seq 0 $((parts - 1))); do
    # shellcheck disable=SC2086
    inkbrite-batch --shard "$k/$parts" --list0 $INKBRITE_OPTIONS "$src" "$work/out" \
      >>"$work/parts.list0"
  done
  cmp -s <(sort -z "$work/parts.list0") <(sort -z "$work/whole.list0") ||
    fail "the parts' lists are not the whole list, each file once"
}

# The result in $work/out and the merged record $1 against the reference;
# $2..: the parts' records.
compare_with_reference() {
  local merged=$1
  shift
  if temps=$(find "$work/out" -name '*.inkbrite-tmp' | head -1) && [ -n "$temps" ]; then
    fail "temporary file left: $temps"
  fi
  diff -r "$work/reference" "$work/out" >"$work/diff.txt" ||
    fail "the written files differ from one process's: $(head -5 "$work/diff.txt")"
  "$python" - "$work/reference.jsonl" "$merged" "$files" "$@" <<'PY' || fail "records"
import json, sys
def entries(path):
    with open(path, 'rb') as f:
        return [json.loads(line) for line in f.read().decode('utf-8').splitlines()]
reference, merged, files, parts = entries(sys.argv[1]), entries(sys.argv[2]), int(sys.argv[3]), sys.argv[4:]
for e in reference + merged:
    assert set(e) == {'index', 'source', 'target', 'result', 'reason', 'reason_code', 'bytes_read',
                      'bytes_written', 'ms', 'settings'}, e
    del e['ms']
# With several jobs a record's lines reach it as the files finish (so that a
# killed run loses only the files in flight); merging puts them in walk order.
reference.sort(key=lambda e: e['index'])
assert merged == reference, 'the merged record is not the one-process record'
assert [e['index'] for e in merged] == list(range(files)), 'walk indexes'
seen = {}
for part in parts:
    for e in entries(part):
        assert e['index'] not in seen, (e['source'], part, seen.get(e['index']))
        seen[e['index']] = part
assert len(seen) == files, ('files in no part', files - len(seen))
results = sorted(e['result'] for e in merged)
assert results.count('read-failed') == 1 and results.count('name-taken') == 1, results
assert results.count('copied') > 0 and results.count('converted') > 0, results
PY
}

run_parallel() {
  step "GNU parallel: $parts parts at once on this machine"
  rm -rf "$work/out" "$work/out.records" "$work/out.jsonl"
  HOSTS="$parts/:" PARTS=$parts "$recipes/parallel-hosts.sh" "$src" "$work/out" ||
    fail "parallel-hosts.sh on this machine"
  compare_with_reference "$work/out.jsonl" "$work/out.records"/part-*.jsonl
  # All parts ran at once: one moment lies inside every part's run.
  "$python" - "$work/out.records/joblog" "$parts" <<'PY' || fail "the parts did not run at once"
import sys
rows = [line.split('\t') for line in open(sys.argv[1]).read().splitlines()[1:]]
assert len(rows) == int(sys.argv[2]), rows
starts = [float(r[2]) for r in rows]
ends = [float(r[2]) + float(r[3]) for r in rows]
assert max(starts) < min(ends), (starts, ends)
PY

  step "GNU parallel: $parts parts over two hosts (an ssh stand-in)"
  rm -rf "$work/out" "$work/out.records" "$work/out.jsonl"
  cat >"$work/bin/ssh-here" <<'SH'
#!/bin/bash
# ssh's command line, run on this machine: options, the host, "--", the
# command that ssh would hand the remote shell.
while [ $# -gt 0 ] && [ "${1#-}" != "$1" ]; do
  case $1 in -l | -p | -o | -i | -F | -S | -J) shift 2 ;; *) shift ;; esac
done
echo "$1" >>"$HOSTS_SEEN"
shift
[ "${1:-}" = "--" ] && shift
# A login by ssh sets SHELL from the account; GNU parallel's remote worker
# runs the job with $SHELL and does nothing without it.
export SHELL=/bin/bash
exec /bin/bash -c "$*"
SH
  chmod +x "$work/bin/ssh-here"
  export HOSTS_SEEN="$work/hosts-seen"
  : >"$HOSTS_SEEN"
  PARALLEL_SSH="$work/bin/ssh-here" HOSTS="2/node-a,2/node-b" PARTS=$parts \
    "$recipes/parallel-hosts.sh" "$src" "$work/out" || fail "parallel-hosts.sh over two hosts"
  [ "$(sort -u "$HOSTS_SEEN" | tr '\n' ' ')" = "node-a node-b " ] ||
    fail "the parts did not go to both hosts: $(sort "$HOSTS_SEEN" | uniq -c)"
  compare_with_reference "$work/out.jsonl" "$work/out.records"/part-*.jsonl

  step "Kubernetes: the manifests parsed, their pod command run for each index"
  rm -rf "$work/out" "$work/k8s"
  mkdir -p "$work/k8s"
  "$python" - "$recipes/indexed-job.yaml" "$recipes/merge-job.yaml" "$work/k8s" <<'PY' ||
import sys, yaml
def one(path):
    docs = [d for d in yaml.safe_load_all(open(path)) if d is not None]
    assert len(docs) == 1, path
    return docs[0]
job, merge = one(sys.argv[1]), one(sys.argv[2])
for doc in (job, merge):
    assert doc['apiVersion'] == 'batch/v1' and doc['kind'] == 'Job', doc
    pod = doc['spec']['template']['spec']
    assert pod['restartPolicy'] in ('Never', 'OnFailure')
    (container,) = pod['containers']
    mounts = {m['name']: m['mountPath'] for m in container['volumeMounts']}
    volumes = {v['name'] for v in pod['volumes']}
    assert set(mounts) <= volumes, (mounts, volumes)
    assert container['command'] == ['/bin/sh', '-c'] and len(container['args']) == 1
    assert container['image'] == 'inkbrite-batch:latest', container['image']
spec = job['spec']
assert spec['completionMode'] == 'Indexed'
parts = spec['completions']
assert spec['parallelism'] == parts
command = job['spec']['template']['spec']['containers'][0]['args'][0]
assert '--shard auto/%d ' % parts in command, command
assert '$INKBRITE_OPTIONS' in command, command
env = {e['name'] for e in job['spec']['template']['spec']['containers'][0]['env']}
assert env == {'INKBRITE_OPTIONS'}, env
mount = job['spec']['template']['spec']['containers'][0]['volumeMounts'][0]['mountPath']
merge_command = merge['spec']['template']['spec']['containers'][0]['args'][0]
out = sys.argv[3]
open(out + '/parts', 'w').write(str(parts))
open(out + '/mount', 'w').write(mount)
open(out + '/pod.sh', 'w').write(command)
open(out + '/merge.sh', 'w').write(merge_command)
PY
    fail "the Kubernetes manifests"
  [ "$(cat "$work/k8s/parts")" -eq "$parts" ] || fail "the Indexed Job has not $parts parts"
  mount=$(cat "$work/k8s/mount")
  volume="$work/volume"
  mkdir -p "$volume/scans"
  cp -r "$src"/. "$volume/scans/"
  pod=$(sed "s#$mount/#$volume/#g" "$work/k8s/pod.sh")
  # shellcheck disable=SC2034
  for k in $(seq 0 $((parts - 1))); do
    JOB_COMPLETION_INDEX=$k /bin/sh -c "$pod" >"$work/k8s/pod-$k.log" 2>&1 &
  done
  status=0
  for job in $(jobs -p); do wait "$job" || status=1; done
  [ "$status" -eq 0 ] || fail "a pod's command failed: $(cat "$work/k8s"/pod-*.log)"
  /bin/sh -c "$(sed "s#$mount/#$volume/#g" "$work/k8s/merge.sh")" ||
    fail "the merge job's command"
  # The reference was converted from "$src"; the record names paths
  # relative to the folders, so it compares as it is.
  mv "$volume/out" "$work/out"
  compare_with_reference "$volume/out.jsonl" "$volume/records"/part-*.jsonl
  grep -q '^FROM debian:12 AS build$' "$recipes/Dockerfile" &&
    grep -q '^FROM debian:12$' "$recipes/Dockerfile" || fail "the Dockerfile's stages"
  echo "   (the manifests were parsed, not applied; the Dockerfile was not built:"
  echo "    no Kubernetes and no docker run here)"
}

run_slurm() {
  if [ "$(id -u)" -ne 0 ]; then
    fail "the Slurm part starts slurmctld, slurmd and munged: run it as root"
  fi
  for tool in slurmctld slurmd sbatch munged; do
    command -v "$tool" >/dev/null || fail "$tool missing: bash scripts/install-deps.sh --cluster"
  done
  step "Slurm: munged, slurmctld and slurmd on this machine"
  local dir=$work/slurm node
  node=$(hostname -s)
  mkdir -p "$dir/munge" "$dir/state" "$dir/spool" "$dir/log" "$dir/key"
  chmod 755 "$dir" "$dir/munge"
  chmod 700 "$dir/key"
  dd if=/dev/urandom of="$dir/key/munge.key" bs=1024 count=1 status=none
  chmod 400 "$dir/key/munge.key"
  munge_socket=$dir/munge/munge.socket
  munged --force --socket="$munge_socket" --key-file="$dir/key/munge.key" \
    --log-file="$dir/log/munged.log" --pid-file="$dir/munge/munged.pid" \
    --seed-file="$dir/munge/munged.seed" || fail "munged did not start"
  slurm_conf=$dir/slurm.conf
  cat >"$slurm_conf" <<EOF
ClusterName=inkbrite-test
SlurmctldHost=$node(127.0.0.1)
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$munge_socket
CredType=cred/munge
SlurmctldPort=16817
SlurmdPort=16818
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
ReturnToService=2
NodeName=$node NodeAddr=127.0.0.1 CPUs=$(nproc) RealMemory=1000 State=UNKNOWN
PartitionName=inkbrite Nodes=ALL Default=YES MaxTime=INFINITE State=UP
EOF
  export SLURM_CONF=$slurm_conf
  slurmctld -f "$slurm_conf" || fail "slurmctld did not start: $(tail -5 "$dir/log/slurmctld.log")"
  slurmd -f "$slurm_conf" || fail "slurmd did not start: $(tail -5 "$dir/log/slurmd.log")"
  for _ in $(seq 60); do
    [ "$(sinfo -h -o %t 2>/dev/null)" = "idle" ] && break
    sleep 1
  done
  [ "$(sinfo -h -o %t)" = "idle" ] || fail "the node is not idle: $(sinfo)"

  step "Slurm: slurm-array.sh as an array of $parts, slurm-merge.sh after it"
  rm -rf "$work/out" "$work/out.records" "$work/out.jsonl"
  mkdir -p "$dir/submit"
  local array
  array=$(cd "$dir/submit" && SRC=$src DST=$work/out \
    sbatch --parsable --array=0-$((parts - 1)) --cpus-per-task=1 "$recipes/slurm-array.sh") ||
    fail "sbatch"
  array=${array%%;*}
  (cd "$dir/submit" && DST=$work/out sbatch --wait --quiet --dependency="afterany:$array" \
    "$recipes/slurm-merge.sh") || fail "the merge job: $(cat "$dir/submit"/inkbrite-merge-*.out)"
  for k in $(seq 0 $((parts - 1))); do
    grep -q "^inkbrite-batch: shard $k/$parts: " "$dir/submit/inkbrite-${array}_$k.out" ||
      fail "task $k printed no summary line: $(cat "$dir/submit/inkbrite-${array}_$k.out")"
  done
  compare_with_reference "$work/out.jsonl" "$work/out.records"/part-*.jsonl
  SLURM_CONF=$slurm_conf scontrol shutdown >/dev/null 2>&1 || true
  for _ in $(seq 30); do
    pgrep -F "$dir/slurmctld.pid" >/dev/null 2>&1 || pgrep -F "$dir/slurmd.pid" >/dev/null 2>&1 ||
      break
    sleep 1
  done
  slurm_conf=""
  munged --stop --socket="$munge_socket" >/dev/null 2>&1 || true
  munge_socket=""
  step "Slurm: daemons stopped"
}

check_parts_list
case $what in
  parallel) run_parallel ;;
  slurm) run_slurm ;;
  all) run_parallel && run_slurm ;;
  *) fail "unknown part: $what" ;;
esac
echo "cluster-test: passed ($what)"
