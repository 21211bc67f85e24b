#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Quarvel needs, then
# the npm packages of the browser test (tests/browser/package-lock.json, into the
# git-ignored tests/browser/node_modules).
# Idempotent: does nothing (and needs no root) when everything is already present.
set -euo pipefail

PACKAGES=(
  build-essential make cmake ninja-build pkg-config git
  clang clang-format libclang-rt-14-dev
  libpng-dev libjpeg-dev zlib1g-dev
  libegl-dev libgl-dev libglu1-mesa-dev libegl-mesa0 libgl1-mesa-dri libglx-mesa0
  libfltk1.3-dev xvfb xauth
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libstb-dev libcli11-dev nlohmann-json3-dev libtinyobjloader-dev
  help2man
  libassimp-dev assimp-testmodels
  libxxhash-dev parallel
  slurm-wlm munge
  openssh-server openssh-client rsync
  chromium
)
# The Windows build's cross compiler and Wine are installed by scripts/windows.sh itself:
# the Linux build and its tests need none of them.
# Node.js and npm for the browser test, from Debian unless the machine has them already
# (another build of Node.js brings its own npm, which Debian's package would conflict with).
if ! command -v npm >/dev/null 2>&1; then
  PACKAGES+=(nodejs npm)
fi

# The browser test's engine, exactly as the lock file pins it.
npm_packages() {
  local dir
  dir="$(dirname "$0")/../tests/browser"
  if [ ! -f "$dir/node_modules/phaser/dist/phaser.min.js" ] ||
    [ ! -f "$dir/node_modules/puppeteer-core/package.json" ]; then
    echo "bootstrap: installing the npm packages of $dir" >&2
    npm ci --prefix "$dir" --no-audit --no-fund --loglevel=error
  fi
}

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  npm_packages
  exit 0
fi

echo "bootstrap: installing ${missing[*]}" >&2
SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  SUDO=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
npm_packages
