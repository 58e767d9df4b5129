#!/usr/bin/env bash
# Installs the built library into a scratch prefix, then builds the host of
# this folder against it twice, through find_package and through
# pkg-config, and runs one request through each. The installed zefa-eval
# answers with the library of its own prefix, also once the prefix is moved.
#   install_test.sh BUILD_DIR C_COMPILER "C_FLAGS" "LINK_FLAGS" GENERATOR
set -euo pipefail
build=$1 cc=$2 cflags=$3 ldflags=$4 generator=$5
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
expected='{"ok":true,"value":{"lamp-7":{"category":"dj","auto":false}}}'
prefix=$scratch/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in include/zefa_engine.h lib/cmake/zefa_engine/zefa_engineConfig.cmake \
         bin/zefa-eval share/man/man1/zefa-eval.1; do
  [ -f "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
head -n 1 "$prefix/share/man/man1/zefa-eval.1" | grep -q '^\.TH ZEFA-EVAL 1' \
  || { echo "zefa-eval.1 is not a man page"; exit 1; }
# The header's version names the library file, its soname and the package's.
macro() { sed -n "s/^#define ZEFA_ENGINE_$1 \"\{0,1\}\([0-9.]*\)\"\{0,1\}\$/\1/p" "$prefix/include/zefa_engine.h"; }
version=$(macro VERSION) soversion=$(macro SOVERSION)
[ "$version" = "$(macro VERSION_MAJOR).$(macro VERSION_MINOR).$(macro VERSION_PATCH)" ] \
  || { echo "header version $version does not match its parts"; exit 1; }
lib=$(find "$prefix" -name "libzefa_engine.so.$version")
[ -n "$lib" ] || { echo "no libzefa_engine.so.$version installed"; exit 1; }
libdir=$(dirname "$lib")
for link in libzefa_engine.so "libzefa_engine.so.$soversion"; do
  [ -L "$libdir/$link" ] || { echo "missing link: $link"; exit 1; }
done
soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = "libzefa_engine.so.$soversion" ] || { echo "soname: $soname"; exit 1; }
# libcrypto reads its configuration file and environment when loaded and
# when it hashes: the library keeps its own SHA-256 and must not need it.
needed=$(readelf -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
[ -n "$needed" ] || { echo "readelf shows no NEEDED entries"; exit 1; }
if grep -i libcrypto <<< "$needed"; then echo "the library needs libcrypto"; exit 1; fi
pc=$(dirname "$(find "$prefix" -name zefa_engine.pc | head -n 1)")
pc_version=$(PKG_CONFIG_PATH=$pc pkg-config --modversion zefa_engine)
[ "$pc_version" = "$version" ] || { echo "pkg-config version: $pc_version"; exit 1; }

cmake -S "$here" -B "$scratch/host" -G "$generator" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$cflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$scratch/host" >/dev/null
got=$("$scratch/host/zefa_host")
[ "$got" = "$expected" ] || { echo "find_package host: $got"; exit 1; }

# shellcheck disable=SC2046,SC2086
"$cc" $cflags -o "$scratch/pc_host" "$here/host.c" $(PKG_CONFIG_PATH=$pc pkg-config --cflags --libs zefa_engine) \
  -Wl,-rpath,"$libdir" $ldflags
got=$("$scratch/pc_host")
[ "$got" = "$expected" ] || { echo "pkg-config host: $got"; exit 1; }

request='{"op":"merge","mappings":[{"lamp-7":{"category":"dj"}},{"lamp-7":{"auto":false}}]}'
got=$(env -u LD_LIBRARY_PATH "$prefix/bin/zefa-eval" <<< "$request")
[ "$got" = "$expected" ] || { echo "installed zefa-eval: $got"; exit 1; }
cp -a "$prefix" "$scratch/moved"
got=$(env -u LD_LIBRARY_PATH "$scratch/moved/bin/zefa-eval" <<< "$request")
[ "$got" = "$expected" ] || { echo "moved zefa-eval: $got"; exit 1; }
# Without the library in its prefix it must not fall back on the build's.
rm "$scratch/moved/${libdir#"$prefix"/}"/libzefa_engine.so*
system_libs=$({ ldconfig -p || /sbin/ldconfig -p; } 2>/dev/null | grep -c "libzefa_engine.so.$soversion" || true)
if [ "$system_libs" = 0 ]; then
  if got=$(env -u LD_LIBRARY_PATH "$scratch/moved/bin/zefa-eval" <<< "$request" 2>&1); then
    echo "zefa-eval without a library in its prefix answered: $got"; exit 1
  fi
fi
echo "installed package: find_package and pkg-config hosts and zefa-eval answered"
