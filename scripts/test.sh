#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test:
#   1. g++ Release, warnings as errors: unit and C API tests, and the
#      benchmarks build;
#   2. clang with AddressSanitizer + UndefinedBehaviorSanitizer: every test;
#   3. clang with ThreadSanitizer: the concurrency tests;
#   4. clang with libFuzzer: each harness replays its seed corpus and fuzzes
#      briefly.
# Any failure or sanitizer report fails the run. The same test passing in
# several builds counts once in the closing line; each build reports its own
# count above it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/check_layers.sh
jobs=$(nproc)
names=$(mktemp)  # one line per passed test per build: its name
builds=()        # "build: count" per build
trap 'rm -f "$names"' EXIT
# Runs ctest for the named build, echoing its output, and records the tests
# it passed.
run_ctest() {
  local build=$1 out status n
  shift
  out=$(mktemp)
  ctest "$@" 2>&1 | tee "$out"
  status=${PIPESTATUS[0]}
  sed -n 's/^ *[0-9]*\/[0-9]* Test *#[0-9]*: \([^ ]*\) .* Passed .*/\1/p' "$out" > "$out.names"
  n=$(wc -l < "$out.names")
  cat "$out.names" >> "$names"
  rm -f "$out" "$out.names"
  [ "$status" -eq 0 ] || exit "$status"
  builds+=("$build: $n")
}
fuzz_seconds=${ZEFA_FUZZ_SECONDS:-10}

export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

echo "== g++ Release build"
cmake -S . -B build/gcc -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc -DZEFA_WERROR=ON >/dev/null
cmake --build build/gcc -j "$jobs"
run_ctest g++ --test-dir build/gcc -j "$jobs" --output-on-failure

echo "== clang, address + undefined sanitizers"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DZEFA_WERROR=ON \
  -DZEFA_SANITIZE=address,undefined -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" >/dev/null
cmake --build build/asan -j "$jobs"
run_ctest asan+ubsan --test-dir build/asan -j "$jobs" --output-on-failure

echo "== clang, thread sanitizer (concurrency tests)"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DZEFA_SANITIZE=thread -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" >/dev/null
cmake --build build/tsan -j "$jobs" --target zefa_tests
run_ctest tsan --test-dir build/tsan -j "$jobs" -R Concurrency --output-on-failure

echo "== clang, libFuzzer harnesses (${fuzz_seconds}s each)"
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DZEFA_FUZZ=ON -DZEFA_BENCH=OFF >/dev/null
cmake --build build/fuzz -j "$jobs" --target zefa_fuzzers
fuzzed=0
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
  echo "fuzz:$name" >> "$names"
  fuzzed=$((fuzzed + 1))
done
builds+=("libFuzzer harnesses: $fuzzed")

echo "== summary"
printf '  %s\n' "${builds[@]}"
echo "tests: $(sort -u "$names" | wc -l) passed, 0 failed"
