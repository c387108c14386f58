#!/usr/bin/env bash
# Builds the fuzz targets and runs each one for the given number of seconds on
# a scratch copy of its seed corpus; any crash, abort, sanitizer report, leak,
# hang or memory blow-up fails the run and leaves the input under build/fuzz-findings.
#   fuzz/run.sh [seconds] [target ...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(tag_reader dataset_reader network_reader message_parser recall_road)

scripts/ensure-deps.sh fuzz
build=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKARTLO_BUILD_FUZZERS=ON -DKARTLO_SANITIZE=ON -DKARTLO_BUILD_TESTS=OFF \
  -DKARTLO_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$build" --target fuzzers

findings="$build-findings"
mkdir -p "$findings"
failed=()
for target in "${targets[@]}"; do
  work="$(mktemp -d)"
  cp -R "fuzz/corpus/$target/." "$work/"
  echo "== fuzz_$target for ${seconds}s"
  # Leaks and sanitizer reports abort; one input may take at most 30 s (the
  # largest maps a small file may describe take about a second) and
  # the process at most 2 GiB.
  if ! ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=0" \
       UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
       nice -n 10 "$build/fuzz/fuzz_$target" "$work" -dict=fuzz/tags.dict \
         -max_total_time="$seconds" -max_len=65536 -timeout=30 -rss_limit_mb=2048 \
         -malloc_limit_mb=1024 -artifact_prefix="$findings/$target-" -print_final_stats=1 \
         >"$work.log" 2>&1; then
    tail -n 60 "$work.log"
    failed+=("$target")
  else
    grep -E '^(stat::number_of_executed_units|Done )' "$work.log" || tail -n 3 "$work.log"
  fi
  rm -rf "$work" "$work.log"
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz findings in: ${failed[*]} (inputs under $findings)"
  exit 1
fi
echo "fuzzing found nothing"
