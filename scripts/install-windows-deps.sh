#!/usr/bin/env bash
# Installs the Windows cross build and its test host on a Debian 12 machine:
# the mingw-w64 x86_64 compilers (the -posix variants are used, for
# std::thread), their binutils (windres, windmc) and Wine to run the Windows
# test programs. GoogleTest's sources come from libgtest-dev
# (scripts/install-deps.sh); openssl and python3 serve the HTTPS test server.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64 \
  libgtest-dev libgmock-dev cmake ccache openssl python3 zip unzip >/dev/null
