#!/usr/bin/env bash
# Sets everything up, builds Quarvel and runs it on the bundled example.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARVEL_BUILD_TESTS=OFF -DQUARVEL_BUILD_BENCH=OFF
cmake --build build -j "$(nproc)"
./build/quarvel-cli gl-info
./build/quarvel-cli render units/tank --root examples --out build/example-out
