#!/usr/bin/env bash
# Installs what the programs need, builds the two programs, the Writer helper and the tool (no
# tests, no benchmarks), and starts the report program on the simulated instrument. Arguments go
# to the program. scripts/test.sh installs and builds the rest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKD735_BUILD_TESTS=OFF \
  -DKD735_BUILD_BENCH=OFF > /dev/null
if [ ! -x build/release/apps/report/KD735_Report ]; then
  # Measured: about 110 steps, 6 minutes of processor time (no ccache).
  echo "Building the programs: the first build takes about 3 minutes on two free cores" \
    "(later ones only what changed)."
fi
cmake --build build/release -j "$(nproc)" --target KD735_Report KD735_Virtual kd735
exec build/release/apps/report/KD735_Report --simulate "$@"
