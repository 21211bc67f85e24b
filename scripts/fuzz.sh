#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer + AddressSanitizer) and runs every one of them
# for a bounded time on a copy of its corpus, two at a time. Any crash, hang, leak or
# memory blow-up fails the script; the inputs that caused them are kept and listed, to be
# added to fuzz/corpus/<kind>/ once the fault is fixed. The checkout is not changed
# (apart from the build folder).
#
#   scripts/fuzz.sh [TARGET...]        e.g. scripts/fuzz.sh settings png; default: all
#
# Environment: FUZZ_SECONDS (per target, default 60), FUZZ_PARALLEL (targets at a time,
# default 2), FUZZ_BUILD_DIR (default build-fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
parallel=${FUZZ_PARALLEL:-2}
build=${FUZZ_BUILD_DIR:-build-fuzz}

# Target and the longest input worth trying for its format.
declare -A max_len=(
  [obj]=4096 [mtl]=2048 [settings]=4096
  [png]=8192 [jpeg]=8192 [bmp]=4096
  [kxz]=4096 [p16]=1024 [2p5d]=4096
  [scene]=16384
)
all=(obj mtl settings png jpeg bmp kxz p16 2p5d scene)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=("${all[@]}")
fi
for t in "${targets[@]}"; do
  if [ -z "${max_len[$t]:-}" ]; then
    echo "fuzz: unknown target '$t' (known: ${all[*]})" >&2
    exit 2
  fi
done

# Only the fuzz targets and the libraries they link are built.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQUARVEL_FUZZ=ON -DQUARVEL_WERROR=ON \
  -DQUARVEL_BUILD_TESTS=OFF -DQUARVEL_BUILD_BENCH=OFF -DQUARVEL_BUILD_APP=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

# Leaks inside system libraries that are not ours to fix (Assimp on some broken scene
# files) are suppressed as in the tests; leaks of our own code still fail a target.
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}"
# An allocation the system cannot give throws std::bad_alloc, as in the program's own
# builds (where the scene trial refuses such a file), instead of ending the process.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}allocator_may_return_null=1"

work=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-fuzz.XXXXXX")
echo "fuzz: ${#targets[@]} targets, ${seconds} s each, ${parallel} at a time; work folder $work"

run_one() {
  local t=$1
  mkdir -p "$work/$t/corpus" "$work/$t/found"
  cp fuzz/corpus/"$t"/* "$work/$t/corpus/" 2>/dev/null || true
  local rc=0
  "$build/fuzz/fuzz_$t" "$work/$t/corpus" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -max_len="${max_len[$t]}" -artifact_prefix="$work/$t/found/" \
    -print_final_stats=1 >"$work/$t/log" 2>&1 || rc=$?
  echo "$rc" >"$work/$t/rc"
}

running=0
for t in "${targets[@]}"; do
  run_one "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$parallel" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait

failed=0
for t in "${targets[@]}"; do
  rc=$(cat "$work/$t/rc" 2>/dev/null || echo missing)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$t/log" | tail -1)
  found=$(find "$work/$t/found" -type f | sort)
  worker_oom=$(find "$work/$t/found" -type f -name 'oom-*' | sort)
  if [ "$rc" = 0 ] && [ -n "$worker_oom" ]; then
    # The fuzzer stops at the first fault of its own, with a non-zero status. Inputs saved
    # while it went on to the end were saved by an isolated worker (the scene trial is a
    # fork of the fuzzer, and carries its malloc limit): the worker died of an allocation
    # over that limit, which the program's trial reports as a refusal, and the input
    # saved is whatever the fuzzer ran when the worker was forked, not the one at fault.
    mkdir -p "$work/$t/worker"
    mv $worker_oom "$work/$t/worker/"
    echo "fuzz_$t: $(echo "$worker_oom" | wc -l) isolated worker(s) ended over the malloc" \
      "limit (refused, as the program does; not a fault)"
    found=$(find "$work/$t/found" -type f | sort)
  fi
  if [ "$rc" = 0 ] && [ -z "$found" ]; then
    echo "fuzz_$t: ok (${runs:-?} runs)"
  else
    failed=1
    echo "fuzz_$t: FAILED (exit status $rc); log $work/$t/log" >&2
    grep -E '^(==[0-9]+==ERROR|SUMMARY|ALARM|.*(deadly signal|out-of-memory|timeout))' \
      "$work/$t/log" | head -5 >&2 || true
    for f in $found; do
      echo "  input: $f" >&2
    done
  fi
done

if [ "$failed" -ne 0 ]; then
  echo "fuzz: faults found; the inputs above go to fuzz/corpus/<target>/ with their fix." >&2
  exit 1
fi
rm -rf "$work"
echo "fuzz: no faults found."
