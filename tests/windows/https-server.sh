#!/usr/bin/env bash
# Starts or stops the loopback HTTPS job server of the integration tests
# (tests/integration/jobserver/server.py) for the Windows HTTPS tests, which
# run under Wine and so cannot start a Linux program themselves.
#   https-server.sh start DIR SERVER.PY   fresh DIR: the server's CA (ca.pem),
#                                         its port, and a second CA (other-ca.pem)
#   https-server.sh stop DIR
set -euo pipefail
dir=$2
case $1 in
  start)
    rm -rf "$dir"
    mkdir -p "$dir"
    setsid python3 "$3" "$dir" </dev/null >"$dir/server.log" 2>&1 &
    echo $! >"$dir/pid"
    for _ in $(seq 200); do
      [ -s "$dir/port" ] && break
      sleep 0.1
    done
    if [ ! -s "$dir/port" ]; then
      cat "$dir/server.log" >&2
      exit 1
    fi
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
      -keyout "$dir/other-ca.key" -out "$dir/other-ca.pem" -subj "/CN=Other test CA" 2>/dev/null
    ;;
  stop)
    if [ -f "$dir/pid" ]; then kill "$(cat "$dir/pid")" 2>/dev/null || true; fi
    ;;
esac
