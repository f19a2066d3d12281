#!/usr/bin/env bash
# Set-up, build, and start the report program on the simulated instrument.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/release -j "$(nproc)"
exec build/release/apps/report/KD735_Report --simulate "$@"
