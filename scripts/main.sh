#!/usr/bin/env bash
# Installs what is missing, builds the library and the host stand-in, and
# runs the sample exchange of requests.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release --target zefa_engine zefa-eval
for f in examples/*.jsonl; do
  echo "== $f"
  build/release/tools/zefa-eval/zefa-eval "$f"
done
