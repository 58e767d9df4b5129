#!/usr/bin/env bash
# Installs the built library into a scratch prefix, then builds the host of
# this folder against it twice, through find_package and through
# pkg-config, and runs one request through each.
#   install_test.sh BUILD_DIR C_COMPILER "C_FLAGS" "LINK_FLAGS" GENERATOR
set -euo pipefail
build=$1 cc=$2 cflags=$3 ldflags=$4 generator=$5
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
expected='{"ok":true,"value":{"lamp-7":{"category":"dj","auto":false}}}'
prefix=$scratch/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in include/zefa_engine.h lib/cmake/zefa_engine/zefa_engineConfig.cmake; do
  [ -f "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
lib=$(find "$prefix" -name 'libzefa_engine.so.*.*.*' | head -n 1)
libdir=$(dirname "$lib")
for link in libzefa_engine.so libzefa_engine.so.0; do
  [ -L "$libdir/$link" ] || { echo "missing link: $link"; exit 1; }
done
soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = libzefa_engine.so.0 ] || { echo "soname: $soname"; exit 1; }

cmake -S "$here" -B "$scratch/host" -G "$generator" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$cflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$scratch/host" >/dev/null
got=$("$scratch/host/zefa_host")
[ "$got" = "$expected" ] || { echo "find_package host: $got"; exit 1; }

pc=$(dirname "$(find "$prefix" -name zefa_engine.pc | head -n 1)")
# shellcheck disable=SC2046,SC2086
"$cc" $cflags -o "$scratch/pc_host" "$here/host.c" $(PKG_CONFIG_PATH=$pc pkg-config --cflags --libs zefa_engine) \
  -Wl,-rpath,"$libdir" $ldflags
got=$("$scratch/pc_host")
[ "$got" = "$expected" ] || { echo "pkg-config host: $got"; exit 1; }
echo "installed package: find_package and pkg-config hosts answered"
