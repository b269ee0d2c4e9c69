#!/usr/bin/env bash
# unit-sandbox.sh UNIT RESTRICT-FAMILIES [--writable DIR]... [--state-root DIR] -- PROGRAM [ARG...]
#
# Runs PROGRAM inside the sandbox that the [Service] section of the systemd
# UNIT asks for, built the way systemd builds it, on machines where systemd
# is not the init system (containers, CI machines). Each line is emulated:
#
#   NoNewPrivileges=yes        setpriv --no-new-privs
#   ProtectSystem=strict       every mount read-only except /dev, /proc, /sys
#   ReadWritePaths=, StateDirectory=
#                              those paths (StateDirectory below /var/lib,
#                              created) writable again
#   PrivateTmp=yes             a fresh /tmp and /var/tmp
#   ProtectHome=yes            /home, /root and /run/user empty and inaccessible
#   RestrictAddressFamilies=   socket() of any other family fails with
#                              EAFNOSUPPORT (RESTRICT-FAMILIES, the helper
#                              built from restrict_families.cpp)
#
# Any other sandboxing line in the unit, or another value of these, is
# refused (exit 3), so no line of the unit goes untried. --writable adds a
# writable path, as a school's drop-in with ReadWritePaths= would;
# --state-root puts StateDirectory= below DIR instead of /var/lib, so a test
# leaves the machine's /var/lib alone.
# Needs root (mount namespaces). PROGRAM's exit code is passed on.
set -euo pipefail

if [ "${1:-}" = --inner ]; then
  shift
  nnp=$1 strict=$2 private_tmp=$3 protect_home=$4 families=$5 helper=$6
  shift 6
  writable=()
  while [ "$1" != -- ]; do writable+=("$1"); shift; done
  shift
  if [ "$strict" = yes ]; then
    # Deepest mounts last, so a read-only parent never hides a child's remount.
    awk '{ print $5 }' /proc/self/mountinfo | sort -u | while read -r mp; do
      mp=$(printf '%b' "$mp")
      case $mp in /dev | /dev/* | /proc | /proc/* | /sys | /sys/*) continue ;; esac
      mount -o remount,bind,ro "$mp"
    done
  fi
  if [ "$private_tmp" = yes ]; then
    for d in /tmp /var/tmp; do mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$d"; done
  fi
  if [ "$protect_home" = yes ]; then
    for d in /home /root /run/user; do
      [ -d "$d" ] && mount -t tmpfs -o ro,mode=000,nosuid,nodev,noexec tmpfs "$d"
    done
  fi
  for w in ${writable[@]+"${writable[@]}"}; do
    mount --bind "$w" "$w"
    mount -o remount,bind,rw "$w"
  done
  run=()
  [ "$nnp" = yes ] && run+=(setpriv --no-new-privs)
  # shellcheck disable=SC2206  # the families are words
  [ -n "$families" ] && run+=("$helper" $families --)
  exec ${run[@]+"${run[@]}"} "$@"
fi

if [ $# -lt 4 ]; then
  echo "usage: $0 UNIT RESTRICT-FAMILIES [--writable DIR]... [--state-root DIR] -- PROGRAM [ARG...]" >&2
  exit 2
fi
unit=$1 helper=$2
shift 2
writable=()
state_root=/var/lib
while [ $# -gt 1 ] && [ "$1" != -- ]; do
  case $1 in
    --writable) writable+=("$(realpath "$2")") ;;
    --state-root) state_root=$(realpath "$2") ;;
    *) echo "unit-sandbox: unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
shift

refuse() { echo "unit-sandbox: $unit: $1 is not emulated" >&2; exit 3; }
yes_value() { case ${1,,} in yes | true | on | 1) echo yes ;; no | false | off | 0) echo no ;; *) echo bad ;; esac; }

nnp=no strict=no private_tmp=no protect_home=no families=""
section=""
while IFS= read -r line || [ -n "$line" ]; do
  line=${line%%#*}
  line=$(printf '%s' "$line" | sed 's/^[ \t]*//; s/[ \t]*$//')
  case $line in
    "" | \;*) continue ;;
    \[*\]) section=$line; continue ;;
  esac
  [ "$section" = "[Service]" ] || continue
  key=${line%%=*} value=${line#*=}
  case $key in
    NoNewPrivileges)
      nnp=$(yes_value "$value"); [ "$nnp" != bad ] || refuse "$line" ;;
    ProtectSystem)
      case $value in strict) strict=yes ;; *) refuse "$line" ;; esac ;;
    PrivateTmp)
      private_tmp=$(yes_value "$value"); [ "$private_tmp" != bad ] || refuse "$line" ;;
    ProtectHome)
      protect_home=$(yes_value "$value"); [ "$protect_home" != bad ] || refuse "$line" ;;
    StateDirectory)
      for d in $value; do
        mkdir -p "$state_root/$d"
        writable+=("$state_root/$d")
      done ;;
    ReadWritePaths)
      for d in $value; do
        optional=no
        [ "${d#-}" != "$d" ] && { optional=yes; d=${d#-}; }
        if [ -e "$d" ]; then writable+=("$d"); elif [ $optional = no ]; then
          echo "unit-sandbox: $unit: ReadWritePaths=$d does not exist" >&2; exit 3
        fi
      done ;;
    RestrictAddressFamilies)
      [ "${value#\~}" = "$value" ] || refuse "$line"
      families="$families $value" ;;
    Protect* | Private* | Restrict* | ReadOnlyPaths | InaccessiblePaths | ExecPaths | NoExecPaths | \
      TemporaryFileSystem | BindPaths | BindReadOnlyPaths | RootDirectory | RootImage | \
      CapabilityBoundingSet | AmbientCapabilities | SecureBits | SystemCall* | \
      MemoryDenyWriteExecute | LockPersonality | Personality | DynamicUser | User | Group | \
      SupplementaryGroups | RemoveIPC | KeyringMode | UMask | DevicePolicy | DeviceAllow | \
      IPAddress* | SocketBind* | CacheDirectory | LogsDirectory | RuntimeDirectory | \
      ConfigurationDirectory | MountAPIVFS | NetworkNamespacePath | IPCNamespacePath)
      refuse "$line" ;;
  esac
done <"$unit"

exec unshare --mount --propagation private -- "$0" --inner "$nnp" "$strict" "$private_tmp" \
  "$protect_home" "$families" "$helper" ${writable[@]+"${writable[@]}"} -- "$@"
