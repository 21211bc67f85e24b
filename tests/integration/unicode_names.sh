#!/usr/bin/env bash
# The example tank as one job per row of names below (folder, model, material, texture,
# settings file): every job renders the same bytes as the ASCII-named one, `list --all`
# finds it, and a second render finds it up to date. On Windows (CLI a wrapper that runs
# quarvel-cli.exe under Wine) the names cross the wide Win32 calls both ways.
# Usage: unicode_names.sh CLI SOURCE_DIR
set -euo pipefail
cli=$1 src=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-names-XXXXXX")
trap 'rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8 # Wine reads arguments and file names in the locale's character set
root=$work/root out=$work/out

#    folder          model    material  texture   settings
rows=(
  "units           tank     tank      tank      tank"
  "Modèles         tänk     matériau  Größe     Pänzer"
  "Модели          tänk     материал  текстура  танк"
  "模型/戦車        坦克      材质       纹理       坦克车"
  "🚀units         🛡️tank   🎨paint   🖼️skin    🚜run"
)
jobs=()
for row in "${rows[@]}"; do
  read -r folder model material texture settings <<<"$row"
  mkdir -p "$root/$folder"
  for frame in idle walk1 walk2; do
    sed "s/^mtllib .*/mtllib $material.mtl/" "$src/examples/units/tank_$frame.obj" \
      >"$root/$folder/${model}_$frame.obj"
  done
  sed "s/^map_Kd .*/map_Kd $texture.png/" "$src/examples/units/tank.mtl" >"$root/$folder/$material.mtl"
  cp "$src/examples/units/tank.png" "$root/$folder/$texture.png"
  cp "$src/examples/common/angles4.txt" "$root/$folder/$settings-angles.txt"
  sed -e "s|^include .*|include $folder/$settings-angles.txt|" -e "s|%model%|$folder/$model|g" \
    "$src/examples/units/tank.settings" >"$root/$folder/$settings.settings"
  jobs+=("$folder/$settings")
done

"$cli" render --all --root "$root" --out "$out" --quiet
# Windows' console streams end lines with CR LF.
"$cli" list --all --root "$root" | tr -d '\r' >"$work/list.txt"
args=()
for job in "${jobs[@]}"; do args+=("$job.settings"); done
"$cli" render "${args[@]}" --root "$root" --out "$out" | tr -d '\r' >"$work/again.txt"

reference=$(cd "$out/units" && ls tank[._]*)
[ -n "$reference" ] || { echo "the ASCII job wrote nothing" >&2; exit 1; }
for job in "${jobs[@]}"; do
  grep -qxF "$job" "$work/list.txt" || { echo "list --all misses $job:" >&2; cat "$work/list.txt" >&2; exit 1; }
  grep -qxF "$job: up to date" "$work/again.txt" ||
    { echo "$job not up to date the second time:" >&2; cat "$work/again.txt" >&2; exit 1; }
  [ -f "$(dirname "$out/$job")/.$(basename "$job").manifest" ] || { echo "no manifest for $job" >&2; exit 1; }
  for file in $reference; do
    cmp "$out/units/$file" "$out/$job${file#tank}" || exit 1
  done
done
echo "${#jobs[@]} jobs with names in five scripts: same bytes, listed, up to date"
