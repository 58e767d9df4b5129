#!/usr/bin/env bash
# Configures and builds the source tree in a scratch folder with the tests,
# benchmarks and fuzz harnesses off and GoogleTest, Google Benchmark and
# OpenSSL (the benchmarks' reference only) barred: nothing may look for a
# test tool, and the library and zefa-eval must build and answer. Built
# without optimisation to keep it short.
#   bare_build_test.sh SOURCE_DIR C_COMPILER CXX_COMPILER GENERATOR
set -euo pipefail
src=$1 cc=$2 cxx=$3 generator=$4
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

cmake -S "$src" -B "$scratch/build" -G "$generator" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_C_FLAGS_DEBUG=-O0 -DCMAKE_CXX_FLAGS_DEBUG=-O0 \
  -DBUILD_TESTING=OFF -DZEFA_BENCH=OFF -DZEFA_FUZZ=OFF \
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_OpenSSL=ON \
  > "$scratch/configure.log" 2>&1 || { cat "$scratch/configure.log"; exit 1; }
# (CMake lists the bars among the variables the project never used.)
if grep -v CMAKE_DISABLE_FIND_PACKAGE_ "$scratch/configure.log" | grep -i -E 'gtest|gmock|benchmark|rapidjson|openssl'; then
  echo "configuring mentions a test tool"; exit 1
fi
# A find_package or find_path leaves its result in the cache.
if grep -E '^(GTest|GTEST|GMock|GMOCK|benchmark|RapidJSON|RAPIDJSON|ZEFA_RAPIDJSON|OpenSSL|OPENSSL)[A-Za-z_]*:' \
     "$scratch/build/CMakeCache.txt"; then
  echo "configuring looked for a test tool"; exit 1
fi
cmake --build "$scratch/build" -j "$(nproc)" > "$scratch/build.log" 2>&1 \
  || { tail -n 40 "$scratch/build.log"; exit 1; }
got=$("$scratch/build/tools/zefa-eval/zefa-eval" <<< '{"op":"merge","mappings":[{"a":{"x":1}}]}')
[ "$got" = '{"ok":true,"value":{"a":{"x":1}}}' ] || { echo "zefa-eval: $got"; exit 1; }
echo "built without test tools"
