#!/usr/bin/env bash
# The rule of cmake/CheckNoOS.cmake, one source line at a time: each line of the table is
# put alone in a file and checked; the verdict must be the one the table gives.
# Usage: check_no_os.sh CMAKE SOURCE_DIR
set -euo pipefail
cmake=$1 src=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-noos-XXXXXX")
trap 'rm -rf "$work"' EXIT

# verdict | line
table=$(cat <<'TABLE'
refused|#include <unistd.h>
refused|#include <sys/stat.h>
refused|  #  include <fcntl.h>
refused|#include <windows.h>
refused|#include <Windows.h>
refused|#include <WINDOWS.H>
refused|#include <winbase.h>
refused|#include <psapi.h>
refused|#include <io.h>
refused|#include <process.h>
refused|#include <direct.h>
refused|const char* p = "/proc/self/exe";
refused|  return entry.path().filename().string();
refused|std::string r = rel.generic_string();
refused|const fs::path dir = fs::path(name).parent_path();
refused|for (std::filesystem::directory_iterator it(std::filesystem::path(dir), ec);;)
refused|std::ifstream in(name, std::ios::binary);
refused|std::ofstream out(name);
refused|FILE* f = fopen(name.c_str(), "rb");
allowed|const fs::path dir = PathOf(name).parent_path();
allowed|return Utf8Of(it->path().filename());
allowed|const fs::path here = fs::path(".");
allowed|std::istringstream in(text);
allowed|#include <string>
allowed|#include <cstdio>
allowed|#include "platform/Platform.h"
allowed|// #include <windows.h> is only for src/platform
allowed|#include <GL/gl.h>
allowed|const char* p = "proc/x";
TABLE
)
failures=0
n=0
while IFS='|' read -r verdict line; do
  n=$((n + 1))
  printf '%s\nint x%d;\n' "$line" "$n" >"$work/case$n.cpp"
  echo "$work/case$n.cpp" >"$work/list$n.txt"
  if "$cmake" -DLIST="$work/list$n.txt" -P "$src/cmake/CheckNoOS.cmake" >/dev/null 2>&1; then
    got=allowed
  else
    got=refused
  fi
  if [ "$got" != "$verdict" ]; then
    echo "expected $verdict, got $got: $line" >&2
    failures=$((failures + 1))
  fi
done <<<"$table"
[ "$failures" -eq 0 ] || exit 1
echo "$n lines checked"
