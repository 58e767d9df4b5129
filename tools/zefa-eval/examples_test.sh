#!/usr/bin/env bash
# Every request of the sample exchanges gets one reply line, comment lines
# none; none of the replies is an internal fault; every reply is, to the
# byte, the one kept beside its request in X.replies; -h prints the usage.
#   examples_test.sh ZEFA_EVAL EXAMPLES_DIR
set -euo pipefail
export LC_ALL=C
eval_bin=$1 dir=$2
"$eval_bin" -h | grep -q '^usage: zefa-eval'

# Where two texts first differ, with a little of each around that place.
show_difference() {
  local want=$1 got=$2 at
  at=$(cmp <(printf '%s' "$want") <(printf '%s' "$got") 2>/dev/null | sed -n 's/.* byte \([0-9]*\).*/\1/p' || true)
  at=${at:-$(( ${#want} < ${#got} ? ${#want} + 1 : ${#got} + 1 ))}
  local from=$(( at > 60 ? at - 61 : 0 )) cut=
  [ "$from" -gt 0 ] && cut=...
  echo "  first difference at byte $at"
  echo "  expected: $cut${want:from:160}"
  echo "  got:      $cut${got:from:160}"
}

status=0
for f in "$dir"/*.jsonl; do
  requests=$(grep -cv -e '^#' -e '^[[:space:]]*$' "$f")
  replies=$("$eval_bin" "$f")
  n=$(printf '%s\n' "$replies" | wc -l)
  [ "$n" -eq "$requests" ] || { echo "$f: $requests requests, $n replies"; exit 1; }
  if printf '%s\n' "$replies" | grep -q -e 'engine panic' -e '^[^{]'; then
    echo "$f: a reply is a fault or not an object"; exit 1
  fi

  kept=${f%.jsonl}.replies
  [ -f "$kept" ] || { echo "$f: no reply file $kept"; exit 1; }
  mapfile -t want < "$kept"
  mapfile -t got <<< "$replies"
  [ "${#want[@]}" -eq "$n" ] || { echo "$kept: ${#want[@]} replies kept for $n requests"; exit 1; }
  # Request lines with their line numbers, in the order zefa-eval answers them.
  mapfile -t asked < <(grep -nv -e '^#' -e '^[[:space:]]*$' "$f")
  for i in "${!got[@]}"; do
    [ "${got[i]}" == "${want[i]}" ] && continue
    line=${asked[i]%%:*} request=${asked[i]#*:}
    echo "$f:$line: the reply to request $((i + 1)) is not the one in $kept"
    echo "  request: ${request:0:200}"
    show_difference "${want[i]}" "${got[i]}"
    status=1
    break
  done
done
exit $status
