#!/usr/bin/env bash
# Builds the libFuzzer targets (build/fuzz, clang) and runs each over its seeds in fuzz/corpus.
#   scripts/fuzz.sh               a fixed number of inputs per target, fixed seed (what CI runs)
#   scripts/fuzz.sh --time S [T]  each target (or only T) for S seconds, keeping what it finds
#   scripts/fuzz.sh --runs N [T]  each target (or only T) for N inputs, keeping what it finds
# A crash, a sanitizer report, a broken rule or a slow input fails the run; the input that did it
# is left in build/fuzz/artifacts.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=""
inputs=""
only=""
case "${1:-}" in
  --time) seconds=$2 only=${3:-} ;;
  --runs) inputs=$2 only=${3:-} ;;
esac

cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang-14 \
  -DCMAKE_CXX_COMPILER=clang++-14 -DKD735_FUZZ=ON -DKD735_BUILD_TESTS=OFF -DKD735_BUILD_BENCH=OFF \
  -DKD735_WERROR="${KD735_WERROR:-OFF}" > /dev/null
cmake --build build/fuzz -j "$(nproc)" --target kd735_fuzzers

# A small quarantine and short allocation stacks double the speed; reports stay complete enough.
export ASAN_OPTIONS="quarantine_size_mb=8:malloc_context_size=5:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen

work=build/fuzz/corpus
mkdir -p build/fuzz/artifacts "$work"
# The default template as seeds: the packed .docx and its parts as the text form.
seeds=build/fuzz/template-seeds
mkdir -p "$seeds"
cp build/fuzz/Sample_KD735.docx "$seeds/sample.docx"
: > "$seeds/sample"
for part in "[Content_Types].xml" _rels/.rels docProps/core.xml docProps/app.xml \
  word/document.xml word/styles.xml word/settings.xml word/footer1.xml \
  word/_rels/document.xml.rels; do
  { echo "=== $part"; cat "report/template/docx/$part"; } >> "$seeds/sample"
done

# target  inputs in CI  extra options
targets=(
  "record      8000  -max_len=4200"
  "local_file 50000  -max_len=4400"
  "template   20000  -max_len=65536 -dict=fuzz/template.dict"
  "screen      3000  -max_len=1040"
  "reader     30000  -max_len=20000"
  "message    50000  -max_len=128"
  "writer_request 50000  -max_len=4096"
)
for entry in "${targets[@]}"; do
  read -r target runs options <<< "$entry"
  [ -n "$only" ] && [ "$only" != "$target" ] && continue
  extra=()
  [ "$target" = template ] && extra=("$seeds")
  if [ -n "$seconds" ]; then
    limit=(-max_total_time="$seconds")
  elif [ -n "$inputs" ]; then
    limit=(-runs="$inputs")
  else
    rm -rf "${work:?}/$target"  # the same inputs on every run
    limit=(-runs="$runs")
  fi
  mkdir -p "$work/$target"
  echo "fuzz_$target:"
  log=build/fuzz/$target.log
  status=0
  # shellcheck disable=SC2086
  build/fuzz/fuzz/fuzz_"$target" "${limit[@]}" -seed=1 -timeout=10 -rss_limit_mb=2560 \
    -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/$target-" $options \
    "$work/$target" "fuzz/corpus/$target" "${extra[@]}" > "$log" 2>&1 || status=$?
  grep -E "^Done|stat::number_of_executed_units|stat::peak_rss" "$log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "fuzz_$target failed (exit $status); see $log and build/fuzz/artifacts" >&2
    exit 1
  fi
done
