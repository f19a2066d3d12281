#!/usr/bin/env bash
# Set-up, build, and start the program on the simulated instrument.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/release -j "$(nproc)"
if [ $# -eq 0 ]; then set -- list; fi
exec build/release/tools/kd735 --simulate "$@"
