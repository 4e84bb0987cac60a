#!/usr/bin/env bash
# A throw-away PostgreSQL cluster for the tests, listening on 127.0.0.1 only.
#
#   pg-test-cluster.sh start DIR PORT   initialise DIR (once) and start the
#                                       server; prints the address to export
#                                       as WRENHAVEN_TEST_POSTGRES
#   pg-test-cluster.sh stop DIR         stop the server that runs from DIR
#
# The server refuses to run as root, so when started by root the cluster
# belongs to the system user "postgres" (or "nobody" where that is missing).
# Everything lives in DIR: data, log and socket. Durability is switched off:
# the cluster is for tests and is thrown away afterwards.
set -euo pipefail

usage() {
  echo "usage: $0 start DIR PORT | stop DIR" >&2
  exit 2
}

bindir=${PG_BINDIR:-}
if [ -z "$bindir" ]; then
  for d in /usr/lib/postgresql/15/bin /usr/lib/postgresql/*/bin; do
    if [ -x "$d/initdb" ]; then
      bindir=$d
      break
    fi
  done
fi
if [ -z "$bindir" ] || [ ! -x "$bindir/initdb" ]; then
  echo "$0: initdb not found (install Debian's postgresql package)" >&2
  exit 1
fi

owner=""
if [ "$(id -u)" -eq 0 ]; then
  if getent passwd postgres >/dev/null; then
    owner=postgres
  else
    owner=nobody
  fi
fi

# Runs a server program as the cluster's owner.
as_owner() {
  if [ -n "$owner" ]; then
    runuser -u "$owner" -- "$@"
  else
    "$@"
  fi
}

[ $# -ge 2 ] || usage
command=$1
dir=$2

case "$command" in
  start)
    [ $# -eq 3 ] || usage
    port=$3
    case "$port" in
      '' | *[!0-9]*) echo "$0: the port must be a number, not '$port'" >&2; exit 2 ;;
    esac
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    if [ -n "$owner" ]; then
      chown "$owner" "$dir"
    fi
    chmod 700 "$dir"
    if [ ! -f "$dir/data/PG_VERSION" ]; then
      # C locale: text sorts by code point, as on the embedded database.
      as_owner "$bindir/initdb" -D "$dir/data" -U wrenhaven --auth=trust \
        --encoding=UTF8 --locale=C --no-sync --no-instructions >"$dir/initdb.log" 2>&1 || {
        cat "$dir/initdb.log" >&2
        exit 1
      }
    fi
    # A cluster that runs already is used as it is.
    if as_owner "$bindir/pg_ctl" -D "$dir/data" status >/dev/null 2>&1; then
      :
    elif ! as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
      -o "-c listen_addresses=127.0.0.1 -p $port -k $dir -c fsync=off -c synchronous_commit=off -c full_page_writes=off -c max_connections=300" \
      start >"$dir/pg_ctl.log" 2>&1; then
      cat "$dir/pg_ctl.log" "$dir/server.log" >&2 || true
      exit 1
    fi
    # The tests work in a database of their own.
    if ! as_owner "$bindir/psql" -h 127.0.0.1 -p "$port" -U wrenhaven -d postgres -tAq \
      -c "SELECT 1 FROM pg_database WHERE datname = 'wrenhaven'" | grep -q 1; then
      as_owner "$bindir/createdb" -h 127.0.0.1 -p "$port" -U wrenhaven wrenhaven
    fi
    echo "postgresql://wrenhaven@127.0.0.1:$port/wrenhaven"
    ;;
  stop)
    [ $# -eq 2 ] || usage
    if [ -f "$dir/data/postmaster.pid" ]; then
      as_owner "$bindir/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null
    fi
    ;;
  *)
    usage
    ;;
esac
