#!/usr/bin/env bash
# Builds Quarvel for Windows (x86_64, MinGW-w64 with POSIX threads) on Debian 12.
#
#   ./scripts/windows.sh            (as root, or with sudo for the packages)
#
# 1. Installs the cross compiler, Wine and the tools (apt-get).
# 2. Fetches the Debian source packages of the libraries Quarvel links (apt-get source,
#    through an apt configuration of this script's own: the machine's is never touched)
#    and cross-builds them, static, into a prefix in a cache folder outside the clone:
#    ${QUARVEL_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quarvel-windows}/KEY, where
#    KEY is made of the source packages' versions, the toolchain's and this recipe's. A
#    second run finds the prefix there and builds only Quarvel.
# 3. Configures and builds Quarvel with cmake/MinGW-w64.cmake into build-windows/.
#
# The libraries are built under `nice -n 19` with QUARVEL_WINDOWS_JOBS (2) jobs: the
# machine is shared. CLI11, nlohmann-json, xxhash and stb are header-only and are taken
# from their Debian packages in /usr/include.
set -eEuo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD

jobs=${QUARVEL_WINDOWS_JOBS:-2}
build_dir=${QUARVEL_WINDOWS_BUILD:-$source_dir/build-windows}
cache_root=${QUARVEL_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quarvel-windows}
# Counted up whenever the way the libraries are built changes, so that an old prefix
# is not taken for a new one.
recipe=1
triplet=x86_64-w64-mingw32
# zlib: its minizip, which Assimp reads zip containers with (MinGW's zlib itself comes
# from libz-mingw-w64-dev).
libraries=(libpng1.6 libjpeg-turbo zlib assimp googletest fltk1.3)

log() { echo "windows.sh: $*" >&2; }
# A step that fails says which it was: under `set -e` a command's own silence would
# otherwise end the run with nothing to go on. (Once per failure: subshells inherit it.)
trap 'status=$?; [[ $- != *e* || "$BASHPID" != "$$" ]] || log "stopped at line $LINENO (status $status): $BASH_COMMAND"' ERR

# --- 1. Packages ---
packages=(
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools
  libz-mingw-w64-dev wine wine64 zip cmake ninja-build dpkg-dev xvfb xauth
  libcli11-dev nlohmann-json3-dev libxxhash-dev libstb-dev libutfcpp-dev
)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  log "installing ${missing[*]}"
  SUDO=()
  if [ "$(id -u)" -ne 0 ]; then
    SUDO=(sudo)
  fi
  export DEBIAN_FRONTEND=noninteractive
  "${SUDO[@]}" apt-get update -qq
  "${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# --- 2. The libraries ---

# The machine's Debian archive: its first deb entry, from the one-line list or from the
# deb822 file, as "URI SUITE... | COMPONENTS | KEYRING".
archive_line() {
  local list=/etc/apt/sources.list deb822=/etc/apt/sources.list.d/debian.sources
  if [ -f "$deb822" ]; then
    awk '
      /^[ \t]*$/ { if (types ~ /deb/ && uri != "") exit; types = uri = ""; next }
      /^Types:/ { types = $0 }
      /^URIs:/ { uri = $2 }
      /^Suites:/ { $1 = ""; suites = $0 }
      /^Components:/ { $1 = ""; comps = $0 }
      /^Signed-By:/ { key = $2 }
      END { print uri "|" suites "|" comps "|" key }
    ' "$deb822"
  elif [ -f "$list" ]; then
    awk '$1 == "deb" && $2 !~ /^\[/ {
        printf "%s| %s| %s|\n", $2, $3, substr($0, index($0, $4)); exit }' "$list"
  fi
}

# Two apt configurations of the script's own: "release" names the machine's suites,
# "next" newer ones (the newest version among them is taken), asked only for a library
# whose source the archive no longer holds for this release. The mirror here answers 404
# for fltk1.3 1.3.8's tarballs and for trixie's 1.3.11-2 packaging; unstable's 1.3.11-3
# comes whole, and 1.3.11 keeps the 1.3 interface.
next_release=${QUARVEL_WINDOWS_NEXT_SUITES:-trixie sid}
next_allowed=" fltk1.3 "
apt_options() {
  local dir=$cache_root/apt${1#release}
  echo "-o Dir::Etc::SourceList=$dir/sources.list -o Dir::Etc::SourceParts=/dev/null"
  echo "-o Dir::State=$dir/state -o Dir::Cache=$dir/cache"
  # The folders are root's: the download needs no user of its own.
  echo "-o APT::Sandbox::User=root"
}

setup_apt() {
  local which=$1 dir=$cache_root/apt${1#release} line uri suites comps key signed=""
  line=$(archive_line)
  IFS='|' read -r uri suites comps key <<<"$line"
  if [ -z "$uri" ] || [ -z "$suites" ]; then
    log "cannot find the Debian archive in /etc/apt/sources.list(.d)"
    exit 1
  fi
  [ "$which" = next ] && suites=$next_release
  [ -n "$key" ] && signed="[signed-by=$key] "
  mkdir -p "$dir/state/lists/partial" "$dir/cache/archives/partial"
  : >"$dir/sources.list.new"
  for suite in $suites; do
    echo "deb-src ${signed}${uri} ${suite}${comps}" >>"$dir/sources.list.new"
  done
  if ! cmp -s "$dir/sources.list.new" "$dir/sources.list" ||
    [ -z "$(ls -A "$dir/state/lists" | grep -v partial || true)" ]; then
    mv "$dir/sources.list.new" "$dir/sources.list"
    log "apt-get update for the source packages ($(tr '\n' ';' <"$dir/sources.list"))"
    # shellcheck disable=SC2046
    apt-get $(apt_options "$which") update -qq
  else
    rm -f "$dir/sources.list.new"
  fi
}

# The version `apt-get source` would fetch through configuration $1 for package $2.
source_version() {
  # shellcheck disable=SC2046
  apt-get $(apt_options "$1") source --print-uris "$2" 2>/dev/null |
    awk -v p="$2" '$2 ~ "^" p "_.*\\.dsc$" { v = $2; sub("^" p "_", "", v); sub("\\.dsc$", "", v); print v; exit }'
}

# Fetches and unpacks a source package (with Debian's patches applied) once, into a folder
# named by its version outside the keyed cache, so that a second run needs no network.
# (The version is what --print-uris named a moment ago: the same candidate, without the
# epoch that `apt-get source PACKAGE=VERSION` would need.)
fetch_source() {
  local which=$1 lib=$2 version=$3 dir=$cache_root/src/${2}_${3}
  if [ ! -f "$dir/.fetched" ]; then
    rm -rf "$dir"
    mkdir -p "$dir"
    # shellcheck disable=SC2046
    (cd "$dir" && apt-get $(apt_options "$which") source -qq "$lib" >/dev/null 2>&1) ||
      { rm -rf "$dir"; return 1; }
    touch "$dir/.fetched"
  fi
}

# The source tree of a fetched library.
source_tree() {
  find "$cache_root/src/${1}_${versions[$1]}" -mindepth 1 -maxdepth 1 -type d | head -n1
}

cxx=$triplet-g++-posix
cc=$triplet-gcc-posix
setup_apt release
key_text="recipe $recipe"$'\n'"$($cxx --version | head -n1)"$'\n'
key_text+="mingw-w64 $(dpkg-query -W -f='${Version}' mingw-w64-x86-64-dev)"$'\n'
key_text+="zlib $(dpkg-query -W -f='${Version}' libz-mingw-w64-dev)"$'\n'
declare -A versions
for lib in "${libraries[@]}"; do
  versions[$lib]=$(source_version release "$lib")
  if [ -z "${versions[$lib]}" ]; then
    log "apt-get source knows no package $lib"
    exit 1
  fi
  if ! fetch_source release "$lib" "${versions[$lib]}"; then
    if [[ "$next_allowed" != *" $lib "* ]]; then
      log "apt-get source $lib=${versions[$lib]} failed"
      exit 1
    fi
    setup_apt next
    old=${versions[$lib]}
    versions[$lib]=$(source_version next "$lib")
    if [ -z "${versions[$lib]}" ] || ! fetch_source next "$lib" "${versions[$lib]}"; then
      log "apt-get source $lib failed for $old and for $next_release's ${versions[$lib]:-(none)}"
      exit 1
    fi
    log "$lib $old cannot be fetched: using $next_release's ${versions[$lib]}"
  fi
  key_text+="$lib ${versions[$lib]}"$'\n'
done
key=gcc$($cxx -dumpversion | tr -c '0-9a-z.\n' '-')-$(printf '%s' "$key_text" | sha256sum | cut -c1-16)
cache=$cache_root/$key
prefix=$cache/prefix
toolchain=$source_dir/cmake/MinGW-w64.cmake
export QUARVEL_WINDOWS_PREFIX=$prefix

# Configures, builds and installs one library's CMake project into the prefix.
cmake_library() {
  local name=$1 src=$2
  shift 2
  local bld=$cache/build/$name
  rm -rf "$bld"
  nice -n 19 cmake -S "$src" -B "$bld" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DQUARVEL_WINDOWS_PREFIX="$prefix" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF "$@" >"$cache/logs/$name.configure.log" 2>&1 ||
    { tail -n 40 "$cache/logs/$name.configure.log"; return 1; }
  nice -n 19 cmake --build "$bld" -j "$jobs" >"$cache/logs/$name.build.log" 2>&1 ||
    { tail -n 40 "$cache/logs/$name.build.log"; return 1; }
  nice -n 19 cmake --install "$bld" >"$cache/logs/$name.install.log" 2>&1 ||
    { tail -n 40 "$cache/logs/$name.install.log"; return 1; }
  rm -rf "$bld"
}

build_library() {
  local lib=$1 src
  src=$(source_tree "$lib")
  case $lib in
    libpng1.6)
      cmake_library "$lib" "$src" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
        -DPNG_EXECUTABLES=OFF -DPNG_BUILD_ZLIB=OFF -DSKIP_INSTALL_PROGRAMS=ON
      ;;
    libjpeg-turbo)
      # The SIMD code gives the same pixels as the C code (the library's own tests hold
      # both to the same checksums); without it no assembler is needed.
      cmake_library "$lib" "$src" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF \
        -DWITH_SIMD=OFF -DCMAKE_SYSTEM_PROCESSOR=AMD64
      ;;
    fltk1.3)
      cmake_library "$lib" "$src" -DOPTION_BUILD_SHARED_LIBS=OFF -DOPTION_BUILD_EXAMPLES=OFF \
        -DFLTK_BUILD_TEST=OFF -DOPTION_USE_GL=ON -DOPTION_USE_SYSTEM_ZLIB=ON \
        -DOPTION_USE_SYSTEM_LIBPNG=ON -DOPTION_USE_SYSTEM_LIBJPEG=ON -DOPTION_PRINT_SUPPORT=OFF
      ;;
    zlib)
      # Only contrib/minizip's unzip, with a pkg-config file for Assimp to find it by.
      local mz=$cache/build/minizip
      rm -rf "$mz"
      mkdir -p "$mz" "$prefix/include/minizip" "$prefix/lib/pkgconfig"
      for f in ioapi unzip; do
        nice -n 19 "$cc" -O2 -c -I"$src/contrib/minizip" "$src/contrib/minizip/$f.c" \
          -o "$mz/$f.o" || return 1
      done
      "$triplet-ar" rcs "$prefix/lib/libminizip.a" "$mz/ioapi.o" "$mz/unzip.o" || return 1
      cp "$src/contrib/minizip/"{ioapi,unzip,crypt}.h "$prefix/include/minizip/"
      cat >"$prefix/lib/pkgconfig/minizip.pc" <<EOF
prefix=$prefix
Name: minizip
Description: minizip of zlib ${versions[$lib]}
Version: 1.2.13
Requires: zlib
Libs: -L\${prefix}/lib -lminizip
Cflags: -I\${prefix}/include/minizip
EOF
      rm -rf "$mz"
      ;;
    assimp)
      # Debian builds Assimp against its own libdraco; the cross build has none, so the
      # patch that asks for it is taken back (glTF meshes compressed with Draco are then
      # refused on Windows). stb_image and utf8cpp are Debian's headers.
      if [ ! -f "$src/.draco-reverted" ]; then
        patch -d "$src" -R -p1 -s <"$src/debian/patches/use-system-libdraco.patch" || return 1
        touch "$src/.draco-reverted"
      fi
      mkdir -p "$cache/host-include"
      ln -sfn /usr/include/stb "$cache/host-include/stb"
      ln -sfn /usr/include/utf8cpp/utf8.h "$cache/host-include/utf8.h"
      ln -sfn /usr/include/utf8cpp/utf8 "$cache/host-include/utf8"
      # Only the importers of the scene formats Quarvel reads (src/models/SceneFormats.cpp);
      # OBJ is read by Quarvel's own code.
      cmake_library "$lib" "$src" -DASSIMP_BUILD_TESTS=OFF -DASSIMP_BUILD_ASSIMP_TOOLS=OFF \
        -DASSIMP_BUILD_SAMPLES=OFF -DASSIMP_BUILD_ALL_IMPORTERS_BY_DEFAULT=OFF \
        -DASSIMP_BUILD_ALL_EXPORTERS_BY_DEFAULT=OFF -DASSIMP_NO_EXPORT=ON \
        -DASSIMP_BUILD_GLTF_IMPORTER=ON -DASSIMP_BUILD_FBX_IMPORTER=ON \
        -DASSIMP_BUILD_COLLADA_IMPORTER=ON -DASSIMP_BUILD_3DS_IMPORTER=ON \
        -DASSIMP_BUILD_PLY_IMPORTER=ON -DASSIMP_BUILD_STL_IMPORTER=ON \
        -DASSIMP_BUILD_ZLIB=OFF -DASSIMP_WARNINGS_AS_ERRORS=OFF -DASSIMP_INSTALL_PDB=OFF \
        -DASSIMP_BUILD_DRACO=OFF -DASSIMP_DOUBLE_PRECISION=OFF \
        -DCMAKE_CXX_FLAGS="-isystem $cache/host-include" -DCMAKE_C_FLAGS="-isystem $cache/host-include"
      ;;
    googletest)
      cmake_library "$lib" "$src" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
      ;;
  esac
}

mkdir -p "$cache/logs" "$prefix"
printf '%s' "$key_text" >"$cache/key.txt"
# Two runs at once (two clones on one machine) take turns at the cache: the second finds
# the libraries the first built.
exec 8>"$cache/.lock"
flock 8
built_any=0
for lib in "${libraries[@]}"; do
  if [ -f "$cache/built-$lib" ]; then
    continue
  fi
  start=$(date +%s)
  log "building $lib ${versions[$lib]} into $cache"
  if ! (build_library "$lib"); then
    log "building $lib failed (logs in $cache/logs)"
    exit 1
  fi
  echo "$lib ${versions[$lib]} $(($(date +%s) - start)) s" | tee -a "$cache/times.txt" >&2
  touch "$cache/built-$lib"
  built_any=1
done
if [ "$built_any" = 0 ]; then
  log "libraries found in $cache"
fi
exec 8>&-

# --- 3. Quarvel ---
# Paths below the clone are hashed relative to it, so that every clone (CI makes a fresh
# one each time) finds what another compiled.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$source_dir} CCACHE_DIR=${CCACHE_DIR:-$cache_root/ccache}
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
# Libraries found in another prefix (an older cache key) are not to be linked again.
if [ -f "$build_dir/CMakeCache.txt" ] &&
  [ "$(sed -n 's/^QUARVEL_WINDOWS_PREFIX:[A-Z]*=//p' "$build_dir/CMakeCache.txt")" != "$prefix" ]; then
  rm -f "$build_dir/CMakeCache.txt"
fi
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DQUARVEL_WINDOWS_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARVEL_WERROR=ON \
  -DQUARVEL_BUILD_BENCH=OFF -DQUARVEL_BUILD_TESTS=ON -DQUARVEL_BUILD_APP=ON \
  "${launcher[@]}" ${QUARVEL_WINDOWS_CMAKE_ARGS:-}
# Every test program. test_cli is built without the files whose tests need FIFOs, devices,
# inotify or POSIX signals (tests/CMakeLists.txt); the stop path is tested below instead.
windows_tests=(test_maths test_colour test_output test_render test_platform test_app test_common
  test_image test_jobs test_models test_gl test_docs test_fuzz test_cli)
programs=(quarvel-cli quarvel)
cmake --build "$build_dir" -j "$jobs" --target "${programs[@]}" "${windows_tests[@]}"
log "built $build_dir/quarvel-cli.exe and quarvel.exe (libraries: $cache)"

# --- 4. Runs under Wine, and the zip ---
export WINEDEBUG=${WINEDEBUG:--all}
# One X server for every run below (Wine's OpenGL draws through it, as Mesa's llvmpipe),
# and a Wine server that outlives each program for a minute, so that each start is quick.
display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
# Wine's programs are ended before their X server, whichever way the run ends.
trap 'wineserver -k 2>/dev/null || true; kill "$xvfb_pid" 2>/dev/null || true; rm -f "$display_file"' EXIT
for _ in $(seq 100); do
  [ -s "$display_file" ] && break
  sleep 0.1
done
export DISPLAY=:$(head -n1 "$display_file")
wineserver -p60 2>/dev/null || true
wine_run() {
  timeout -k 5 600 wine "$@"
}
wine_run "$build_dir/quarvel-cli.exe" --version
for t in "${windows_tests[@]}"; do
  log "running $t under Wine"
  (cd "$build_dir/tests" && wine_run "./$t.exe" --gtest_brief=1)
done
# Wine gives a program a console, and so delivers Ctrl-C to it, only when it runs on a
# terminal: the stop requests of test_platform run again on one made by script(1)
# (QUARVEL_TEST_CONSOLE makes a missing console a failure there, not a skip).
log "test_platform's stop requests under Wine, on a terminal"
(cd "$build_dir/tests" && QUARVEL_TEST_CONSOLE=1 SHELL=/bin/bash timeout -k 5 600 script -qefc \
  "wine ./test_platform.exe --gtest_filter=ChildProcess.* --gtest_brief=1" /dev/null \
  >"$build_dir/console-test.log" 2>&1) || {
  log "the stop requests failed under Wine (the terminal's transcript: $build_dir/console-test.log)"
  exit 1
}
# A scene file Assimp crashes on is refused, as on Linux: the crash is the isolated
# worker's (this program started again in a Job Object), not the program's.
log "a scene file that crashes Assimp, under Wine"
set +e
crash_said=$(wine_run "$build_dir/quarvel-cli.exe" info model collada_crash.dae \
  --root fuzz/corpus/scene 2>&1 >/dev/null | tr -d '\r')
crash_status=$?
set -e
crash_wanted="quarvel-cli: collada_crash.dae: cannot read the scene: Assimp crashed reading it \
(Segmentation fault); the file is damaged or uses something this program's Assimp cannot read"
if [ "$crash_status" != 1 ] || [ "$crash_said" != "$crash_wanted" ]; then
  log "the crashing scene file: status $crash_status, said: $crash_said"
  exit 1
fi
# Ctrl-C typed at a terminal stops a render under Wine with the summary and the status it
# has on Linux. The render is held at a known point without any timing: it waits for its
# output set's lock, which a test program holds, until the Ctrl-C ends the wait. (The
# terminal is script(1)'s, whose input is a FIFO this script writes the Ctrl-C into.)
log "Ctrl-C to a render under Wine, on a terminal"
stop_dir=$build_dir/ctrl-c
rm -rf "$stop_dir"
mkdir -p "$stop_dir/out/units"
(cd "$build_dir/tests" && QUARVEL_TEST_LOCK=$stop_dir/out/units/.tank.lock exec wine \
  ./test_platform.exe --gtest_filter=DISABLED_Child.HoldsTheLock \
  --gtest_also_run_disabled_tests >"$stop_dir/holder.log" 2>&1) &
holder=$!
# Waits (at most 5 minutes) until a test holds, or fails at once when the process it
# waits on has ended: a wait that fails says what it waited for and what was said.
wait_for() {
  local what=$1 pid=$2 said=$3
  shift 3
  for _ in $(seq 600); do
    if "$@"; then return 0; fi
    if ! kill -0 "$pid" 2>/dev/null; then
      "$@" && return 0
      break
    fi
    sleep 0.5
  done
  log "Ctrl-C: no $what; $said said:"
  sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' "$said" | tr -d '\r' | tail -n 20 >&2
  exit 1
}
has_temporaries() { [ -n "$(find "$stop_dir/out" -name '*.tmp-*' 2>/dev/null)" ]; }
wait_for "lock held by the test program" "$holder" "$stop_dir/holder.log" \
  grep -q "child holds" "$stop_dir/holder.log"
mkfifo "$stop_dir/keys"
exec 9<>"$stop_dir/keys"
# script(1) runs the command with $SHELL, and the Ctrl-C reaches that shell too: bash
# waits for the render's own end before it goes on (dash, /bin/sh, would end at once and
# never write the status), so bash it is, whatever the caller's SHELL.
SHELL=/bin/bash timeout -k 5 600 script -qefc "wine $build_dir/quarvel-cli.exe render \
  units/tank units/walker --root examples --out $stop_dir/out; echo \$? >$stop_dir/status" /dev/null \
  <"$stop_dir/keys" >"$stop_dir/render.log" 2>&1 &
render=$!
wait_for "render waiting for the lock" "$render" "$stop_dir/render.log" has_temporaries
printf '\003' >&9
wait_for "end of the render after Ctrl-C" "$render" "$stop_dir/render.log" \
  test -s "$stop_dir/status"
exec 9>&-
kill "$holder" 2>/dev/null || true
wait "$holder" 2>/dev/null || true
# Wine's console draws the text a character at a time between cursor moves, and wraps it
# at the terminal's width: compared without those, and without spaces.
stop_said=$(sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' "$stop_dir/render.log" | tr -d '\r\n ')
stop_wanted="quarvel-cli:0of2jobsrendered;interrupted:units/tank;notstarted:units/walker"
if [ "$(cat "$stop_dir/status" 2>/dev/null)" != 130 ] || [[ "$stop_said" != *"$stop_wanted"* ]] ||
  has_temporaries; then
  log "Ctrl-C: status $(cat "$stop_dir/status" 2>/dev/null), said: $stop_said"
  exit 1
fi
log "Ctrl-C: status 130, \"0 of 2 jobs rendered; interrupted: units/tank; not started: units/walker\""
# The Linux build to compare with, when there is one: on the same machine both draw with
# Mesa's llvmpipe, so their sprites must be the same bytes.
linux_cli=${QUARVEL_LINUX_CLI:-}
for candidate in build-ci/quarvel-cli build/quarvel-cli; do
  if [ -z "$linux_cli" ] && [ -x "$candidate" ]; then
    linux_cli=$PWD/$candidate
  fi
done
wine_cli=$build_dir/wine-quarvel-cli
printf '#!/bin/sh\nexec timeout -k 5 600 wine "%s" "$@"\n' "$build_dir/quarvel-cli.exe" >"$wine_cli"
chmod +x "$wine_cli"
compare_dir=$build_dir/compare
rm -rf "$compare_dir"
# Renders with both builds into compare/NAME/{windows,linux} and compares them (the
# manifests name their own folders and are left out).
compare_render() {
  local name=$1
  shift
  "$wine_cli" render "$@" --out "$compare_dir/$name/windows" --quiet
  if [ -n "$linux_cli" ]; then
    "$linux_cli" render "$@" --out "$compare_dir/$name/linux" --quiet
    diff -r -x '.*.manifest' "$compare_dir/$name/linux" "$compare_dir/$name/windows" ||
      { log "$name: the Windows build's sprites differ from $linux_cli's"; exit 1; }
    log "$name: byte-identical to the Linux build's"
  fi
}
# Every job of the example (the tank as KXZ, the walker scene through Assimp), then the
# tank in the other formats.
compare_render examples --all --root examples --jobs 1
compare_render example-2p5d units/tank --root examples --format 2p5d
compare_render example-png units/tank --root examples --format png --maps depth,mask,normal
# Workers: --jobs 2 writes what --jobs 1 writes.
"$wine_cli" render --all --root examples --out "$compare_dir/jobs2" --jobs 2 --quiet
diff -r -x '.*.manifest' "$compare_dir/examples/windows" "$compare_dir/jobs2" ||
  { log "--jobs 2 under Wine wrote other sprites than --jobs 1"; exit 1; }
log "--jobs 2 under Wine: the same sprites as --jobs 1"
# The reference set of real models, when the shared test data is beside the clone.
reference_tool=${QUARVEL_SHARED:-$source_dir/../shared}/tools/reference-renders.sh
if [ -n "$linux_cli" ] && [ -x "$reference_tool" ]; then
  "$reference_tool" "$wine_cli" "$compare_dir/reference/windows" >/dev/null
  "$reference_tool" "$linux_cli" "$compare_dir/reference/linux" >/dev/null
  diff -r "$compare_dir/reference/linux" "$compare_dir/reference/windows" ||
    { log "reference renders: the Windows build's differ from $linux_cli's"; exit 1; }
  log "reference renders ($(find "$compare_dir/reference/windows" -type f | wc -l) files): byte-identical to the Linux build's"
else
  log "reference renders skipped (no Linux build, or no $reference_tool)"
fi
# Names in five scripts (Latin-1, Cyrillic, CJK, emoji) through the wide Win32 calls: the
# test that ctest runs on Linux, with quarvel-cli.exe under Wine.
log "rendering jobs with non-ASCII names under Wine"
tests/integration/unicode_names.sh "$wine_cli" "$PWD"

# The window draws under Wine: its picture is a PNG of the window's size (927 x 583).
snapshot=$build_dir/snapshot.png
rm -f "$snapshot"
wine_run "$build_dir/quarvel.exe" --root examples --snapshot "$snapshot" units/tank_idle
png_header=$(od -An -tx1 -N24 "$snapshot" | tr -d ' \n')
if [ "${png_header:0:16}" != 89504e470d0a1a0a ] || [ "${png_header:32:16}" != 0000039f00000247 ]; then
  log "quarvel.exe --snapshot wrote no 927 x 583 PNG ($snapshot: $png_header)"
  exit 1
fi
log "quarvel.exe --snapshot wrote the window's picture ($snapshot)"

version=$(sed -n 's/^project(Quarvel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=quarvel-$version-windows-x64
stage=$build_dir/zip/$name
rm -rf "$build_dir/zip"
mkdir -p "$stage/bin" "$stage/share/quarvel" "$stage/docs" "$stage/licences"
for exe in quarvel-cli.exe quarvel.exe; do
  if [ -f "$build_dir/$exe" ]; then
    "$triplet-strip" -o "$stage/bin/$exe" "$build_dir/$exe"
  fi
done
cp shaders/*.vglsl shaders/*.fglsl "$stage/share/quarvel/"
cp -r examples "$stage/examples"
cp README.md "$stage/"
cp docs/*.md "$stage/docs/"
# The licence of every library in the programs: the cross-built ones' from their source
# packages, the rest from their Debian packages' documentation.
for lib in "${libraries[@]}"; do
  if [ -f "$cache/built-$lib" ] && [ "$lib" != googletest ]; then
    cp "$(source_tree "$lib")/debian/copyright" "$stage/licences/$lib.txt"
  fi
done
for pkg in gcc-mingw-w64-base mingw-w64-x86-64-dev libz-mingw-w64-dev libcli11-dev \
  nlohmann-json3-dev libxxhash-dev libstb-dev libutfcpp-dev; do
  cp "/usr/share/doc/$pkg/copyright" "$stage/licences/$pkg.txt"
done
rm -f "$build_dir/$name.zip"
(cd "$build_dir/zip" && zip -qr "../$name.zip" "$name")
log "wrote $build_dir/$name.zip"
