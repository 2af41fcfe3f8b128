#!/usr/bin/env bash
# The includes between folders follow the layers at the top of the root CMakeLists.txt: a folder
# includes only from the folders below it there, so the graph has no cycle.
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
declare -A below
while read -r folder deps; do
  below[$folder]=$deps
done < <(sed -n 's/^#   \([a-z]*\) .*-> *\(.*\)$/\1 \2/p' "$root/CMakeLists.txt")
[ ${#below[@]} -gt 0 ] || { echo "no layers found in CMakeLists.txt"; exit 1; }

# Every folder a folder may reach, itself excluded; a folder that reaches itself is a cycle.
reach() {
  local seen=" " todo=${below[$1]} next
  while [ -n "${todo// /}" ]; do
    read -r next todo <<<"$todo"
    case "$seen" in *" $next "*) continue ;; esac
    seen="$seen$next "
    todo="$todo ${below[$next]:-}"
  done
  echo "$seen"
}

status=0
for folder in "${!below[@]}"; do
  allowed=$(reach "$folder")
  case "$allowed" in *" $folder "*) echo "$folder: its layers lead back to it"; status=1 ;; esac
  while IFS=: read -r file line; do
    used=${line#*\"}
    used=${used%%/*}
    [ "$used" = "$folder" ] && continue
    [ -n "${below[$used]+known}" ] || continue
    case "$allowed" in *" $used "*) ;; *) echo "$file includes $used/, which $folder/ may not"; status=1 ;; esac
  done < <(cd "$root" && grep -rHo '#include "[a-z_]*/' "$folder" || true)
done
exit $status
