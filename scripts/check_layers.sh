#!/usr/bin/env bash
# Fails when a source file under engine/src includes a folder of a layer above
# its own, or of a peer layer. Layers, lowest first: the core files at the top
# of engine/src, then data, then expr and adapter (peers), rules, assembly,
# machine, driver, runtime, api, and finally lib.cpp.
set -euo pipefail
cd "$(dirname "$0")/../engine/src"
rank() {
  case "$1" in
    data) echo 1 ;; expr|adapter) echo 2 ;; rules) echo 3 ;; assembly) echo 4 ;;
    machine) echo 5 ;; driver) echo 6 ;; runtime) echo 7 ;; api) echo 8 ;;
    lib) echo 9 ;; core) echo 0 ;; *) echo 99 ;;
  esac
}
status=0
while IFS= read -r file; do
  dir=${file%%/*}
  if [ "$dir" = "$file" ]; then
    case "$file" in lib.cpp|lib.hpp) dir=lib ;; *) dir=core ;; esac
  fi
  own=$(rank "$dir")
  if [ "$own" = 99 ]; then echo "$file: folder $dir has no layer"; status=1; continue; fi
  while IFS= read -r inc; do
    target=${inc%%/*}
    if [ "$target" = "$inc" ]; then
      [ "$inc" = lib.hpp ] || continue   # a core header
      target=lib
    fi
    [ "$target" = "$dir" ] && continue
    other=$(rank "$target")
    if [ "$other" -ge "$own" ]; then
      echo "$file includes $inc: $target is not below $dir"
      status=1
    fi
  done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
done < <(find . -name '*.cpp' -o -name '*.hpp' | sed 's|^\./||' | sort)
[ "$status" -eq 0 ] && echo "layers: every include points down"
exit "$status"
