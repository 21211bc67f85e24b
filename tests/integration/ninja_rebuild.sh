#!/usr/bin/env bash
# Builds examples/cmake (quarvel_add_sprites) with Ninja over three jobs, touches the
# texture one of them uses, rebuilds, and checks that only that job rendered again.
# Usage: ninja_rebuild.sh CMAKE NINJA BUILD_DIR SOURCE_DIR
set -euo pipefail
cmake=$1 ninja=$2 build=$3 src=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-ninja-XXXXXX")
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir -p "$root/common" "$root/green" "$root/plain"
cp "$src/examples/common/angles4.txt" "$root/common/"
cp -r "$src/examples/units" "$root/units"
# green/tank: the same models with its own copy of the texture.
cp "$src/examples/units/"* "$root/green/"
# plain/tank: no texture at all.
cp "$src/examples/units/"*.obj "$src/examples/units/tank.settings" "$root/plain/"
grep -v map_Kd "$src/examples/units/tank.mtl" >"$root/plain/tank.mtl"

"$cmake" -S "$src/examples/cmake" -B "$work/build" -G Ninja -DCMAKE_MAKE_PROGRAM="$ninja" \
  -DSPRITES_ROOT="$root" "-DSPRITES_SETTINGS=units/tank;green/tank;plain/tank" \
  -DQUARVEL_CLI="$build/quarvel-cli" -DCMAKE_PREFIX_PATH=/nonexistent >/dev/null

rendered() { grep -o 'Rendering sprites [a-z/]*' "$1" | sed 's/Rendering sprites //' | sort | tr '\n' ' '; }

"$ninja" -C "$work/build" >"$work/first.txt"
[ "$(rendered "$work/first.txt")" = "green/tank plain/tank units/tank " ] ||
  { echo "first build:" >&2; cat "$work/first.txt" >&2; exit 1; }
ls "$work/build/sprites/green/tank_3.kxz" >/dev/null

"$ninja" -C "$work/build" >"$work/again.txt"
grep -q "no work to do" "$work/again.txt" || { cat "$work/again.txt" >&2; exit 1; }

# A texture the depfile named: only its job is stale.
touch "$root/green/tank.png"
"$ninja" -C "$work/build" >"$work/touched.txt"
[ "$(rendered "$work/touched.txt")" = "green/tank " ] ||
  { echo "after touching green/tank.png:" >&2; cat "$work/touched.txt" >&2; exit 1; }

# An include shared by all three: all of them.
touch "$root/common/angles4.txt"
"$ninja" -C "$work/build" >"$work/include.txt"
[ "$(rendered "$work/include.txt")" = "green/tank plain/tank units/tank " ] ||
  { echo "after touching the include:" >&2; cat "$work/include.txt" >&2; exit 1; }
echo "only the jobs using the touched file rendered again"
