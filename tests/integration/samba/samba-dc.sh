#!/usr/bin/env bash
# A throw-away Samba AD domain controller (realm SKOLE.TEST) for the
# integration tests, listening on 127.0.0.1 only.
#
#   samba-dc.sh setup [plain|mail]  provision once (both variants), start a clean domain
#   samba-dc.sh start               start the provisioned domain as it is
#   samba-dc.sh use plain|mail      make the running domain that variant (reset on change)
#   samba-dc.sh reset [plain|mail]  stop, restore the pristine copy, start (~3.5 s)
#   samba-dc.sh stop                stop the domain controller and its helpers
#   samba-dc.sh status              print the variant and PID when running
#   samba-dc.sh provision           provision the pristine copies anew
#   samba-dc.sh run plain|mail -- program args...
#                                   make the domain that variant, then run the program
#   samba-dc.sh isolated plain|mail -- program args...
#                                   run a domain of its own and the program in a private
#                                   network namespace (for when the ports are taken or
#                                   another run shares the machine); base folder
#                                   TAVLEVAGT_SAMBA_BASE, default /tmp/tv-samba-iso
#
# Variants: "plain" is Samba's default schema; "mail" adds the mail server's
# user attributes (msExchHideFromAddressLists, homeMDB, extensionAttribute1-15).
#
# Everything lives below TAVLEVAGT_SAMBA_BASE (default /tmp/tv-samba), kept
# short because Samba's unix sockets live below it and their paths must stay
# under 108 bytes. Tests find the domain through the env file $BASE/dc.env.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ "${1:-}" = isolated ] || [ "${1:-}" = _inside ]; then
  BASE=${TAVLEVAGT_SAMBA_BASE:-/tmp/tv-samba-iso}
else
  BASE=${TAVLEVAGT_SAMBA_BASE:-/tmp/tv-samba}
fi
DC=$BASE/dc
CONF=$DC/etc/smb.conf
PIDFILE=$BASE/samba.pid
ENVFILE=$BASE/dc.env
REALM=SKOLE.TEST
DOMAIN=SKOLE
BASEDN=DC=skole,DC=test
PASSFILE=$HERE/admin.password
PYTHON=/usr/bin/python3
READY_TIMEOUT=${TAVLEVAGT_SAMBA_READY_TIMEOUT:-90}

say() { echo "samba-dc: $*" >&2; }
die() {
  say "$*"
  exit 1
}

[ "$(id -u)" = 0 ] || die "must run as root (Samba's domain controller needs it)"
for tool in samba samba-tool ldapsearch openssl ss; do
  command -v "$tool" >/dev/null || die "missing $tool: run scripts/install-deps.sh"
done
[ -x $PYTHON ] || die "missing $PYTHON (Samba's Python bindings need the system Python)"
[ ${#BASE} -le 40 ] || die "TAVLEVAGT_SAMBA_BASE '$BASE' is too long for Samba's unix sockets"
PASSWORD=$(tr -d '\r\n' <"$PASSFILE")

# What a pristine copy holds: bump PROVISION_VERSION when provision() or
# write_conf() change; the schema helper and the share command count by
# content. Other edits of this script keep the copies, so two checkouts of
# the project on one machine do not provision in turn.
PROVISION_VERSION=1
stamp() {
  { echo "$PROVISION_VERSION"; cat "$HERE/mail_schema.py" "$HERE/share-command.sh"; } |
    sha256sum | cut -c1-16
}

running_pid() {
  local pid
  [ -f "$PIDFILE" ] || return 1
  pid=$(cat "$PIDFILE")
  [ -n "$pid" ] && [ -d "/proc/$pid" ] || return 1
  # samba rewrites its command line ("samba: root process"), so the PID is
  # recognised by its program and by the PID file samba keeps below $DC.
  [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$(command -v samba)" ] || return 1
  [ "$(cat "$DC/pid/samba.pid" 2>/dev/null)" = "$pid" ] || return 1
  echo "$pid"
}

# Every process started with our smb.conf: samba itself, and the smbd,
# samba-dcerpcd and rpcd_* helpers that outlive it for a while.
our_processes() {
  local f pid
  for f in /proc/[0-9]*/cmdline; do
    pid=${f#/proc/}
    pid=${pid%/cmdline}
    [ "$pid" = $$ ] && continue
    if { tr '\0' '\n' <"$f"; } 2>/dev/null | grep -qxF -e "--configfile=$CONF" -e "$CONF" -e "-s$CONF"; then
      echo "$pid"
    fi
  done
}

ports_taken_by_others() {
  local taken
  taken=$(ss -Hltn 2>/dev/null | awk '{print $4}' | grep -E ':(389|636|445)$' || true)
  [ -n "$taken" ] && echo "$taken"
  return 0
}

make_ca() {
  local ca=$BASE/ca
  [ -f "$ca/server.pem" ] && return 0
  mkdir -p "$ca"
  openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=Tavlevagt Test CA" \
    -keyout "$ca/ca.key" -out "$ca/ca.pem" >/dev/null 2>&1
  openssl req -newkey rsa:2048 -nodes -subj "/CN=dc1.skole.test" \
    -keyout "$ca/server.key" -out "$ca/server.csr" >/dev/null 2>&1
  printf 'subjectAltName = IP:127.0.0.1, DNS:dc1.skole.test, DNS:localhost\nextendedKeyUsage = serverAuth\n' \
    >"$ca/ext.cnf"
  openssl x509 -req -in "$ca/server.csr" -CA "$ca/ca.pem" -CAkey "$ca/ca.key" -CAcreateserial \
    -days 3650 -extfile "$ca/ext.cnf" -out "$ca/server.pem" >/dev/null 2>&1
  chmod 600 "$ca/server.key" "$ca/ca.key"
}

write_conf() {
  mkdir -p "$DC"/{etc,cache,lock,pid,ncalrpc,log,binddns,shares/home}
  : >"$DC/etc/shares.conf"
  cp "$HERE/share-command.sh" "$DC/etc/share-command.sh"
  chmod 755 "$DC/etc/share-command.sh"
  cat >"$CONF" <<EOF
[global]
	netbios name = DC1
	realm = $REALM
	workgroup = $DOMAIN
	server role = active directory domain controller
	server services = s3fs, rpc, ldap, cldap, kdc, drepl, winbindd, kcc
	interfaces = 127.0.0.1
	bind interfaces only = yes
	private dir = $DC/private
	lock directory = $DC/lock
	state directory = $DC/state
	cache directory = $DC/cache
	pid directory = $DC/pid
	ncalrpc dir = $DC/ncalrpc
	binddns dir = $DC/binddns
	log file = $DC/log/%m.log
	log level = 1
	old password allowed period = 0
	tls enabled = yes
	tls keyfile = $BASE/ca/server.key
	tls certfile = $BASE/ca/server.pem
	tls cafile = $BASE/ca/ca.pem
	add share command = $DC/etc/share-command.sh add
	change share command = $DC/etc/share-command.sh change
	delete share command = $DC/etc/share-command.sh delete
	include = $DC/etc/shares.conf

[sysvol]
	path = $DC/state/sysvol
	read only = No

[netlogon]
	path = $DC/state/sysvol/skole.test/scripts
	read only = No

[home]
	path = $DC/shares/home
	read only = No
EOF
}

provision() {
  stop_dc
  make_ca
  rm -rf "$DC" "$BASE/pristine"
  mkdir -p "$DC/etc"
  : >"$CONF"
  say "provisioning $REALM in $DC"
  if ! samba-tool domain provision -s "$CONF" --targetdir="$DC" --realm=$REALM --domain=$DOMAIN \
    --server-role=dc --dns-backend=NONE --adminpass="$PASSWORD" --host-name=dc1 \
    --option='interfaces=lo' --option='bind interfaces only=yes' >"$BASE/provision.log" 2>&1; then
    tail -20 "$BASE/provision.log" >&2
    die "provision failed (log: $BASE/provision.log)"
  fi
  write_conf
  samba-tool domain passwordsettings set -s "$CONF" --min-pwd-age=0 --max-pwd-age=0 \
    >>"$BASE/provision.log" 2>&1 || die "passwordsettings failed (log: $BASE/provision.log)"
  mkdir -p "$BASE/pristine"
  cp -a "$DC" "$BASE/pristine/plain"
  $PYTHON "$HERE/mail_schema.py" "$CONF" "$BASEDN" >>"$BASE/provision.log" 2>&1 ||
    die "adding the mail schema failed (log: $BASE/provision.log)"
  cp -a "$DC" "$BASE/pristine/mail"
  stamp >"$BASE/pristine/stamp"
}

ensure_provisioned() {
  if [ ! -f "$BASE/pristine/stamp" ] || [ "$(cat "$BASE/pristine/stamp")" != "$(stamp)" ]; then
    provision
  fi
}

write_env() {
  local variant=$1
  # ldapsearch -y and others want a password file only root can read.
  (umask 077 && printf '%s' "$PASSWORD" >"$BASE/admin.password")
  cat >"$ENVFILE.tmp" <<EOF
SAMBA_VARIANT=$variant
SAMBA_HOST=127.0.0.1
SAMBA_URI=ldaps://127.0.0.1
SAMBA_PLAIN_URI=ldap://127.0.0.1
SAMBA_REALM=$REALM
SAMBA_DOMAIN=$DOMAIN
SAMBA_BASE_DN=$BASEDN
SAMBA_ADMIN_USER=Administrator@$REALM
SAMBA_ADMIN_DN=CN=Administrator,CN=Users,$BASEDN
SAMBA_ADMIN_PASSWORD=$PASSWORD
SAMBA_ADMIN_PASSWORD_FILE=$BASE/admin.password
SAMBA_CA_FILE=$BASE/ca/ca.pem
SAMBA_CONF=$CONF
SAMBA_SHARE_ROOT=$DC/shares
SAMBA_HARNESS=$HERE/samba-dc.sh
EOF
  mv "$ENVFILE.tmp" "$ENVFILE"
}

ready() {
  LDAPTLS_CACERT=$BASE/ca/ca.pem LDAPTLS_REQCERT=demand \
    ldapsearch -x -H ldaps://127.0.0.1 -D "Administrator@$REALM" -w "$PASSWORD" -s base \
    -b "$BASEDN" dn >/dev/null 2>&1
}

start_dc() {
  local pid taken waited=0
  if pid=$(running_pid); then
    say "already running (pid $pid)"
    return 0
  fi
  [ -f "$CONF" ] || die "no domain provisioned in $DC: run '$0 setup'"
  taken=$(ports_taken_by_others)
  [ -z "$taken" ] || die "LDAP/SMB ports already in use by another server ($(echo $taken)); stop it or run the tests in a private network namespace (unshare --net)"
  mkdir -p /run/samba
  # setsid and closed descriptors: the DC must outlive the test that starts
  # it and must not hold the test runner's output pipe open.
  setsid samba -F -M single -s "$CONF" </dev/null >"$BASE/samba.out" 2>&1 9>&- &
  echo $! >"$PIDFILE"
  pid=$!
  until ready; do
    if [ ! -d "/proc/$pid" ]; then
      tail -20 "$BASE/samba.out" >&2
      die "samba exited during start (output: $BASE/samba.out)"
    fi
    sleep 0.25
    waited=$((waited + 1))
    if [ $waited -ge $((READY_TIMEOUT * 4)) ]; then
      stop_dc
      die "domain controller not ready after ${READY_TIMEOUT}s"
    fi
  done
  say "ready (pid $pid, variant $(cat "$BASE/variant" 2>/dev/null || echo '?'))"
}

stop_dc() {
  local pid p
  if pid=$(running_pid); then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 1 40); do
      [ -d "/proc/$pid" ] || break
      sleep 0.25
    done
    [ -d "/proc/$pid" ] && kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -f "$PIDFILE"
  for p in $(our_processes); do kill -TERM "$p" 2>/dev/null || true; done
  for _ in $(seq 1 20); do
    [ -z "$(our_processes)" ] && break
    sleep 0.25
  done
  for p in $(our_processes); do kill -KILL "$p" 2>/dev/null || true; done
  return 0
}

restore() {
  local variant=$1
  case $variant in plain | mail) ;; *) die "unknown variant '$variant' (plain or mail)" ;; esac
  stop_dc
  rm -rf "$DC"
  cp -a "$BASE/pristine/$variant" "$DC"
  echo "$variant" >"$BASE/variant"
  write_env "$variant"
}

cmd=${1:-}
variant=${2:-plain}
mkdir -p "$BASE"
exec 9>"$BASE/.lock"
flock 9
case $cmd in
  setup)
    # A test run starts from a clean domain.
    ensure_provisioned
    restore "$variant"
    start_dc
    ;;
  provision)
    provision
    ;;
  start)
    start_dc
    ;;
  use)
    ensure_provisioned
    if running_pid >/dev/null && [ "$(cat "$BASE/variant" 2>/dev/null)" = "$variant" ]; then
      exit 0
    fi
    restore "$variant"
    start_dc
    ;;
  run)
    shift 2
    [ "${1:-}" = "--" ] && shift
    [ $# -gt 0 ] || die "run: no program given"
    ensure_provisioned
    if ! running_pid >/dev/null || [ "$(cat "$BASE/variant" 2>/dev/null)" != "$variant" ]; then
      restore "$variant"
      start_dc
    fi
    exec 9>&-
    exec "$@"
    ;;
  isolated)
    shift 2
    [ "${1:-}" = "--" ] && shift
    [ $# -gt 0 ] || die "isolated: no program given"
    command -v unshare >/dev/null || die "missing unshare (util-linux)"
    exec 9>&-
    # The mount namespace gives this domain its own /run/samba (winbindd's
    # socket path is fixed); the network namespace its own 127.0.0.1.
    TAVLEVAGT_SAMBA_BASE=$BASE exec unshare --net --mount --propagation private -- \
      "$HERE/samba-dc.sh" _inside "$variant" -- "$@"
    ;;
  _inside)
    shift 2
    [ "${1:-}" = "--" ] && shift
    mkdir -p /run/samba
    mount -t tmpfs tmpfs /run/samba || die "cannot mount a private /run/samba"
    ip link set lo up || die "cannot bring up loopback in the namespace"
    ensure_provisioned
    restore "$variant"
    start_dc
    flock -u 9
    rc=0
    TAVLEVAGT_SAMBA_BASE=$BASE TAVLEVAGT_SAMBA_ENV=$ENVFILE "$@" || rc=$?
    flock 9
    stop_dc
    exit $rc
    ;;
  reset)
    ensure_provisioned
    restore "$variant"
    start_dc
    ;;
  stop)
    stop_dc
    ;;
  status)
    if pid=$(running_pid); then
      echo "running pid $pid variant $(cat "$BASE/variant" 2>/dev/null)"
    else
      echo "stopped"
      exit 3
    fi
    ;;
  *)
    sed -n '2,28p' "$0" >&2
    exit 2
    ;;
esac
