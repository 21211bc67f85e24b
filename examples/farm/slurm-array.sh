#!/usr/bin/env bash
# Renders every job below a root on a Slurm cluster, one shard per array task.
#
#   sbatch --array=1-4 examples/farm/slurm-array.sh ROOT OUT [SHARDS [RENDER OPTIONS...]]
#   sbatch --array=1-4 --export=ALL,QUARVEL_ROOT=/srv/art,QUARVEL_OUT=/srv/out \
#     examples/farm/slurm-array.sh
#
# ROOT (or $QUARVEL_ROOT) is the folder the .settings files are below and OUT (or
# $QUARVEL_OUT) the folder the sprites go to; both must be the same path on every node (a
# shared folder). SHARDS (or $QUARVEL_SHARDS) is the number of shards, the size of the
# array (by default the array's own size, SLURM_ARRAY_TASK_COUNT); quarvel-cli refuses to
# run when the two disagree, so a task never takes another shard's jobs. Anything after
# SHARDS goes to `render` as it is, e.g. `--require-fingerprint HASH` so that every node
# draws with the same driver, or `--renderer software`. $QUARVEL_CLI names the program
# when it is not `quarvel-cli` on the PATH.
#
# Each task K renders the jobs of shard K of SHARDS (`--shard auto/N` reads K from
# SLURM_ARRAY_TASK_ID, counted from the array's first index): the shard of a job depends on
# its name alone, so the tasks need no coordination, and a job already up to date is not
# rendered again: submitting the array again renders only what changed.
#
# The task's exit status is quarvel-cli's: 0 when every job of the shard was rendered or
# up to date, 1 when a job failed because of its input (retrying does not help: mend the
# file), 2 for a wrong command line, 3 when something failed that may pass on another try
# or another node (no OpenGL, a full disk, a worker killed). `sbatch --wait` ends with the
# highest status of the array's tasks. By default Slurm does not run a failed task again:
# a cluster with `RequeueExit=3` in its slurm.conf requeues the tasks that end with 3
# (they start again after a short hold), or a wrapper can requeue them with
# `scontrol requeue JOBID_K`; submit with `sbatch --requeue` so that a task may be
# requeued whatever the cluster's default. A requeued task keeps its place in the array;
# a new `--array=K` would not (it is refused when SHARDS is given, else it is a shard of
# one and takes every job).
#
#SBATCH --job-name=quarvel
#SBATCH --output=quarvel-%A_%a.out
# One CPU per task renders one job at a time; with --cpus-per-task=C each task renders C
# jobs at once in worker processes.
#SBATCH --cpus-per-task=1
set -euo pipefail

root=${1:-${QUARVEL_ROOT:-}}
out=${2:-${QUARVEL_OUT:-}}
shards=${3:-${QUARVEL_SHARDS:-${SLURM_ARRAY_TASK_COUNT:-}}}
shift $(($# < 3 ? $# : 3))
cli=${QUARVEL_CLI:-quarvel-cli}

if [ -z "$root" ] || [ -z "$out" ]; then
  echo "usage: sbatch --array=1-N slurm-array.sh ROOT OUT [SHARDS [RENDER OPTIONS...]]" \
    "(or QUARVEL_ROOT and QUARVEL_OUT in the environment)" >&2
  exit 2
fi
if [ -z "$shards" ]; then
  echo "slurm-array.sh: not an array task: submit it with sbatch --array=1-N" >&2
  exit 2
fi

jobs=()
if [ "${SLURM_CPUS_PER_TASK:-1}" -gt 1 ]; then
  jobs=(--jobs "$SLURM_CPUS_PER_TASK")
fi

node=${SLURMD_NODENAME:-$(uname -n)}
echo "array task ${SLURM_ARRAY_TASK_ID:-?} of $shards shards on $node"
# exec: the task ends with quarvel-cli's own status, and a signal Slurm sends the task
# (scancel, the time limit) reaches the program, which stops cleanly.
exec "$cli" render --all --root "$root" --out "$out" --shard "auto/$shards" \
  "${jobs[@]}" "$@"
