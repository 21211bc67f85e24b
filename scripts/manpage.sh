#!/usr/bin/env bash
# Makes the manual page of one of Quarvel's programs from its --help output with Debian's
# help2man. quarvel-cli's own --help lists only its subcommands, so every subcommand's
# --help (found by walking the "Subcommands:" lists, "info job" and "info model"
# included) is appended as a section "COMMAND ..." of its own: the page shows the
# options of every subcommand.
#
#   scripts/manpage.sh PROGRAM OUTPUT VERSION DOCDIR [--optional]
#
# PROGRAM is the built executable, OUTPUT the page to write (NAME.1), VERSION the
# version shown, DOCDIR where the Markdown documents are installed (for SEE ALSO). With
# --optional a page that cannot be made is skipped with a message instead of failing.
set -euo pipefail

if [ $# -lt 4 ]; then
  echo "usage: $0 PROGRAM OUTPUT VERSION DOCDIR [--optional]" >&2
  exit 2
fi
program=$1
output=$2
version=$3
docdir=$4
optional=${5:-}
name=$(basename "$program")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  rm -f "$output"
  if [ "$optional" = "--optional" ]; then
    echo "manpage: no page for $name: $1 (skipped)" >&2
    exit 0
  fi
  echo "manpage: no page for $name: $1" >&2
  exit 1
}

command -v help2man >/dev/null 2>&1 || fail "help2man is not installed"

# The names listed in the "Subcommands:" section of a help text.
subcommands() {
  awk '/^Subcommands:$/ { inside = 1; next }
       inside && /^[[:space:]]*$/ { inside = 0 }
       inside && /^  [^ ]/ { print $1 }'
}

# Every subcommand path without subcommands of its own, depth first in listed order,
# one a line with "+" between the words ("info+job").
leaves() {
  local help sub
  help=$("$program" "$@" --help </dev/null) || return 1
  local subs
  subs=$(printf '%s\n' "$help" | subcommands)
  if [ -z "$subs" ]; then
    if [ $# -gt 0 ]; then
      local IFS=+
      echo "$*"
    fi
    return 0
  fi
  for sub in $subs; do
    leaves "$@" "$sub" || return 1
  done
}

"$program" --help </dev/null >"$work/help.txt" 2>"$work/err.txt" ||
  fail "'$name --help' failed: $(head -c 300 "$work/err.txt")"
leaves >"$work/leaves.txt" 2>"$work/err.txt" ||
  fail "a subcommand's --help failed: $(head -c 300 "$work/err.txt")"
while read -r path; do
  path=${path//+/ }
  {
    echo
    echo "*Command $path*"
  } >>"$work/help.txt"
  # shellcheck disable=SC2086
  "$program" $path --help </dev/null >"$work/sub.txt" 2>"$work/err.txt" ||
    fail "'$name $path --help' failed: $(head -c 300 "$work/err.txt")"
  sed -e "s/^Usage:/\nUsage:/" \
      -e "s/^Options:$/Options of $path:/" \
      -e "s/^Positionals:$/Arguments of $path:/" "$work/sub.txt" >>"$work/help.txt"
done <"$work/leaves.txt"

# help2man runs the program by the name the page gets; this stand-in prints the texts.
mkdir "$work/bin"
cat >"$work/bin/$name" <<EOF
#!/bin/sh
cat '$work/help.txt'
EOF
chmod +x "$work/bin/$name"

case $name in
  quarvel-cli)
    description="render Wavefront OBJ models into paletted 2.5D sprites without a window"
    other=quarvel ;;
  *)
    description="preview Wavefront OBJ models and render them into paletted 2.5D sprites"
    other=quarvel-cli ;;
esac

cat >"$work/include.h2m" <<EOF
[SEE ALSO]
.BR $other (1)
.PP
The settings files (every keyword, its defaults and messages) and the output files
(2P5D, KXZ and .p16 byte by byte, the PNG sheets and their atlas) are described in
.I settings.md
and
.IR formats.md ,
and using the PNG sheets in Godot, Unity, Phaser and PixiJS in
.I engines.md
in $docdir.
EOF

help2man --no-info --version-string="$version" \
  --name="$description" --section=1 --manual="Quarvel" --source="Quarvel $version" \
  --include="$work/include.h2m" --output="$work/page.1" "$work/bin/$name" ||
  fail "help2man failed"
mv "$work/page.1" "$output"
