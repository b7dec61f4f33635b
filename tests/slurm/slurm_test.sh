#!/usr/bin/env bash
# A suite run on a real single-node Slurm cluster: slurmctld and slurmd (Debian's slurm-wlm)
# started in the foreground by this script, with auth/none, proctrack/pgid and task/none, their
# state, spool and logs in a temporary folder, on free ports; tools/sitewave-slurm submits a
# 4-task array of a small suite with realizations and its merge; the merged files must equal the
# unsharded run's. The daemons are stopped by their process ids. When they cannot start, the
# test says so and fails: it never skips.
#
#   tests/slurm/slurm_test.sh BUILD_DIR
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: slurm_test.sh BUILD_DIR}" && pwd)
batch=$build/sitewave-batch
work=$(mktemp -d /tmp/sitewave-slurm.XXXXXX)
ctld_pid="" slurmd_pid=""

fail() {
    echo "slurm test: FAILED: $*"
    for log in "$work"/slurmctld.log "$work"/slurmd.log "$work"/out/slurm/*.log; do
        [[ -f $log ]] || continue
        echo "== $log (last lines)"
        tail -n 25 "$log"
    done
    exit 1
}

stop() {
    for pid in $slurmd_pid $ctld_pid; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    rm -rf "$work"
}
trap stop EXIT

for cmd in slurmctld slurmd sbatch squeue sinfo; do
    command -v $cmd >/dev/null || fail "$cmd not found (Debian: slurmctld, slurmd, slurm-client)"
done
[[ -x $batch ]] || fail "$batch not built"

# Two free TCP ports, for this cluster only.
read -r port1 port2 < <(python3 -c '
import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*[x.getsockname()[1] for x in s])')
host=$(hostname -s)
cpus=$(nproc)
mkdir -p "$work/state" "$work/spool"
cat >"$work/slurm.conf" <<CONF
ClusterName=sitewave-test
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$port1
SlurmdPort=$port2
AuthType=auth/none
CredType=cred/none
ProctrackType=proctrack/pgid
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerType=sched/backfill
MpiDefault=none
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
SlurmctldDebug=info
SlurmdDebug=info
ReturnToService=2
JobCompType=jobcomp/none
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
NodeName=$host NodeAddr=127.0.0.1 CPUs=$cpus State=UNKNOWN
PartitionName=test Nodes=ALL Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF=$work/slurm.conf

slurmctld -D -i -f "$SLURM_CONF" >"$work/slurmctld.out" 2>&1 &
ctld_pid=$!
slurmd -D -f "$SLURM_CONF" -N "$host" >"$work/slurmd.out" 2>&1 &
slurmd_pid=$!
echo "slurm test: slurmctld (pid $ctld_pid) and slurmd (pid $slurmd_pid) on ports $port1, $port2"
ready=0
for _ in $(seq 60); do
    kill -0 "$ctld_pid" 2>/dev/null || { cat "$work/slurmctld.out"; fail "slurmctld could not start"; }
    kill -0 "$slurmd_pid" 2>/dev/null || { cat "$work/slurmd.out"; fail "slurmd could not start"; }
    state=$(sinfo -h -N -o '%T' 2>/dev/null | head -n 1)
    if [[ $state == idle* ]]; then
        ready=1
        break
    fi
    sleep 1
done
((ready)) || fail "the node did not come up within 60 s (state: ${state:-none})"
echo "slurm test: node $host idle, $cpus CPUs"

# The suite: a varied site (12 realizations) on five short records, with response spectra.
cd "$work"
python3 - <<'PY'
import math
for k in range(5):
    with open(f"r{k}.csv", "w") as f:
        f.write("t,a,b,c\n")
        for j in range(800):
            t = 0.01 * j
            taper = math.sin(math.pi * j / 799)
            f.write(f"{t:.2f},{(0.1 + 0.05 * k) * taper * math.sin(2 * math.pi * (1.5 + k) * t):.6g},"
                    f"{0.1 * taper * math.sin(2 * math.pi * 4.1 * t + 0.3 * k):.6g},"
                    f"{0.05 * taper * math.sin(2 * math.pi * 6 * t):.6g}\n")
PY
sed -e 's/realizations = 50/realizations = 12/' "$root/examples/sites/best_varied.toml" >site.toml
suite=(--soil site.toml --input outcrop --spectra r0.csv r1.csv r2.csv r3.csv r4.csv)
"$batch" "${suite[@]}" --out one --jobs 1 >one.log 2>&1 || { cat one.log; fail "the unsharded run"; }
"$root/tools/sitewave-slurm" --shards 4 -- "$batch" "${suite[@]}" --out out || fail "sitewave-slurm"
echo "slurm test: array and merge submitted; waiting for them"
done_=0
for _ in $(seq 300); do
    if [[ -z $(squeue -h -o '%i' 2>/dev/null) ]]; then
        done_=1
        break
    fi
    sleep 1
done
((done_)) || { squeue; fail "the jobs did not end within 300 s"; }
for f in summary.csv statistics.csv profile-statistics.csv realizations.csv; do
    [[ -f out/$f ]] || fail "out/$f missing after the merge"
    cmp "one/$f" "out/$f" || fail "$f of the shards merged differs from the unsharded run's"
done
echo "slurm test: shard logs:"
for k in 0 1 2 3; do
    echo "  shard $k: $(tail -n 1 out/slurm/shard-$k.log)"
done
echo "  merge: $(cat out/slurm/merge.log)"
echo "slurm test: 4 shards merged equal the unsharded run (summary, statistics, profile statistics, realizations)"
