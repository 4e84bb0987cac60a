#!/usr/bin/env bash
# The server's memory with many live sessions: a fresh demo office, the
# given number of sign-ins (each a session of its own, sessions in memory),
# then the server's resident size and that of its verifier processes, and
# the sessions the server counts as open. The target is under 100 MiB.
# With "windows" last, each session also opens its main window once (in a
# cookie jar of its own), so that the kept drawings of the main window are
# in the figure too.
#
#   bash bench/http/sessions_memory.sh BUILD_DIR [SESSIONS] [windows]
#
# Needs curl; every request goes to 127.0.0.1.
set -euo pipefail

build=$(cd "${1:?usage: sessions_memory.sh BUILD_DIR [SESSIONS]}" && pwd)
sessions=${2:-10000}
windows=${3:-}
wrenhaven="$build/cli/wrenhaven"
[ -x "$wrenhaven" ] || { echo "no $wrenhaven: build the project first" >&2; exit 2; }

work=$(mktemp -d /tmp/wrenhaven-sessions.XXXXXX)
server=""
cleanup() {
  if [ -n "$server" ]; then
    kill -TERM "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

"$wrenhaven" init --db "$work/office.db" --demo >/dev/null
"$wrenhaven" serve --db "$work/office.db" --listen 127.0.0.1:0 --quiet \
  --signin-limits off >"$work/server.log" 2>&1 &
server=$!
url=""
for _ in $(seq 1 100); do
  url=$(grep -o 'http://127\.0\.0\.1:[0-9]*/' "$work/server.log" | head -n 1 || true)
  [ -n "$url" ] && break
  sleep 0.1
done
[ -n "$url" ] || { cat "$work/server.log" >&2; echo "the server did not start" >&2; exit 2; }

resident() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
echo "resident before: $(resident "$server") KiB"

# Eight clients at once, each posting the sign-in form a hundred times
# on one connection.
form="LoginName=ann&LoginPwd=ann123&Screen=1920*1080&oldwin=true"
start=$(date +%s)
if [ "$windows" = windows ]; then
  seq 1 "$sessions" | xargs -P 8 -I{} sh -c \
    'jar=$(mktemp "$3/jar.XXXXXX") &&
     curl -s -o /dev/null -c "$jar" -d "$1" "$2" &&
     curl -s -o /dev/null -b "$jar" "$2MyOffice/"; rm -f "$jar"' \
    _ "$form" "$url" "$work"
else
  seq 1 $(((sessions + 99) / 100)) | xargs -P 8 -I{} sh -c \
    'curl -s -o /dev/null -d "$1" $(for i in $(seq 1 100); do printf "%s " "$2"; done)' \
    _ "$form" "$url"
fi
echo "sign-ins posted in $(($(date +%s) - start)) s"
open=$(curl -s "${url}metrics" | awk '$1 == "wrenhaven_sessions_open" {print $2}')
main=$(resident "$server")
children=0
for child in $(pgrep -P "$server" || true); do
  children=$((children + $(resident "$child")))
done
echo "sessions open: $open"
echo "resident after: server $main KiB, its verifier processes $children KiB," \
  "together $((main + children)) KiB (target under $((100 * 1024)) KiB)"
[ $((main + children)) -lt $((100 * 1024)) ]
