#!/usr/bin/env bash
# Installs the Debian packages a build needs, when they are missing.
#   setup.sh        what scripts/test.sh needs (every build and test tool)
#   setup.sh main   what scripts/main.sh needs: the compiler, CMake, Ninja,
#                   and the ICU development files
# Safe to run again: it installs nothing that is already there. Where it
# cannot install (no apt-get or dpkg, or neither root nor sudo) it names the
# missing packages and stops. Without dpkg, a package counts as present when
# the tool or header it brings is found.
set -euo pipefail
profile=${1:-test}

has_cmd() { command -v "$1" >/dev/null 2>&1; }
has_header() { [ -f "/usr/include/$1" ] || [ -f "/usr/local/include/$1" ]; }
has_clang_runtime() {
  has_cmd clang && compgen -G "$(clang -print-runtime-dir)/libclang_rt.fuzzer*.a" >/dev/null
}

# The clang runtime (sanitizers, libFuzzer) is packaged under the version of
# the release's clang.
# shellcheck disable=SC1091
codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}") || codename=""
case "$codename" in
  bookworm) clang_rt=libclang-rt-14-dev ;;
  trixie) clang_rt=libclang-rt-19-dev ;;
  *) clang_rt="" ;;
esac

# package, and what shows it is present
reqs=(
  "cmake|has_cmd cmake"
  "ninja-build|has_cmd ninja"
  "g++|has_cmd g++"
  "libicu-dev|has_header unicode/ucasemap.h"
)
case "$profile" in
  main) ;;
  test)
    if [ -z "$clang_rt" ] && ! has_clang_runtime; then
      echo "setup: the package of clang's sanitizer and libFuzzer runtime is known for Debian 12" \
           "(bookworm) and 13 (trixie), not for '${codename:-unknown}': install clang and its runtime" \
           "(libclang-rt-N-dev for clang N) by hand" >&2
      exit 1
    fi
    reqs+=(
      "clang|has_cmd clang"
      "libgtest-dev|has_header gtest/gtest.h"
      "libgmock-dev|has_header gmock/gmock.h"
      "libbenchmark-dev|has_header benchmark/benchmark.h"
      "rapidjson-dev|has_header rapidjson/document.h"
      # libcrypto: the benchmarks' reference for SHA-256 only
      "libssl-dev|has_header openssl/evp.h"
      "binutils|has_cmd readelf"
      "pkgconf|has_cmd pkg-config"
    )
    [ -z "$clang_rt" ] || reqs+=("$clang_rt|has_clang_runtime")
    ;;
  *) echo "usage: setup.sh [main|test]" >&2; exit 2 ;;
esac

missing=()
for r in "${reqs[@]}"; do
  pkg=${r%%|*} probe=${r#*|}
  if has_cmd dpkg-query; then
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  else
    $probe || missing+=("$pkg")
  fi
done
[ ${#missing[@]} -gt 0 ] || exit 0

cannot() {
  echo "setup: missing packages and $1; install by hand: ${missing[*]}" >&2
  exit 1
}
{ has_cmd apt-get && has_cmd dpkg; } || cannot "installing them needs apt-get and dpkg"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  has_cmd sudo || cannot "installing them needs root or sudo"
  sudo="sudo"
fi
echo "setup: installing ${missing[*]}"
$sudo apt-get update -qq
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
