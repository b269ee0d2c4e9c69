#!/usr/bin/env bash
# Installs everything the build and every test tier needs on a fresh Debian machine.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  build-essential cmake pkg-config git ca-certificates \
  libgtest-dev libgmock-dev libbenchmark-dev clang clang-format libclang-rt-14-dev \
  libldap-dev ldap-utils libsasl2-modules-gssapi-mit libcurl4-openssl-dev openssl python3 \
  samba-ad-dc samba-ad-provision samba-dsdb-modules winbind smbclient krb5-user libsmbclient-dev samba-dev \
  p7zip-full systemd util-linux iproute2 procps \
  dpkg-dev lintian man-db >/dev/null
# The Windows cross build and Wine, for the Windows adapters' tests.
"$(dirname "$0")/install-windows-deps.sh"
