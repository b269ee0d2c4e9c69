#!/usr/bin/env bash
# Builds the test build (sanitizers on) and runs every test tier: unit,
# scenario, and the integration tests that start their own Samba AD domain
# controller and HTTPS job server; then, when no arguments limit the run,
# the package test (scripts/package-test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TAVLEVAGT_TEST_BUILD:-build-test}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DTAVLEVAGT_SANITIZE=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
(cd "$build" && ctest --output-on-failure -j1 "$@")
if [ $# -eq 0 ]; then ./scripts/package-test.sh; fi
