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
set -euo pipefail
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

# The window's library is optional: without it (its source package could not be fetched)
# only quarvel-cli and the tests are built, and the next run tries to fetch it again.
optional_libraries=" fltk1.3 "
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
    if [[ "$optional_libraries" == *" $lib "* ]]; then
      log "no $lib: going on without what needs it"
      continue
    fi
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
# The window does not build for Windows yet.
quarvel_options=(-DQUARVEL_BUILD_APP=OFF)

exec 8>&-

# --- 3. Quarvel ---
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-/work} CCACHE_DIR=${CCACHE_DIR:-/work/.ccache}
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DQUARVEL_WINDOWS_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARVEL_WERROR=ON \
  -DQUARVEL_BUILD_BENCH=OFF -DQUARVEL_BUILD_TESTS=ON \
  "${launcher[@]}" "${quarvel_options[@]}" ${QUARVEL_WINDOWS_CMAKE_ARGS:-}
# The test programs that build for Windows so far (the others call POSIX directly).
windows_tests=(test_maths test_colour test_output test_render test_common test_image test_jobs test_models test_gl test_docs test_fuzz)
programs=(quarvel-cli)
cmake --build "$build_dir" -j "$jobs" --target "${programs[@]}" "${windows_tests[@]}"
log "built $build_dir/quarvel-cli.exe (libraries: $cache)"

# --- 4. A run under Wine, and the zip ---
export WINEDEBUG=${WINEDEBUG:--all}
wine_run() {
  timeout -k 5 600 xvfb-run -a -s "-screen 0 1280x1024x24" wine "$@"
}
wine_run "$build_dir/quarvel-cli.exe" --version
for t in "${windows_tests[@]}"; do
  log "running $t under Wine"
  (cd "$build_dir/tests" && wine_run "./$t.exe" --gtest_brief=1)
done
example_out=$build_dir/example-out
rm -rf "$example_out"
wine_run "$build_dir/quarvel-cli.exe" render units/tank --root examples --out "$example_out" --quiet
# The same job from the Linux build, when there is one: the sprites must be the same bytes
# (both draw with Mesa's llvmpipe here).
linux_cli=${QUARVEL_LINUX_CLI:-}
for candidate in build-ci/quarvel-cli build/quarvel-cli; do
  if [ -z "$linux_cli" ] && [ -x "$candidate" ]; then
    linux_cli=$candidate
  fi
done
if [ -n "$linux_cli" ]; then
  rm -rf "$build_dir/example-out-linux"
  timeout -k 5 600 xvfb-run -a -s "-screen 0 1280x1024x24" "$linux_cli" render units/tank \
    --root examples --out "$build_dir/example-out-linux" --quiet
  if ! diff -r -x '.*.manifest' "$build_dir/example-out-linux" "$example_out"; then
    log "the Windows build's example sprites differ from $linux_cli's"
    exit 1
  fi
  log "example sprites byte-identical to $linux_cli's"
fi

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
