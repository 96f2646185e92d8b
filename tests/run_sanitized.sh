#!/usr/bin/env bash
# Every test again, built with clang under AddressSanitizer and UndefinedBehaviorSanitizer, then
# the three fuzz targets for a bounded time (FUZZ_SECONDS, default 60). Fails on any failing test,
# sanitizer report or fuzzing finding.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-sanitize -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 \
  -DTESSARO_SANITIZE=ON -DTESSARO_FUZZ=ON -DTESSARO_TESTS=ON -DTESSARO_WERROR=ON
cmake --build build-sanitize
ctest --test-dir build-sanitize --output-on-failure
tests/fuzz/run_fuzzers.sh build-sanitize "${FUZZ_SECONDS:-60}"
