#!/usr/bin/env bash
# Every request of the sample exchanges gets one reply line, comment lines
# none; none of the replies is an internal fault; -h prints the usage.
#   examples_test.sh ZEFA_EVAL EXAMPLES_DIR
set -euo pipefail
eval_bin=$1 dir=$2
"$eval_bin" -h | grep -q '^usage: zefa-eval'
for f in "$dir"/*.jsonl; do
  requests=$(grep -cv -e '^#' -e '^[[:space:]]*$' "$f")
  replies=$("$eval_bin" "$f")
  n=$(printf '%s\n' "$replies" | wc -l)
  [ "$n" -eq "$requests" ] || { echo "$f: $requests requests, $n replies"; exit 1; }
  if printf '%s\n' "$replies" | grep -q -e 'engine panic' -e '^[^{]'; then
    echo "$f: a reply is a fault or not an object"; exit 1
  fi
done
