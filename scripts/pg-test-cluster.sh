#!/usr/bin/env bash
# The throwaway PostgreSQL cluster of the test suite.
#
#   pg-test-cluster.sh start INFO     makes a cluster in a new temporary
#                                     directory and starts it; INFO gets its
#                                     settings (KEY=VALUE lines, below)
#   pg-test-cluster.sh stop INFO      stops it and removes the directory
#   pg-test-cluster.sh stop-server|start-server|restart-server INFO
#                                     stops, starts or restarts the server
#                                     only (the restart tests)
#   pg-test-cluster.sh kill-server INFO
#                                     kills the server and every process of
#                                     it with SIGKILL, as a crash would; a
#                                     start-server then recovers the cluster
#
# The cluster: initdb without fsync, SCRAM authentication for every
# connection, one role feroq_test (a superuser, with a random password kept
# in a password file of mode 0600 for libpq's PGPASSFILE), the server on
# 127.0.0.1 at a free port and on a Unix socket in the directory, taking TLS
# over TCP with a certificate for 127.0.0.1 and localhost that a throwaway
# CA signed (FEROQ_PG_CA; FEROQ_PG_OTHER_CA is a CA that signed nothing). PostgreSQL
# refuses to run as root, so as root the server runs as the user postgres
# (Debian's package makes it), which owns the directory. Every step has a
# timeout, so a stuck server never holds the suite up.
set -euo pipefail

action=${1:?usage: pg-test-cluster.sh start|stop|stop-server|start-server|restart-server|kill-server INFO}
info=${2:?the settings file}

bindir=${FEROQ_PG_BINDIR:-}
if [[ -z "$bindir" ]]; then
  bindir=$(pg_config --bindir 2>/dev/null || true)
  if [[ ! -x "$bindir/initdb" ]]; then
    bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
  fi
fi
[[ -x "$bindir/initdb" && -x "$bindir/pg_ctl" ]] || { echo "no PostgreSQL server programs found" >&2; exit 1; }

as_owner() {
  if [[ "$(id -u)" == 0 ]]; then runuser -u postgres -- "$@"; else "$@"; fi
}

setting() { sed -n "s/^$1=//p" "$info"; }

server_ctl() {  # start|stop|restart
  local dir data
  dir=$(setting FEROQ_PG_DIR)
  data="$dir/data"
  case $1 in
    stop) as_owner timeout 60 "$bindir/pg_ctl" -D "$data" -m fast -t 30 -w stop >/dev/null ;;
    start) as_owner timeout 60 "$bindir/pg_ctl" -D "$data" -l "$dir/server.log" -t 30 -w start >/dev/null ;;
    restart) as_owner timeout 90 "$bindir/pg_ctl" -D "$data" -l "$dir/server.log" -m fast -t 30 -w restart >/dev/null ;;
  esac
}

case $action in
  start)
    if [[ -f "$info" ]]; then "$0" stop "$info" || true; fi
    dir=$(mktemp -d /tmp/feroq-pg.XXXXXX)
    chmod 0755 "$dir"
    if [[ "$(id -u)" == 0 ]]; then chown postgres: "$dir"; fi
    password=$(head -c 18 /dev/urandom | od -An -tx1 | tr -d ' \n')
    as_owner sh -c "umask 077 && printf '%s\n' '$password' > '$dir/password'"
    as_owner timeout 120 "$bindir/initdb" -D "$dir/data" -U feroq_test --pwfile="$dir/password" \
      --auth=scram-sha-256 -N -E UTF8 --no-locale >"$dir/initdb.log" 2>&1 ||
      { cat "$dir/initdb.log" >&2; exit 1; }
    rm -f "$dir/password"
    tls="$dir/tls"
    mkdir "$tls"
    key=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
    for ca in ca other-ca; do
      openssl req -x509 "${key[@]}" -days 2 -subj "/CN=feroq test $ca" \
        -keyout "$tls/$ca.key" -out "$tls/$ca.crt" 2>/dev/null
    done
    openssl req "${key[@]}" -subj "/CN=localhost" -keyout "$tls/server.key" -out "$tls/server.csr" 2>/dev/null
    openssl x509 -req -in "$tls/server.csr" -CA "$tls/ca.crt" -CAkey "$tls/ca.key" -CAcreateserial -days 2 \
      -extfile <(printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\n') -out "$tls/server.crt" 2>/dev/null
    chmod 0600 "$tls/server.key"
    if [[ "$(id -u)" == 0 ]]; then chown postgres: "$tls/server.key" "$tls/server.crt"; fi
    as_owner sh -c "cat >> '$dir/data/postgresql.conf'" <<EOF
ssl = on
ssl_cert_file = '$tls/server.crt'
ssl_key_file = '$tls/server.key'
EOF
    # The password file belongs to whoever runs the tests.
    (umask 077 && printf '*:*:*:feroq_test:%s\n' "$password" > "$dir/pgpass")
    started=0
    for attempt in 1 2 3 4 5 6 7 8; do
      port=$(( 20000 + (RANDOM * 32768 + RANDOM) % 40000 ))
      as_owner sh -c "cat >> '$dir/data/postgresql.conf'" <<EOF
listen_addresses = '127.0.0.1'
port = $port
unix_socket_directories = '$dir'
fsync = off
synchronous_commit = off
full_page_writes = off
max_connections = 200
EOF
      if as_owner timeout 60 "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -t 30 -w start >/dev/null; then
        started=1
        break
      fi
      # Most likely the port was taken: the last setting wins, try another.
    done
    if [[ $started != 1 ]]; then cat "$dir/server.log" >&2; rm -rf "$dir"; exit 1; fi
    cat > "$info" <<EOF
FEROQ_PG_DIR=$dir
FEROQ_PG_HOST=127.0.0.1
FEROQ_PG_PORT=$port
FEROQ_PG_USER=feroq_test
FEROQ_PG_PASSFILE=$dir/pgpass
FEROQ_PG_CA=$tls/ca.crt
FEROQ_PG_OTHER_CA=$tls/other-ca.crt
EOF
    ;;
  stop)
    [[ -f "$info" ]] || exit 0
    dir=$(setting FEROQ_PG_DIR)
    server_ctl stop || as_owner timeout 30 "$bindir/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null || true
    [[ "$dir" == /tmp/feroq-pg.* ]] && rm -rf "$dir"
    rm -f "$info"
    ;;
  stop-server) server_ctl stop ;;
  start-server) server_ctl start ;;
  restart-server) server_ctl restart ;;
  kill-server)
    data="$(setting FEROQ_PG_DIR)/data"
    postmaster=$(head -n 1 "$data/postmaster.pid")
    # Stopped first, the server forks no new process between the listing of
    # its children and the kill.
    kill -STOP "$postmaster"
    pids="$postmaster $(ps -o pid= --ppid "$postmaster" | tr '\n' ' ')"
    kill -KILL $pids
    # Gone (or a zombie nobody reaps yet) before the cluster is started again.
    for _ in $(seq 600); do
      alive=0
      for pid in $pids; do
        state=$(ps -o stat= -p "$pid" 2>/dev/null || true)
        [[ -n "$state" && "$state" != Z* ]] && alive=1
      done
      if [[ $alive == 0 ]]; then
        # A zombie still answers to its process id, and the server would
        # take its lock files for those of a running server.
        rm -f "$data/postmaster.pid" "$(setting FEROQ_PG_DIR)"/.s.PGSQL.*.lock
        exit 0
      fi
      sleep 0.1
    done
    echo "the server's processes outlived SIGKILL" >&2
    exit 1
    ;;
  *) echo "unknown action $action" >&2; exit 2 ;;
esac
