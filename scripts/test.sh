#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test:
#   1. g++ Release, warnings as errors: unit and C API tests, and the
#      benchmarks build;
#   2. clang with AddressSanitizer + UndefinedBehaviorSanitizer: every test;
#   3. clang with ThreadSanitizer: the concurrency tests;
#   4. clang with libFuzzer: each harness replays its seed corpus and fuzzes
#      briefly.
# Any failure or sanitizer report fails the run. Failing tests do not stop
# it; a build that does not compile does. The last line is always
#   tests: N passed, M failed[, K skipped]
# counting each distinct test once however many builds ran it (a test that
# failed in any build counts as failed; a build that did not compile, or a
# run that gave no results, as one failure); the lines above it give each
# build's own counts. The exit status is non-zero when M is.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
jobs=$(nproc)
results=$(mktemp)  # one line per test per build: "passed|failed|skipped NAME"
builds=()          # "build: counts" per build
broken=0           # failures that are not one test's: a step, a build, a run
fuzz_work=$(mktemp -d)  # one folder and log per fuzz harness
trap 'rm -f "$results"; rm -rf "$fuzz_work"' EXIT

count() { printf '%s passed, %s failed' "$1" "$2"; [ "$3" -eq 0 ] || printf ', %s skipped' "$3"; }

summary() {
  local failed passed skipped
  failed=$(awk '$1 == "failed" { print $2 }' "$results" | sort -u)
  passed=$(awk '$1 == "passed" { print $2 }' "$results" | sort -u | comm -23 - <(printf '%s\n' "$failed"))
  skipped=$(awk '$1 == "skipped" { print $2 }' "$results" | sort -u \
            | comm -23 - <(printf '%s\n%s\n' "$failed" "$passed" | sort -u))
  local nf np ns
  nf=$(( $(printf '%s' "$failed" | grep -c .) + broken ))
  np=$(printf '%s' "$passed" | grep -c .)
  ns=$(printf '%s' "$skipped" | grep -c .)
  echo "== summary"
  [ ${#builds[@]} -eq 0 ] || printf '  %s\n' "${builds[@]}"
  echo "tests: $(count "$np" "$nf" "$ns")"
  [ "$nf" -eq 0 ]
}

# Ends the run early (a step failed or a build did not compile).
stop() {
  echo "$1"
  broken=$((broken + 1))
  builds+=("$1")
  summary
  exit 1
}

# Runs ctest for the named build, echoing its output, and records each
# test's result.
run_ctest() {
  local build=$1 out status p f s
  shift
  out=$(mktemp)
  ctest "$@" 2>&1 | tee "$out"
  status=${PIPESTATUS[0]}
  # A result line: "  3/131 Test  #3: NAME[ # comment] ....   Passed    0.01 sec";
  # the name is its first word, the result stands at the end.
  awk '
    match($0, /^ *[0-9]+\/[0-9]+ Test +#[0-9]+: /) {
      name = substr($0, RLENGTH + 1); sub(/ .*/, "", name)
      if ($0 ~ /\*\*\*Skipped +[0-9.]+ sec *$/ || $0 ~ /\*\*\*Not Run \(Disabled\) +[0-9.]+ sec *$/) print "skipped", name
      else if ($0 ~ / Passed +[0-9.]+ sec *$/) print "passed", name
      else print "failed", name
    }' "$out" > "$out.results"
  p=$(grep -c '^passed ' "$out.results")
  f=$(grep -c '^failed ' "$out.results")
  s=$(grep -c '^skipped ' "$out.results")
  cat "$out.results" >> "$results"
  rm -f "$out" "$out.results"
  builds+=("$build: $(count "$p" "$f" "$s")")
  # ctest failing with no test failed, or running none, is a failure too.
  if { [ "$status" -ne 0 ] && [ "$f" -eq 0 ]; } || [ $((p + f + s)) -eq 0 ]; then
    echo "ctest of $build failed (status $status) with no failed test to show for it"
    broken=$((broken + 1))
  fi
}
fuzz_seconds=${ZEFA_FUZZ_SECONDS:-10}

scripts/setup.sh || stop "setup failed"
if scripts/check_layers.sh; then echo "passed layers" >> "$results"; else echo "failed layers" >> "$results"; fi

export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

echo "== g++ Release build"
cmake -S . -B build/gcc -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc -DZEFA_WERROR=ON >/dev/null \
  || stop "g++: configuring failed"
cmake --build build/gcc -j "$jobs" || stop "g++: the build failed"
run_ctest g++ --test-dir build/gcc -j "$jobs" --output-on-failure

echo "== clang, address + undefined sanitizers"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DZEFA_WERROR=ON \
  -DZEFA_SANITIZE=address,undefined -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" >/dev/null \
  || stop "asan+ubsan: configuring failed"
cmake --build build/asan -j "$jobs" || stop "asan+ubsan: the build failed"
run_ctest asan+ubsan --test-dir build/asan -j "$jobs" --output-on-failure

echo "== clang, thread sanitizer (concurrency tests)"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DZEFA_SANITIZE=thread -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" >/dev/null \
  || stop "tsan: configuring failed"
cmake --build build/tsan -j "$jobs" --target zefa_tests || stop "tsan: the build failed"
run_ctest tsan --test-dir build/tsan -j "$jobs" -R Concurrency --output-on-failure

echo "== clang, libFuzzer harnesses (${fuzz_seconds}s each)"
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DZEFA_FUZZ=ON -DZEFA_BENCH=OFF >/dev/null \
  || stop "libFuzzer: configuring failed"
cmake --build build/fuzz -j "$jobs" --target zefa_fuzzers || stop "libFuzzer: the build failed"
# The harnesses run side by side, one per core; each keeps its own log, and
# the logs are read in order once all have ended.
harnesses=(build/fuzz/engine/fuzz/fuzz_*)
running=0
for h in "${harnesses[@]}"; do
  name=$(basename "$h")
  (
    work=$fuzz_work/$name
    mkdir -p "$work"
    seeds=engine/fuzz/corpus/${name#fuzz_}
    [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/
    status=0
    "$h" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$work" \
      > "$work.log" 2>&1 || status=$?
    echo "$status" > "$work.status"
  ) &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait
fuzz_passed=0 fuzz_failed=0
for h in "${harnesses[@]}"; do
  name=$(basename "$h")
  log=$fuzz_work/$name.log
  status=$(cat "$fuzz_work/$name.status" 2>/dev/null || echo 1)
  echo "-- $name"
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==|SUMMARY)' "$log" || true
  [ "$status" -eq 0 ] || tail -n 40 "$log"
  if [ "$status" -eq 0 ]; then
    echo "passed fuzz:$name" >> "$results"
    fuzz_passed=$((fuzz_passed + 1))
  else
    echo "$name failed"
    echo "failed fuzz:$name" >> "$results"
    fuzz_failed=$((fuzz_failed + 1))
  fi
done
builds+=("libFuzzer harnesses: $(count "$fuzz_passed" "$fuzz_failed" 0)")

summary
