#!/usr/bin/env bash
# Builds Kartlo and maps the bundled iris example onto its trained map.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target Kartlo
build/release/Kartlo examples/iris-map.net examples/iris.dat build/iris-coordinates.dat
echo "Mapped $(grep -c '^ *[0-9]' build/iris-coordinates.dat || true) rows; result: build/iris-coordinates.dat"
head -n 16 build/iris-coordinates.dat
