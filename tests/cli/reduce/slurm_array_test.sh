#!/usr/bin/env bash
# The example job array on a real one-node Slurm cluster started here (munge
# and slurmctld/slurmd on localhost, all state in a temporary folder, stopped
# at the end): every file is reduced exactly once, with the same profiles as
# one process gives; a task cancelled in the middle leaves no partial file,
# and the resubmitted array finishes the rest.
#   slurm_array_test.sh VOKIP_REDUCE VOKIP_MAKE_SAMPLE EXAMPLE_SCRIPT
set -euo pipefail
reduce=$1 make_sample=$2 example=$3 python=$4
for tool in slurmctld slurmd munged sbatch; do
  command -v "$tool" >/dev/null || { echo "missing $tool (slurm-wlm, munge)"; exit 1; }
done
[ "$(id -u)" -eq 0 ] || { echo "needs root to run slurmd"; exit 1; }

dir=$(mktemp -d /tmp/vokip-slurm-XXXXXX)
stop_cluster() {
  for pidfile in "$dir"/slurmd.pid "$dir"/slurmctld.pid "$dir"/munged.pid; do
    [ -f "$pidfile" ] && kill "$(cat "$pidfile")" 2>/dev/null || true
  done
  sleep 1
  rm -rf "$dir"
}
trap stop_cluster EXIT
fail() { echo "FAIL: $*"; exit 1; }

# munge with its own socket, and a cluster of this one node.
munged --socket="$dir/munge.socket" --key-file=/etc/munge/munge.key --pid-file="$dir/munged.pid" \
  --log-file="$dir/munged.log" --seed-file="$dir/munged.seed" --force 2>/dev/null
host=$(hostname -s)
memory=$(($(awk '/MemTotal/ {print $2}' /proc/meminfo) / 1024 - 512))
port=$((17000 + RANDOM % 2000))
mkdir -p "$dir/state" "$dir/spool"
cat >"$dir/slurm.conf" <<CONF
ClusterName=vokiptest
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
AuthType=auth/munge
AuthInfo=socket=$dir/munge.socket
CryptoType=crypto/munge
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SwitchType=switch/none
MpiDefault=none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
KillWait=5
NodeName=$host NodeAddr=127.0.0.1 CPUs=$(nproc) RealMemory=$memory State=UNKNOWN
PartitionName=test Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF=$dir/slurm.conf
slurmctld -f "$SLURM_CONF" -i
slurmd -f "$SLURM_CONF"
for _ in $(seq 60); do
  sinfo -h -o %t 2>/dev/null | grep -q idle && break
  sleep 1
done
sinfo -h -o %t | grep -q idle || fail "the node did not come up: $(tail -3 "$dir/slurmctld.log")"

# Twelve images; the reference profiles from one process.
mkdir -p "$dir/data" "$dir/bin"
for k in $(seq 10 21); do
  "$make_sample" "$dir/data/image$k.mar2000" --size 2000 --seed "$k" >/dev/null
done
ln -s "$reduce" "$dir/bin/vokip-reduce"
export PATH=$dir/bin:$PATH
vokip-reduce "$dir/data/*.mar2000" -q --chi -o "$dir/reference"

start() {  # array range, output folder: the example array, submitted; prints its job id
  (cd "$dir" && sbatch --parsable --array="$1" \
    --export=ALL,IMAGES="$dir/data/*.mar2000",OUTPUT="$2",OPTIONS=--chi "$example")
}
wait_for() {  # job id: until none of its tasks is queued or running
  for _ in $(seq 600); do
    squeue -h -j "$1" 2>/dev/null | grep -q . || return 0
    sleep 0.2
  done
  fail "job $1 did not finish"
}
submit() {  # array range, output folder: the example array, run to its end; prints its job id
  local job
  job=$(start "$1" "$2")
  wait_for "$job"
  echo "$job"
}
same_as_reference() {  # output folder
  local out=$1 n=0
  for ref in "$dir"/reference/*; do
    cmp -s "$ref" "$out/$(basename "$ref")" || fail "$out/$(basename "$ref") differs from one process"
    n=$((n + 1))
  done
  [ "$n" -eq 24 ] || fail "expected 24 reference files, found $n"
}
no_partial_file() {  # output folder
  if find "$1" -name '.*.part' | grep -q .; then fail "partial files left: $(ls -a "$1")"; fi
  for xy in "$1"/*.xy; do
    [ -s "$xy" ] && [ "$(tail -c1 "$xy" | od -An -c | tr -d ' ')" = '\n' ] || fail "$xy is not whole"
  done
}

# Four tasks: every file reduced by exactly one of them.
job=$(submit 1-4 "$dir/array")
reduced=$(cat "$dir"/vokip-reduce-"$job"_*.log | grep -c ' -> ' || true)
[ "$reduced" -eq 12 ] || fail "the array reduced $reduced files, not 12: $(cat "$dir"/vokip-reduce-"$job"_*.log)"
cat "$dir"/vokip-reduce-"$job"_*.log | grep ' -> ' | awk '{print $1}' | sort | uniq -d | grep -q . &&
  fail "a file was reduced twice"
same_as_reference "$dir/array"
echo "array of 4 tasks: 12 files reduced once each, profiles equal one process's"

# Two tasks of six files; the first is cancelled once its first profile exists.
out=$dir/killed
job=$(start 1-2 "$out")
for _ in $(seq 2000); do
  [ -f "$out/image10.chi" ] && break
  sleep 0.02
done
scancel "${job}_1"
wait_for "$job"
done_before=$(ls "$out"/image1[0-5].xy 2>/dev/null | wc -l)
no_partial_file "$out"
[ "$done_before" -lt 6 ] || fail "the cancelled task had already finished its share"
echo "cancelled task: $done_before of its 6 files done, no partial file"
submit 1-2 "$out" >/dev/null
no_partial_file "$out"
same_as_reference "$out"
echo "resubmitted with --skip-existing: all 12 files done, profiles equal one process's"

# The run in one file: each task writes its share's, a job after the array
# joins them (README's commands); the same file as one process writes.
bins="--range 2:30 --bins 500"
job=$(cd "$dir" && sbatch --parsable --array=1-3 \
  --export=ALL,IMAGES="$dir/data/*.mar2000",OUTPUT="$dir/run",RUN=run,OPTIONS="$bins" "$example")
joined=$(cd "$dir" && sbatch --parsable --dependency=afterany:"$job" --output="$dir/join.log" \
  --wrap "vokip-reduce --join $dir/run.h5 '$dir/run/run.*-of-3.h5'")
wait_for "$job"
wait_for "$joined"
# shellcheck disable=SC2086  # bins holds several words
vokip-reduce "$dir/data/*.mar2000" -q $bins -o "$dir/one" --hdf5 "$dir/one.h5"
"$python" - "$dir/run.h5" "$dir/one.h5" <<'PY' || fail "the joined run file differs from one process's: $(cat "$dir/join.log")"
import sys
import h5py
import numpy as np
joined, one = (h5py.File(p, "r") for p in sys.argv[1:])
names = []
one.visit(names.append)
assert len(names) > 20 and joined["entry/profiles/intensity"].shape == (12, 500)
for name in names:
    if isinstance(one[name], h5py.Dataset):
        assert np.array_equal(joined[name][()], one[name][()], equal_nan=one[name].dtype.kind == "f"), name
PY
echo "array of 3 tasks with RUN and a join after it: the run file equals one process's"
