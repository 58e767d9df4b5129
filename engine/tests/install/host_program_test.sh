#!/usr/bin/env bash
# Builds the example host program (examples/host) against the installed
# package, linked through find_package and through pkg-config and loading
# the library with dlopen, and runs each on the smart plug of
# examples/driver.jsonl: each must print the expected session, byte for byte.
#   host_program_test.sh BUILD_DIR SOURCE_DIR C_COMPILER "C_FLAGS" "LINK_FLAGS" GENERATOR
set -euo pipefail
build=$1 src=$2 cc=$3 cflags=$4 ldflags=$5 generator=$6
host=$src/examples/host
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
warnings="-Wall -Wextra -Werror"

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libzefa_engine.so.*' | head -n 1)")

cmake -S "$host" -B "$scratch/host" -G "$generator" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$cflags $warnings" \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$scratch/host" >/dev/null
# shellcheck disable=SC2046,SC2086
"$cc" $cflags $warnings -o "$scratch/pc-host" "$host/host.c" \
  $(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --cflags --libs zefa_engine) -Wl,-rpath,"$libdir" $ldflags

check() {  # NAME, then the command
  local name=$1; shift
  if ! "$@" "$src/examples/driver.jsonl" "$host/session.jsonl" > "$scratch/$name.out"; then
    echo "$name: exited non-zero"; exit 1
  fi
  diff -u "$host/session.expected" "$scratch/$name.out" || { echo "$name: output differs"; exit 1; }
}
check find_package "$scratch/host/zefa-host"
check pkg-config "$scratch/pc-host"
check dlopen env LD_LIBRARY_PATH="$libdir" "$scratch/host/zefa-host-dlopen"
echo "example host: linked, pkg-config and dlopen builds printed the expected session"
