#!/usr/bin/env bash
# The shared library exports exactly the four entry points and has a soname.
set -euo pipefail
so="$1"
got=$(nm -D --defined-only "$so" | awk '$2 ~ /^[A-Z]$/ {print $3}' | sed 's/@.*//' | grep -v '^ZEFA_ENGINE_1$' | sort)
want=$(printf '%s\n' zefa_engine_alloc zefa_engine_dealloc zefa_engine_eval zefa_engine_free)
if [ "$got" != "$want" ]; then
  echo "unexpected export list:"; echo "$got"; exit 1
fi
# grep reads to the end: with -q it could quit early and, under pipefail,
# the writer's broken pipe would fail the check.
objdump -p "$so" | grep 'SONAME *libzefa_engine.so.0' >/dev/null || { echo "missing soname"; exit 1; }
echo "exports ok"
