#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test:
#   1. g++, warnings as errors: unit and C API tests;
#   2. clang with AddressSanitizer + UndefinedBehaviorSanitizer: every test;
#   3. clang with ThreadSanitizer: the concurrency tests;
#   4. clang with libFuzzer: each harness replays its seed corpus and fuzzes
#      briefly.
# Any failure or sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/check_layers.sh
jobs=$(nproc)
passed=0
# Runs ctest, echoing its output, and counts the tests it passed.
run_ctest() {
  local out
  out=$(mktemp)
  ctest "$@" 2>&1 | tee "$out"
  local status=${PIPESTATUS[0]}
  local n
  n=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$out" | tail -n 1)
  rm -f "$out"
  [ "$status" -eq 0 ] || exit "$status"
  passed=$((passed + ${n:-0}))
}
fuzz_seconds=${ZEFA_FUZZ_SECONDS:-10}

export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

echo "== g++ build"
cmake -S . -B build/gcc -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc -DZEFA_WERROR=ON >/dev/null
cmake --build build/gcc -j "$jobs"
run_ctest --test-dir build/gcc -j "$jobs" --output-on-failure

echo "== clang, address + undefined sanitizers"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DZEFA_WERROR=ON \
  -DZEFA_SANITIZE=address,undefined -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" >/dev/null
cmake --build build/asan -j "$jobs"
run_ctest --test-dir build/asan -j "$jobs" --output-on-failure

echo "== clang, thread sanitizer (concurrency tests)"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DZEFA_SANITIZE=thread -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" >/dev/null
cmake --build build/tsan -j "$jobs" --target zefa_tests
run_ctest --test-dir build/tsan -j "$jobs" -R Concurrency --output-on-failure

echo "== clang, libFuzzer harnesses (${fuzz_seconds}s each)"
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DZEFA_FUZZ=ON -DZEFA_BENCH=OFF >/dev/null
cmake --build build/fuzz -j "$jobs" --target zefa_fuzzers
for h in build/fuzz/engine/fuzz/fuzz_*; do
  name=$(basename "$h")
  work=$(mktemp -d)
  seeds=engine/fuzz/corpus/${name#fuzz_}
  [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/
  echo "-- $name"
  status=0
  "$h" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$work" \
    > "$work.log" 2>&1 || status=$?
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==|SUMMARY)' "$work.log" || true
  [ "$status" -eq 0 ] || tail -n 40 "$work.log"
  rm -rf "$work" "$work.log"
  [ "$status" -eq 0 ] || { echo "$name failed"; exit 1; }
  passed=$((passed + 1))
done
echo "tests: $passed passed, 0 failed"
