#!/usr/bin/env bash
# End-to-end performance run: builds Release with the benchmarks, generates the
# deterministic large inputs (once), runs Kartlo on each and reports wall time,
# rows per second, MB/s of input and peak memory; then runs the micro
# benchmarks and prints the speed-up ratios measured in that one run.
#
#   bench/run-e2e.sh [--no-micro]
#
# Environment: BUILD_DIR (default build/bench), DATA_DIR (default
# $BUILD_DIR/data), KARTLO_REFERENCE (another Kartlo binary: its results must be
# byte-identical and its figures are reported beside ours).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build/bench}"
data="${DATA_DIR:-$build/data}"
micro=1
[ "${1:-}" = "--no-micro" ] && micro=0

"$root/scripts/ensure-deps.sh" benchmark time
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DKARTLO_BUILD_BENCHMARKS=ON -DKARTLO_BUILD_TESTS=OFF -DKARTLO_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$build" --target Kartlo kartlo_generate kartlo_bench >/dev/null

mkdir -p "$data"
for case in wide long long200k; do
  if [ ! -s "$data/$case.dat" ] || [ ! -s "$data/$case.net" ]; then
    echo "generating $case ..."
    "$build/bench/kartlo_generate" "$data" "$case"
  fi
done

# run BINARY CASE OUT: prints "seconds peak-kB" of one run.
run() {
  local log
  log="$(mktemp)"
  /usr/bin/time -v "$1" "$data/$2.net" "$data/$2.dat" "$3" 2>"$log" >/dev/null || {
    cat "$log" >&2
    rm -f "$log"
    return 1
  }
  awk -F': ' '
    /Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i] }
    /Maximum resident set size/ { kb = $2 }
    END { printf "%.3f %d\n", s, kb }' "$log"
  rm -f "$log"
}

report() {  # report NAME CASE SECONDS KB
  local rows bytes
  rows="$(awk -F'= ' '/^\[Rows = /{sub(/\]/, "", $2); print $2; exit}' "$data/$2.dat")"
  bytes="$(stat -c %s "$data/$2.dat")"
  awk -v name="$1" -v c="$2" -v s="$3" -v kb="$4" -v rows="$rows" -v bytes="$bytes" 'BEGIN {
    if (s <= 0) s = 0.001
    printf "%-10s %-8s %8d rows %8.1f MB  %7.2f s  %10.0f rows/s  %7.1f MB/s  peak %6.1f MB\n",
      name, c, rows, bytes / 1e6, s, rows / s, bytes / 1e6 / s, kb / 1024 }'
}

echo
echo "End to end (input MB/s; peak = maximum resident set size):"
for case in wide long200k long; do
  read -r secs kb < <(run "$build/Kartlo" "$case" "$build/$case.out")
  report Kartlo "$case" "$secs" "$kb"
  if [ -n "${KARTLO_REFERENCE:-}" ]; then
    read -r rsecs rkb < <(run "$KARTLO_REFERENCE" "$case" "$build/$case.reference.out")
    report reference "$case" "$rsecs" "$rkb"
    if cmp -s "$build/$case.out" "$build/$case.reference.out"; then
      echo "           $case: results byte-identical"
    else
      echo "           $case: RESULTS DIFFER" >&2
      exit 1
    fi
  fi
done

[ "$micro" = 1 ] || exit 0
echo
echo "Micro benchmarks (CPU time; ratios are baseline / Kartlo within this run):"
json="$build/bench.json"
"$build/bench/kartlo_bench" --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true \
  --benchmark_out="$json" --benchmark_out_format=json >/dev/null
# Repetitions run in random order, so that a slow spell of a shared machine falls on
# every case alike; the median of each case, then the ratios.
awk '
  /"name":/ { gsub(/[",]/, "", $2); name = $2 }
  /"aggregate_name": "median"/ { median = 1 }
  /"real_time":/ { gsub(/,/, "", $2); real = $2 }
  /"cpu_time":/ { gsub(/,/, "", $2); if (median) { sub(/_median$/, "", name); sub(/\/real_time$/, "", name); cpu[name] = $2; wall[name] = real } median = 0 }
  END {
    split("map40x40_in64_near map40x40_in64_uniform map16x16_in16_near map16x16_in16_uniform map10x10_in8_near", maps, " ")
    for (i = 1; i <= 5; i++) {
      m = maps[i]; p = "Plain/" m
      if (!(p in cpu)) continue
      printf "  search %-24s 1 thread %6.1fx (cpu)   2 threads %6.1fx (wall)\n", m,
        cpu[p] / cpu["Fast/" m "/widest/1thread"], wall[p] / wall["Fast/" m "/widest/2threads"]
    }
    printf "  ParseNumber vs sscanf(\"%%f\")+strtod   %6.1fx\n", cpu["ScanfThenStrtod"] / cpu["ParseNumber"]
    printf "  ParseInteger vs sscanf(\"%%ld\")        %6.1fx\n", cpu["ScanfLd"] / cpu["ParseInteger"]
    printf "  data set reading vs fscanf            %6.1fx\n", cpu["ReadScanf"] / cpu["ReadKartlo"]
    printf "  data set writing vs fprintf           %6.1fx\n", cpu["WritePrintf"] / cpu["WriteKartlo"]
  }' "$json"
echo "(full figures: $json)"
