#!/usr/bin/env bash
# Runs clang-tidy with the project's .clang-tidy over the product code (every .cpp outside tests/,
# bench/ and fuzz/), with the compile commands of the build folder given; fails on any finding.
# Exits 77 (skipped) where clang-tidy isn't installed.
set -euo pipefail
root=$1
build=$2
tidy=$(command -v clang-tidy-14 || command -v clang-tidy || true)
[ -n "$tidy" ] || exit 77
cd "$root"
files=$(find brain data game gfx platform race rules selector server shell tools -name '*.cpp' 2>/dev/null | sort || true)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
printf '%s\n' $files | xargs -P "$(nproc)" -n 4 "$tidy" -p "$build" --quiet >"$log" 2>&1 || status=1
grep -E 'warning:|error:' "$log" | sort -u || true
exit $status
