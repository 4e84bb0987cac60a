#!/usr/bin/env bash
# The office system's HTTP figures, measured with wrk on this machine:
#   1. sign-in form posts per second at 16 connections, and their 99th
#      percentile latency, against the raw sqlite3 loop of the same three
#      statements run in the same run (target: at least 0.4 of it, p99
#      under 10 ms);
#   2. the main window per second against a static file of the same server
#      (target: at least 0.45 of it).
#
#   bash bench/http/run.sh BUILD_DIR [SECONDS]
#
# Needs wrk and curl. Every request goes to 127.0.0.1. Exits 1 when a
# target is missed.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: run.sh BUILD_DIR [SECONDS]}" && pwd)
seconds=${2:-10}
connections=16
wrenhaven="$build/cli/wrenhaven"
raw="$build/bench/http/raw_signin_loop"
for tool in "$wrenhaven" "$raw"; do
  [ -x "$tool" ] || { echo "no $tool: build the project (with benchmarks) first" >&2; exit 2; }
done
command -v wrk >/dev/null || { echo "no wrk: install the Debian package wrk" >&2; exit 2; }

work=$(mktemp -d /tmp/wrenhaven-bench.XXXXXX)
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

# wrk's latency figures in milliseconds ("850.00us", "3.21ms", "1.02s").
to_ms() {
  awk -v v="$1" 'BEGIN {
    if (v ~ /us$/) { sub(/us$/, "", v); printf "%.2f", v / 1000 }
    else if (v ~ /ms$/) { sub(/ms$/, "", v); printf "%.2f", v }
    else if (v ~ /s$/) { sub(/s$/, "", v); printf "%.2f", v * 1000 }
    else print v }'
}
rate() { awk '/^Requests\/sec:/ {print $2}' <<<"$1"; }
errors() {
  awk '/Non-2xx or 3xx responses:/ {n += $NF} /Socket errors:/ {n += 1} END {print n + 0}' <<<"$1"
}

echo "== raw sqlite3 loop of the sign-in's three statements (${seconds}s, one thread)"
raw_rate=$("$raw" "$work/office.db" "$seconds" | awk '{print $NF}')
echo "raw sign-ins per second: $raw_rate"

"$wrenhaven" serve --db "$work/office.db" --listen 127.0.0.1:0 --quiet \
  >"$work/server.log" 2>&1 &
server=$!
url=""
for _ in $(seq 1 100); do
  url=$(grep -o 'http://127\.0\.0\.1:[0-9]*/' "$work/server.log" | head -n 1 || true)
  [ -n "$url" ] && break
  sleep 0.1
done
[ -n "$url" ] || { cat "$work/server.log" >&2; echo "the server did not start" >&2; exit 2; }

echo "== sign-in posts: wrk -t2 -c$connections -d${seconds}s $url"
signin=$(wrk -t2 -c"$connections" -d"${seconds}s" --latency -s "$here/signin.lua" "$url")
echo "$signin"
signin_rate=$(rate "$signin")
p99=$(to_ms "$(awk '$1 == "99%" {print $2}' <<<"$signin")")
[ "$(errors "$signin")" -eq 0 ] || { echo "sign-in answers other than 2xx/3xx" >&2; exit 1; }

# One signed-in session for the main window.
headers=$(curl -s -o /dev/null -D - \
  -d 'LoginName=ann&LoginPwd=ann123&Screen=1920*1080&oldwin=true' "$url")
session=$(grep -i '^Set-Cookie: WRENHAVEN_SESSION=' <<<"$headers" | head -n 1 |
  sed -E 's/^[^=]*=([^;]*).*/\1/' | tr -d '\r')
[ -n "$session" ] || { echo "the sign-in gave no session" >&2; exit 1; }
curl -s -H "Cookie: WRENHAVEN_SESSION=$session" "${url}MyOffice/" | grep -q 'Ann Carter' ||
  { echo "the main window did not show the signed-in person" >&2; exit 1; }

echo "== main window: wrk -t2 -c$connections -d${seconds}s ${url}MyOffice/"
menu=$(wrk -t2 -c"$connections" -d"${seconds}s" --latency \
  -H "Cookie: WRENHAVEN_SESSION=$session" "${url}MyOffice/")
echo "$menu"
[ "$(errors "$menu")" -eq 0 ] || { echo "main window answers other than 2xx/3xx" >&2; exit 1; }

echo "== static file: wrk -t2 -c$connections -d${seconds}s ${url}static/office.css"
static=$(wrk -t2 -c"$connections" -d"${seconds}s" --latency "${url}static/office.css")
echo "$static"

menu_rate=$(rate "$menu")
static_rate=$(rate "$static")
echo
awk -v s="$signin_rate" -v r="$raw_rate" -v p="$p99" -v m="$menu_rate" -v t="$static_rate" 'BEGIN {
  a = s / r; b = m / t; ok = 1
  printf "sign-in posts/s %.0f, raw loop %.0f: ratio %.2f (target >= 0.40) %s\n", s, r, a, (a >= 0.40 ? "ok" : "MISSED")
  printf "sign-in p99 %.2f ms (target < 10 ms) %s\n", p, (p < 10 ? "ok" : "MISSED")
  printf "main window/s %.0f, static file/s %.0f: ratio %.2f (target >= 0.45) %s\n", m, t, b, (b >= 0.45 ? "ok" : "MISSED")
  if (a < 0.40 || p >= 10 || b < 0.45) ok = 0
  exit ok ? 0 : 1
}'
