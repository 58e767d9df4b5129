#!/usr/bin/env bash
# Builds the example host program (examples/host) against the installed
# package, linked through find_package and through pkg-config and loading
# the library with dlopen, and runs each on the smart plug of
# examples/driver.jsonl: each must print the expected session, byte for byte.
# Each must also refuse, with its message and exit status 1, a setup file
# whose "create" carries the pack inline as "rules" (in place of "rules_id",
# and beside it), and take one whose "rules" is null.
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

# The setup files with an inline pack: the plug's "install_rules", then its
# "create" carrying the same pack as "rules".
install=$(grep -m 1 '"op":"install_rules"' "$src/examples/driver.jsonl")
create=$(grep -m 1 '"op":"create"' "$src/examples/driver.jsonl")
[[ $create == *'"rules_id":"plug"'* ]] || { echo "driver.jsonl: no \"create\" of the pack \"plug\""; exit 1; }
pack=${install#*\"rules\":}
pack=${pack%\}}
before=${create%%\"rules_id\":\"plug\"*} after=${create#*\"rules_id\":\"plug\"}
printf '%s\n%s\n' "$install" "$before\"rules\":$pack$after" > "$scratch/inline.jsonl"
printf '%s\n%s\n' "$install" "$before\"rules_id\":\"plug\",\"rules\":$pack$after" > "$scratch/beside.jsonl"
printf '%s\n%s\n' "$install" "$before\"rules_id\":\"plug\",\"rules\":null$after" > "$scratch/null.jsonl"

check() {  # NAME, then the command
  local name=$1; shift
  local setup status
  for setup in "$src/examples/driver.jsonl" "$scratch/null.jsonl"; do
    if ! "$@" "$setup" "$host/session.jsonl" > "$scratch/$name.out"; then
      echo "$name: exited non-zero on $setup"; exit 1
    fi
    diff -u "$host/session.expected" "$scratch/$name.out" || { echo "$name: output differs on $setup"; exit 1; }
  done
  for setup in inline beside; do
    status=0
    "$@" "$scratch/$setup.jsonl" "$host/session.jsonl" > "$scratch/$name.$setup.out" 2> "$scratch/$name.$setup.err" \
      || status=$?
    if [ "$status" -ne 1 ]; then
      echo "$name: a setup file with the pack inline ($setup): exit status $status, not 1"; exit 1
    fi
    grep -qF "zefa-host: the first \"create\" or \"open\" request in $scratch/$setup.jsonl must name its pack by \"rules_id\", not carry it inline as \"rules\"" \
      "$scratch/$name.$setup.err" || { echo "$name: no refusal of the inline pack ($setup):"; cat "$scratch/$name.$setup.err"; exit 1; }
    if grep -q '^==' "$scratch/$name.$setup.out"; then
      echo "$name: a driver was built from a setup file with the pack inline ($setup)"; exit 1
    fi
  done
}
check find_package "$scratch/host/zefa-host"
check pkg-config "$scratch/pc-host"
check dlopen env LD_LIBRARY_PATH="$libdir" "$scratch/host/zefa-host-dlopen"
echo "example host: linked, pkg-config and dlopen builds printed the expected session and refused an inline pack"
