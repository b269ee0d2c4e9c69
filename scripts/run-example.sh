#!/usr/bin/env bash
# Builds the release binary and runs one cycle ("tavlevagt -d") on a copy of
# examples/datafolder in a temp folder. The data folder is found through the
# install keys, so the keys (and the unit file) go to a private configuration
# root next to it; nothing is installed on this machine.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TAVLEVAGT_RELEASE_BUILD:-build-release}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAVLEVAGT_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target tavlevagt
binary="$build/src/tavlevagt"

work=$(mktemp -d "${TMPDIR:-/tmp}/tavlevagt-example.XXXXXX")
cp -a examples/datafolder "$work/data"
mkdir -p "$work/data/script"
# The archiver of the housekeeping, where the program looks for it.
if [ -x /usr/bin/7za ] && [ ! -e "$work/data/script/7za.exe" ]; then
  ln -s /usr/bin/7za "$work/data/script/7za.exe"
fi

mkdir -p "$work/etc"
"$binary" --config-root "$work/etc" --unit-folder "$work/etc" -i "$work/data"
"$binary" --config-root "$work/etc" -d

echo
echo "Data folder: $work/data"
echo "Log:         $work/data/Tavlevagt.log"
echo "Report:      $work/data/brovalt-1001.rapport.csv"
