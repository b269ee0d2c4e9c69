#!/usr/bin/env bash
# Samba's add/change/delete share command for the test domain controller: it
# keeps the shares that clients create through the server service (NetShareAdd
# and friends) in shares.conf beside this script, which smb.conf includes.
#
#   share-command.sh add|change <smb.conf> <name> <path> <comment> <max connections> [...]
#   share-command.sh delete <smb.conf> <name>
set -euo pipefail
op=$1
name=$3
file=$(dirname "$0")/shares.conf
exec 9>"$file.lock"
flock 9
touch "$file"

# Drops the section of that share (share names are case-insensitive).
without_share() {
  awk -v want="$(printf '%s' "$name" | tr '[:upper:]' '[:lower:]')" '
    /^\[/ { cur = tolower(substr($0, 2, length($0) - 2)); skip = (cur == want) }
    !skip { print }
  ' "$file"
}

case $op in
  add | change)
    path=$4
    comment=${5:-}
    max=${6:-0}
    [ -d "$path" ] || { echo "no such folder: $path" >&2; exit 1; }
    if [ "$op" = add ] && grep -qi "^\[$(printf '%s' "$name" | sed 's/[][\.*^$]/\\&/g')\]$" "$file"; then
      echo "share exists: $name" >&2
      exit 1
    fi
    { without_share
      printf '[%s]\n\tpath = %s\n\tcomment = %s\n\tread only = no\n' "$name" "$path" "$comment"
      case $max in '' | 0 | -1 | 4294967295) ;; *) printf '\tmax connections = %s\n' "$max" ;; esac
    } >"$file.new"
    mv "$file.new" "$file"
    ;;
  delete)
    without_share >"$file.new"
    mv "$file.new" "$file"
    ;;
  *)
    echo "unknown operation $op" >&2
    exit 2
    ;;
esac
