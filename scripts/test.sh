#!/usr/bin/env bash
# Builds the test build (sanitizers on) and runs every test tier: unit,
# scenario, and the integration tests that start their own Samba AD domain
# controller and HTTPS job server; then, when no arguments limit the run,
# the package test (scripts/package-test.sh) and the Windows program,
# cross-built with mingw-w64, with its unit, scenario, adapter, service and
# zip tests under Wine (scripts/build-windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/check-layers.sh
build=${TAVLEVAGT_TEST_BUILD:-build-test}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DTAVLEVAGT_SANITIZE=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
(cd "$build" && ctest --output-on-failure -j1 "$@")
if [ $# -eq 0 ]; then
  ./scripts/package-test.sh
  ./scripts/build-windows.sh -L windows
fi
