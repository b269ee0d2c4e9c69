#!/usr/bin/env bash
# Cross-builds the Windows adapters and their test programs with mingw-w64
# into build-windows/ (scripts/install-windows-deps.sh installs the
# toolchain and Wine). Arguments go to ctest, which then runs the tests under
# Wine: ./scripts/build-windows.sh -L windows
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TAVLEVAGT_WINDOWS_BUILD:-build-windows}
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=${TAVLEVAGT_WINDOWS_BUILD_TYPE:-Release} "${launcher[@]}" >/dev/null
cmake --build "$build" -j"${TAVLEVAGT_JOBS:-2}"
if [ $# -gt 0 ]; then
  cd "$build"
  ctest --output-on-failure -j1 "$@"
fi
