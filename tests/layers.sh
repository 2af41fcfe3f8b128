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

# Within game/ the files include one way, in the order game/CMakeLists.txt states: a file includes
# only the game/ headers named before its own.
order=$(sed -n 's/^#   order: *//p' "$root/game/CMakeLists.txt")
[ -n "$order" ] || { echo "no order of game/ files found in game/CMakeLists.txt"; exit 1; }
for file in "$root"/game/*.h "$root"/game/*.cpp; do
  name=$(basename "${file%.*}")
  earlier=" "
  for each in $order; do
    [ "$each" = "$name" ] && break
    earlier="$earlier$each "
  done
  case " $order " in
    *" $name "*) ;;
    *) echo "game/$(basename "$file") is not in the order of game/ files"; status=1; continue ;;
  esac
  while read -r used; do
    [ "$used" = "$name" ] && continue
    case "$earlier" in
      *" $used "*) ;;
      *) echo "game/$(basename "$file") includes game/$used.h, which comes after it"; status=1 ;;
    esac
  done < <(sed -n 's|^#include "game/\([a-z_]*\)\.h".*|\1|p' "$file")
done
exit $status
