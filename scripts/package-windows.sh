#!/usr/bin/env bash
# Builds the Windows executable (scripts/build-windows.sh) and packs the zip a
# school's admin installs from: Tavlevagt.exe, Tavlevagt.dll, the example
# data folder and README-windows.txt, below a folder named after the version.
#   ./scripts/package-windows.sh [output folder]   (default: the build folder)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${TAVLEVAGT_WINDOWS_BUILD:-build-windows}
if [ -z "${TAVLEVAGT_PACKAGE_NO_BUILD:-}" ]; then
  ./scripts/build-windows.sh >/dev/null
fi
out=$(cd "${1:-$build}" && pwd)
version=$(sed -n 's/^project(tavlevagt VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=Tavlevagt-$version-windows-x64
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/$name"
cp "$build/src/Tavlevagt.exe" "$build/src/platform/windows/Tavlevagt.dll" "$stage/$name/"
cp -r examples/datafolder "$stage/$name/datafolder"
# Windows Notepad and the admin's tools read CRLF lines.
sed 's/$/\r/' packaging/windows/README-windows.txt >"$stage/$name/README-windows.txt"
rm -f "$out/$name.zip"
(cd "$stage" && zip -qr -X "$out/$name.zip" "$name")
echo "$out/$name.zip"
