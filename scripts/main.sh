#!/usr/bin/env bash
# Installs what is missing, builds the library and the host stand-in, and
# runs the sample exchange of requests. Needs no test tool: the tests and
# benchmarks are left out of this build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh main
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DBUILD_TESTING=OFF -DZEFA_BENCH=OFF -DZEFA_FUZZ=OFF >/dev/null
cmake --build build/release --target zefa_engine zefa-eval
for f in examples/*.jsonl; do
  echo "== $f"
  build/release/tools/zefa-eval/zefa-eval "$f"
done
