#!/usr/bin/env bash
# zefa-eval's command line: a bad option or an option without its value
# prints the usage on standard error and exits 2; --lib chooses the library;
# run from its build folder, it answers with the library of its build.
#   options_test.sh ZEFA_EVAL
set -euo pipefail
eval_bin=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
request='{"op":"merge","mappings":[{"a":{"x":1}},{"a":{"y":2}}]}'
expected='{"ok":true,"value":{"a":{"x":1,"y":2}}}'

got=$(printf '%s\n' "$request" | env -u LD_LIBRARY_PATH "$eval_bin")
[ "$got" = "$expected" ] || { echo "standard input: $got"; exit 1; }

# args... | expected status | expected text on standard error
while IFS='|' read -r args status text; do
  read -ra argv <<< "$args"
  rc=0
  "$eval_bin" "${argv[@]}" < /dev/null > "$scratch/out" 2> "$scratch/err" || rc=$?
  [ "$rc" -eq "$status" ] || { echo "$args: exit $rc, expected $status"; cat "$scratch/err"; exit 1; }
  grep -q -- "$text" "$scratch/err" || { echo "$args: stderr lacks '$text'"; cat "$scratch/err"; exit 1; }
  [ ! -s "$scratch/out" ] || { echo "$args: wrote to standard output"; exit 1; }
done <<'CASES'
-x|2|^usage: zefa-eval
--lib=foo|2|unknown option --lib=foo
--lib|2|missing the value of --lib
--lib /nonexistent/libzefa_engine.so.0|2|cannot load /nonexistent/
/nonexistent/requests.jsonl|2|cannot read /nonexistent/
CASES
