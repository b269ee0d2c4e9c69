#!/usr/bin/env bash
# Packs the Windows zip from the build folder given and checks what it holds:
# the program, the message file and README-windows.txt at its top, the whole
# example data folder below it, and the program the build made.
#   package-check.sh <build folder>
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
zip=$(TAVLEVAGT_PACKAGE_NO_BUILD=1 TAVLEVAGT_WINDOWS_BUILD="$build" "$root/scripts/package-windows.sh" "$out")
names=$(unzip -Z1 "$zip" | sed 's|^[^/]*/||' | grep -v -e '/$' -e '^$' | sort)
expected=$( (printf '%s\n' README-windows.txt Tavlevagt.dll Tavlevagt.exe
  cd "$root/examples" && find datafolder -type f) | sort)
if [ "$names" != "$expected" ]; then
  echo "package holds:"; echo "$names"; echo "expected:"; echo "$expected"; exit 1
fi
mkdir "$out/x"
(cd "$out/x" && unzip -q "$zip")
cmp "$out"/x/*/Tavlevagt.exe "$build/src/Tavlevagt.exe"
diff -r "$out"/x/*/datafolder "$root/examples/datafolder"
grep -q $'\r$' "$out"/x/*/README-windows.txt
echo "package ok: $(basename "$zip")"
