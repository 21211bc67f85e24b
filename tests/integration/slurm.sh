#!/usr/bin/env bash
# examples/farm/slurm-array.sh on a real Slurm cluster of one node, started here on
# 127.0.0.1 with its own munge key and everything in a temporary folder: a 4-task array
# renders every job exactly once, as a plain sequential render does; submitted again,
# every task finds its jobs up to date; a failing shard's status reaches sbatch.
# Usage: slurm.sh BUILD_DIR SOURCE_DIR
# (exit 77 = skipped: Slurm or munge is not installed). Runs as root (the daemons' user is
# then root) or as any other user (then theirs, which runs the jobs as itself).
set -euo pipefail
# Absolute: the tasks run in the temporary folder.
build=$(cd "$1" && pwd) src=$(cd "$2" && pwd)
skip() {
  echo "skipped: $*" >&2
  exit 77
}
for p in munged slurmctld slurmd sbatch sinfo scontrol squeue scancel; do
  command -v "$p" >/dev/null || PATH=$PATH:/usr/sbin:/sbin command -v "$p" >/dev/null ||
    skip "$p is not installed (apt install slurm-wlm munge)"
done
export PATH=$PATH:/usr/sbin:/sbin

work=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-slurm-XXXXXX")
# munged refuses a key or socket in a folder others may write to, and a socket in one they
# cannot pass through.
chmod 711 "$work"
etc=$work/etc
mkdir -p "$etc" "$work/ctld" "$work/spool" "$work/logs"
pids=() # of the daemons, started in the foreground as this script's children
sbatch_pid=
# Whether PID is a child of this script still running (not a process that took an ended
# child's number).
running_child() { jobs -pr | grep -qx "$1"; }

stop_daemon() { # PIDFILE... : end each daemon and wait until it has gone
  local f pid i
  for f in "$@"; do
    [ -s "$f" ] || continue
    pid=$(cat "$f")
    running_child "$pid" || continue
    kill -TERM "$pid" 2>/dev/null
    for ((i = 0; i < 300; i++)); do # 30 s
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    running_child "$pid" && kill -KILL "$pid"
  done
  return 0
}
cleanup() {
  local rc=$?
  set +e
  # A waiting sbatch would wait for the controller forever once it has gone.
  [ -n "$sbatch_pid" ] && running_child "$sbatch_pid" && kill "$sbatch_pid"
  # Jobs still about (a failure mid-run) are cancelled while the controller can do it, so
  # that slurmd takes their processes down with it.
  if [ -n "${SLURM_CONF:-}" ] && scontrol ping >/dev/null 2>&1; then
    scancel --full --quiet --partition=test 2>/dev/null
    for ((i = 0; i < 300; i++)); do
      [ -z "$(squeue -h -o %i 2>/dev/null)" ] && break
      sleep 0.1
    done
  fi
  stop_daemon "$work/slurmd.pid" "$work/slurmctld.pid" "$work/munged.pid"
  # The pid files may never have been written: the children themselves, by pid.
  for pid in $(jobs -pr); do
    kill -KILL "$pid"
  done
  wait
  if [ "$rc" -ne 0 ] && [ "$rc" -ne 77 ]; then
    for f in "$work"/*.out "$work"/*.log "$work"/logs/*; do
      [ -f "$f" ] && { echo "== $f"; tail -n 40 "$f"; }
    done >&2
  fi
  rm -rf "$work"
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

# Waits until COMMAND... succeeds, up to about 2 minutes (a busy machine starts daemons
# slowly), while the daemon started last runs.
wait_for() {
  local what=$1 i
  shift
  for ((i = 0; i < 1200; i++)); do
    "$@" >/dev/null 2>&1 && return 0
    alive || { echo "$what: ended (its log is below)" >&2; return 1; }
    sleep 0.1
  done
  echo "$what: not ready after 2 minutes" >&2
  return 1
}
# A daemon in the foreground, as a child: its pid is known and waited for at the end.
start() { # LOG COMMAND...
  local log=$1
  shift
  "$@" >"$log" 2>&1 &
  pids+=($!)
}
alive() { running_child "${pids[-1]}"; }

# munge: a key of its own, and the socket every Slurm program is pointed at.
dd if=/dev/urandom of="$etc/munge.key" bs=1024 count=1 status=none
chmod 400 "$etc/munge.key"
# --force: munged also judges the folders above ours (TMPDIR's), which are not this test's
# to mend; as root it refuses more of them.
start "$work/munged.out" munged --foreground --force \
  --socket="$work/munge.socket" --key-file="$etc/munge.key" --pid-file="$work/munged.pid" \
  --log-file="$work/munged.log" --seed-file="$work/munged.seed"
wait_for munged test -S "$work/munge.socket"

# Ports nothing on this machine has: not in use now, and outside the range the system
# takes its own connections' ports from, so that none of those takes one meanwhile.
read -r eph_lo eph_hi </proc/sys/net/ipv4/ip_local_port_range
if [ "$eph_lo" -gt 12000 ]; then
  port_lo=10000 port_hi=$((eph_lo - 1))
else
  port_lo=$((eph_hi + 1)) port_hi=65535
fi
[ "$port_lo" -lt "$port_hi" ] || port_lo=10000 port_hi=32767 # all ephemeral: no better
used_ports=$(
  cat /proc/net/tcp /proc/net/tcp6 2>/dev/null | while read -r _ local _; do
    if [[ $local == *:* ]]; then echo $((16#${local##*:})); fi
  done | sort -u
)
free_port() { # AVOID
  local p
  while :; do
    p=$((port_lo + (RANDOM * 32768 + RANDOM) % (port_hi - port_lo + 1)))
    [ "$p" != "${1:-}" ] && ! grep -qx "$p" <<<"$used_ports" && break
  done
  echo "$p"
}
ctld_port=$(free_port)
slurmd_port=$(free_port "$ctld_port")

# The node as slurmd sees this machine (its real CPUs and their layout), on 127.0.0.1.
node=$(hostname -s 2>/dev/null || uname -n)
node=${node%%.*}
hardware=$(slurmd -C | head -n 1 | tr ' ' '\n' |
  grep -E '^(CPUs|Boards|SocketsPerBoard|CoresPerSocket|ThreadsPerCore)=' | tr '\n' ' ')
cpus=$(tr ' ' '\n' <<<"$hardware" | sed -n 's/^CPUs=//p')
[ -n "$cpus" ] || { echo "slurmd -C gave no CPU count" >&2; exit 1; }
user=$(id -un)
cat >"$etc/slurm.conf" <<EOF
ClusterName=quarveltest
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=$user
SlurmdUser=$user
AuthType=auth/munge
AuthInfo=socket=$work/munge.socket
CredType=cred/munge
StateSaveLocation=$work/ctld
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
SlurmctldDebug=info
SlurmdDebug=info
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
SwitchType=switch/none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ReturnToService=2
# sbatch --wait polls the controller more often when finished jobs' records are kept less
# long (the default, 300 s, lets it sleep 32 s between looks).
MinJobAge=10
InactiveLimit=0
MailProg=/bin/true
KillWait=5
NodeName=$node NodeAddr=127.0.0.1 $hardware State=UNKNOWN
PartitionName=test Nodes=$node Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF=$etc/slurm.conf
start "$work/slurmctld.out" slurmctld -D -f "$SLURM_CONF"
wait_for slurmctld scontrol ping
start "$work/slurmd.out" slurmd -D -N "$node" -f "$SLURM_CONF"
idle() { [ "$(sinfo -h -n "$node" -o %t)" = idle ]; }
wait_for "slurmd (node $node idle)" idle
echo "one-node cluster up: $node, $cpus CPUs, ports $ctld_port and $slurmd_port"

# Twelve jobs: the example units in six folders, one with a space in its name.
root=$work/root
mkdir -p "$root"
cp -r "$src/examples/common" "$src/examples/units" "$root/"
for d in a b "c d" e f; do
  mkdir -p "$root/$d"
  cp "$src/examples/units/"* "$root/$d/"
done
cli=$build/quarvel-cli
"$cli" list --all --root "$root" | sort >"$work/all.txt"
[ "$(wc -l <"$work/all.txt")" -eq 12 ]

# The batch script as a user submits it; the environment (QUARVEL_CLI, and ASAN_OPTIONS
# under the sanitizers) reaches the tasks through sbatch's default --export=ALL.
export QUARVEL_CLI=$cli
# In the background, so that a signal to this script interrupts the wait at once (its
# trap then cancels the jobs).
submit() { # NAME ROOT: the 4-task array over ROOT into $work/out, task K's log NAME_K.out
  sbatch --wait --quiet --array=1-4 --chdir="$work" --output="$work/logs/$1_%a.out" \
    "$src/examples/farm/slurm-array.sh" "$2" "$work/out" 4 &
  sbatch_pid=$!
  local rc=0
  wait "$sbatch_pid" || rc=$?
  sbatch_pid=
  return "$rc"
}
jobs_in() { # LOG: the jobs a task's log says it wrote, one each
  sed -n "s|^wrote $work/out/\(.*\)_[0-9]*\.kxz\$|\1|p" "$1" | sort -u
}

submit first "$root"
"$cli" render --all --root "$root" --out "$work/seq" --quiet
# The manifests name their own folder's files; the sprites must be the same bytes.
diff -r -x '.*.manifest' "$work/seq" "$work/out"
: >"$work/ran.txt"
for k in 1 2 3 4; do
  log=$work/logs/first_$k.out
  "$cli" list --all --root "$root" --shard "$k/4" | sort >"$work/shard$k.txt"
  # Each task rendered the jobs of its own shard, each with its four angles.
  jobs_in "$log" | diff "$work/shard$k.txt" -
  kxz=$(grep -c "^wrote $work/out/.*\.kxz\$" "$log")
  [ "$kxz" -eq $((4 * $(wc -l <"$work/shard$k.txt"))) ]
  jobs_in "$log" >>"$work/ran.txt"
done
# ... and together every job, none twice.
sort "$work/ran.txt" | diff "$work/all.txt" -
echo "4 array tasks rendered the 12 jobs once each, as a sequential run does"

# Again: every task finds each of its jobs up to date and writes nothing.
submit again "$root"
for k in 1 2 3 4; do
  log=$work/logs/again_$k.out
  if grep "^wrote " "$log"; then
    echo "task $k rendered again" >&2
    exit 1
  fi
  sed -n 's/: up to date$//p' "$log" | sort | diff "$work/shard$k.txt" -
done
diff -r -x '.*.manifest' "$work/seq" "$work/out"
echo "submitted again, every task found its jobs up to date"

# A shard failing on its input ends the array with status 1 (a root without settings
# files fails every task so).
status=0
submit missing "$work/nothing" || status=$?
[ "$status" -eq 1 ]
grep -q "no .settings file below" "$work/logs/missing_1.out"
echo "a failing task's status 1 reached sbatch --wait"
