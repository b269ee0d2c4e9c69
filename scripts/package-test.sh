#!/usr/bin/env bash
# The Debian package as a school meets it. Builds the package (Release, with
# Debian's hardening flags), checks it with lintian (every tag that remains
# must carry an override with its reason), installs it on this machine, runs
# one cycle ("tavlevagt -d") from the installed files on a copy of the
# example data folder, runs another inside the installed unit's sandbox on
# the package's own data folder, checks the installed unit with
# "systemd-analyze verify", and removes the package again. Whatever fails,
# the package is purged and the files this script made are removed.
#
# Needs root. It refuses to run on a machine where Tavlevagt is installed
# already, so a real installation is never touched.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${TAVLEVAGT_PACKAGE_BUILD:-build-package}
state=/var/lib/tavlevagt

step() { printf '\n== package test: %s\n' "$*"; }
fail() {
  echo "package test: $*" >&2
  exit 1
}

[ "$(id -u)" = 0 ] || fail "must run as root (it installs the package)"
# One package test at a time on a machine.
exec 8>/run/lock/tavlevagt-package-test.lock
flock 8

if dpkg-query -W -f='${Status}' tavlevagt 2>/dev/null | grep -q 'installed'; then
  fail "the package tavlevagt is installed on this machine; not touching it"
fi
for path in /usr/sbin/tavlevagt /etc/tavlevagt /lib/systemd/system/tavlevagt.service \
  /etc/systemd/system/tavlevagt.service; do
  [ ! -e "$path" ] || fail "$path exists: Tavlevagt is installed here; not touching it"
done
made_state=no
if [ -e "$state" ]; then
  [ -z "$(ls -A "$state")" ] || fail "$state holds a school's data; not touching it"
else
  made_state=yes
fi

mkdir -p "$build"
# Outside /tmp: the unit's private /tmp would hide it from the sandboxed run.
work=$(mktemp -d "$root/$build/package-test.XXXXXX")
installed=no
cleanup() {
  local rc=$?
  if [ "$installed" = yes ]; then
    dpkg --purge tavlevagt >/dev/null 2>&1 || {
      echo "package test: could not purge tavlevagt" >&2
      rc=1
    }
  fi
  if [ "$made_state" = yes ]; then rm -rf "$state"; fi
  rm -rf "$work"
  if [ "$rc" != 0 ]; then echo "package test: FAILED" >&2; fi
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

step "build"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# The banner names the build's date and time, so -Wdate-time stays out.
cppflags=$(dpkg-buildflags --get CPPFLAGS | sed 's/-Wdate-time//')
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAVLEVAGT_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $cppflags" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $cppflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target tavlevagt tavlevagt_package_files
rm -f "$build"/tavlevagt_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/tavlevagt_*.deb)
[ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single package"
deb=${debs[0]}
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
dpkg-deb --contents "$deb"

step "lintian"
# Overridden tags do not fail; each override carries its reason in
# packaging/debian/lintian-overrides, and one that no longer matches would
# itself be reported.
lintian --pedantic --display-info --fail-on error,warning,info,pedantic "$deb" 2> >(grep -v 'root privileges' >&2)
echo "lintian: no tag but the overrides of packaging/debian/lintian-overrides"

step "install"
installed=yes
# A machine that leaves documentation out (path-exclude in dpkg.cfg.d)
# still gets the example and the manual page this test runs and reads.
dpkg -i --path-include="/usr/share/doc/tavlevagt/*" --path-include="/usr/share/man/man8/tavlevagt.8.gz" "$deb"
# A first installation leaves the service disabled until the school has set it up.
[ ! -e /etc/systemd/system/multi-user.target.wants/tavlevagt.service ] ||
  fail "the installation enabled the service"
for path in /usr/sbin/tavlevagt /lib/systemd/system/tavlevagt.service \
  /usr/share/man/man8/tavlevagt.8.gz /etc/tavlevagt/Software.MORENA.Tavlevagt.key \
  /usr/share/doc/tavlevagt/examples/datafolder/Tavlevagt.ini; do
  [ -e "$path" ] || fail "$path was not installed"
done
if command -v man >/dev/null; then
  man --warnings -l /usr/share/man/man8/tavlevagt.8.gz >/dev/null 2>"$work/man.txt" || true
fi
[ ! -s "$work/man.txt" ] || fail "the manual page has warnings: $(cat "$work/man.txt")"

# The cycle's marks of a job handled whole: the job done, its report beside
# it, and no error in the log.
check_cycle() {
  local data=$1
  [ -f "$data/brovalt-1001.slut" ] || fail "$data: the example job was not handled"
  grep -aq ' Starter behandling af brovalt-1001.behandler' "$data/Tavlevagt.log" ||
    fail "$data: the log does not tell of the job"
  if grep -a '\*\* Fejl' "$data/Tavlevagt.log"; then fail "$data: errors in the log"; fi
  head -c 3 "$data/brovalt-1001.rapport.csv" | cmp -s - <(printf '\357\273\277') ||
    fail "$data: no change report with a byte-order mark"
  [ "$(wc -l <"$data/brovalt-1001.rapport.csv")" -gt 1 ] || fail "$data: the change report is empty"
}

step "one cycle from the installed files on a copy of the example"
cp -a /usr/share/doc/tavlevagt/examples/datafolder "$work/data"
mkdir -p "$work/etc"
/usr/sbin/tavlevagt --config-root "$work/etc" --unit-folder "$work/etc" -i "$work/data"
/usr/sbin/tavlevagt --config-root "$work/etc" -d 2>"$work/console.txt"
check_cycle "$work/data"

step "one cycle inside the installed unit's sandbox, on the package's data folder"
c++ -std=c++20 -O2 -o "$work/restrict-families" tests/integration/packaging/restrict_families.cpp
cp -a /usr/share/doc/tavlevagt/examples/datafolder/. "$state/"
tests/integration/packaging/unit-sandbox.sh /lib/systemd/system/tavlevagt.service \
  "$work/restrict-families" -- /usr/sbin/tavlevagt -d 2>"$work/sandboxed.txt"
check_cycle "$state"

step "systemd-analyze verify"
systemd-analyze verify /lib/systemd/system/tavlevagt.service

step "remove"
dpkg --purge tavlevagt
installed=no
for path in /usr/sbin/tavlevagt /lib/systemd/system/tavlevagt.service /etc/tavlevagt \
  /usr/share/doc/tavlevagt; do
  [ ! -e "$path" ] || fail "$path is left after the purge"
done
step "passed"
