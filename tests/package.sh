#!/usr/bin/env bash
# The Debian package, made by CPack from a build: it holds the launchers, the program folder, the
# desktop's files and the icons, and depends on the libraries the programs link. Exit 77 (skipped)
# where dpkg's tools are missing.
set -euo pipefail
build=$1
command -v dpkg-deb >/dev/null && command -v dpkg-shlibdeps >/dev/null || exit 77
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/log" 2>&1; then
  cat "$out/log"
  exit 1
fi
deb=$(ls "$out"/*.deb)
listing=$(dpkg-deb --contents "$deb")
contents=$(awk '{print $6}' <<<"$listing")
status=0
expect=(./usr/bin/apexgrid ./usr/bin/apexpick ./usr/bin/apexcircuit ./usr/lib/apexgrid/Apexgrid
        ./usr/lib/apexgrid/Apexpick ./usr/lib/apexgrid/Data/GameData.dat
        ./usr/lib/apexgrid/Circuits/1-First-Race.cct ./usr/share/applications/apexgrid.desktop
        ./usr/share/metainfo/io.github.apexgrid.apexgrid.metainfo.xml)
for size in 16 32 48 64 128 256; do expect+=("./usr/share/icons/hicolor/${size}x${size}/apps/apexgrid.png"); done
# The online race server and its client, in a build that has them.
if [ -e "$build/apexgrid-server" ]; then
  expect+=(./usr/bin/apexgrid-server ./usr/bin/apexgrid-online ./usr/lib/systemd/system/apexgrid-server.service)
fi
for file in "${expect[@]}"; do
  grep -qx -- "$file" <<<"$contents" || { echo "missing from the package: $file"; status=1; }
done
# The launchers lead into the program folder.
grep -q ' ./usr/bin/apexgrid -> ../lib/apexgrid/Apexgrid$' <<<"$listing" ||
  { echo "usr/bin/apexgrid does not lead to the game"; status=1; }
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libsdl2 libpng16 libfreetype6; do
  [[ $depends == *"$library"* ]] || { echo "no dependency on $library in: $depends"; status=1; }
done
exit $status
