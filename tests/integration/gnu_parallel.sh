#!/usr/bin/env bash
# The README's GNU parallel form on one machine: list feeds parallel, which runs one
# render per job; every job must come out as a plain sequential render makes it.
# Usage: gnu_parallel.sh BUILD_DIR SOURCE_DIR   (exit 77 = skipped: no parallel)
set -euo pipefail
build=$1 src=$2
command -v parallel >/dev/null || { echo "GNU parallel is not installed" >&2; exit 77; }
work=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-parallel-XXXXXX")
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir -p "$root"
cp -r "$src/examples/common" "$src/examples/units" "$root/"
for d in a b "c d"; do
  mkdir -p "$root/$d"
  cp "$src/examples/units/"* "$root/$d/"
done
cli=$build/quarvel-cli

"$cli" list --all --root "$root" |
  parallel --will-cite -j 2 "$cli" render {} --root "$root" --out "$work/par" --quiet
"$cli" render --all --root "$root" --out "$work/seq" --quiet
# The manifests name their own folder's files; the sprites must be the same bytes.
diff -r -x '.*.manifest' "$work/seq" "$work/par"
[ "$(find "$work/par" -name '*.kxz' | wc -l)" -eq 32 ] # tank and walker, four angles each, in four folders
[ "$(find "$work/par" -name '.*.manifest' | wc -l)" -eq 8 ]
echo "parallel rendered every job as a sequential run does"
