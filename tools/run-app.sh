#!/usr/bin/env bash
# Installs what is missing, builds, and starts VardeloLink.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh app
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARDELO_BUILD_TESTS=OFF -DVARDELO_BUILD_BENCH=OFF
cmake --build build --target vardelolink
exec ./build/bin/vardelolink
