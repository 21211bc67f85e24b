#!/usr/bin/env bash
# Installs the build into a staging prefix and renders the bundled example with the
# installed quarvel-cli, from a folder that holds no shader files: the program must find
# its installed ones, and give the same bytes as the build tree's program.
# Usage: install.sh CMAKE BUILD_DIR SOURCE_DIR
set -euo pipefail
cmake=$1 build=$2 src=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-install-XXXXXX")
trap 'rm -rf "$work"' EXIT
stage=$work/stage

"$cmake" --install "$build" --prefix "$stage" >/dev/null
for f in bin/quarvel-cli share/quarvel/zbuffer.vglsl share/quarvel/zbufferEx.fglsl \
  share/quarvel/sidecol.vglsl lib/cmake/Quarvel/QuarvelConfig.cmake \
  lib/cmake/Quarvel/QuarvelConfigVersion.cmake lib/cmake/Quarvel/QuarvelSprites.cmake; do
  [ -e "$stage/$f" ] || { echo "not installed: $f" >&2; exit 1; }
done

# The installed program reads the installed shader files when the root has none.
cp -r "$src/examples" "$work/root"
"$stage/bin/quarvel-cli" list units/tank --json --root "$work/root" >"$work/list.json"
grep -q "\"path\": \"$stage/share/quarvel/zbuffer.vglsl\"" "$work/list.json" ||
  { echo "the installed shader files are not the job's inputs:" >&2; cat "$work/list.json" >&2; exit 1; }

(cd "$work" && "$stage/bin/quarvel-cli" render units/tank --root root --out installed --quiet)
(cd "$work" && "$build/quarvel-cli" render units/tank --root root --out built --quiet)
for f in tank_0.kxz tank_0.p16 tank_1.kxz tank_1.p16 tank_2.kxz tank_2.p16 tank_3.kxz tank_3.p16; do
  cmp "$work/installed/units/$f" "$work/built/units/$f"
done

# The Debian package: built from the same install, depending on the runtime packages.
if command -v dpkg-deb >/dev/null && command -v dpkg-shlibdeps >/dev/null; then
  (cd "$work" && cpack_dir=$(dirname "$cmake") && "$cpack_dir/cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >/dev/null)
  deb=$(ls "$work"/deb/quarvel_*.deb)
  contents=$(dpkg-deb -c "$deb")
  for f in ./usr/bin/quarvel-cli ./usr/share/quarvel/zbuffer.fglsl ./usr/lib/cmake/Quarvel/QuarvelSprites.cmake; do
    case "$contents" in *" $f"*) ;; *) echo "no $f in $deb" >&2; exit 1 ;; esac
  done
  depends=$(dpkg-deb -f "$deb" Depends)
  for p in libpng16-16 libegl1 libegl-mesa0; do
    case "$depends" in *"$p"*) ;; *) echo "$deb does not depend on $p: $depends" >&2; exit 1 ;; esac
  done
fi
echo "installed, rendered, packaged"
