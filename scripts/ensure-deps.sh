#!/usr/bin/env bash
# Installs the build dependencies a fresh Debian machine may lack, and only those.
set -euo pipefail

missing=()
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v ninja >/dev/null 2>&1 || missing+=(ninja-build)
command -v g++ >/dev/null 2>&1 || missing+=(g++)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
[ -f /usr/include/gmock/gmock.h ] || missing+=(libgmock-dev)
for extra in "$@"; do
  case "$extra" in
    benchmark) [ -f /usr/include/benchmark/benchmark.h ] || missing+=(libbenchmark-dev) ;;
    fuzz) command -v clang++ >/dev/null 2>&1 || missing+=(clang)
          ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 \
            || missing+=(libclang-rt-dev) ;;
    time) [ -x /usr/bin/time ] || missing+=(time) ;;
    valgrind) command -v valgrind >/dev/null 2>&1 || missing+=(valgrind) ;;
  esac
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing missing build dependencies: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
