#!/usr/bin/env bash
# The demo office against the large one (100,000 people, 2,000 menus, 200
# roles, 1,000,000 login records), page by page, in one run: sign-in, the
# main window and each administration listing, measured with wrk on each
# office in turn; the target is that the large office answers each within
# 1.5 times the demo office's time (demo/s over large/s at most 1.5).
#
#   bash bench/http/offices.sh BUILD_DIR [SECONDS]
#
# Needs wrk and curl; builds the large office first (under a minute on
# SQLite). Every request goes to 127.0.0.1. Exits 1 when a target is missed.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: offices.sh BUILD_DIR [SECONDS]}" && pwd)
seconds=${2:-5}
wrenhaven="$build/cli/wrenhaven"
[ -x "$wrenhaven" ] || { echo "no $wrenhaven: build the project first" >&2; exit 2; }
command -v wrk >/dev/null || { echo "no wrk: install the Debian package wrk" >&2; exit 2; }

work=$(mktemp -d /tmp/wrenhaven-offices.XXXXXX)
server=""
cleanup() {
  if [ -n "$server" ]; then
    kill -TERM "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "== building the offices"
"$wrenhaven" init --db "$work/demo.db" --demo >/dev/null
start=$(date +%s.%N)
"$wrenhaven" init --db "$work/large.db" --demo --size large >/dev/null
echo "large office built in $(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN {printf "%.1f", b - a}') s"

# The pages, as paths after the server's address.
pages=(
  "MyOffice/"
  "admin/logins"
  "admin/logins/person?id=1"
  "admin/attendance"
  "admin/menus"
  "admin/rights"
  "admin/rights/role?id=1"
)

rate() { awk '/^Requests\/sec:/ {print $2}' <<<"$1"; }

# measure NAME DB ACCOUNT: prints "PAGE RATE" lines for the office.
measure() {
  local name=$1 db=$2 account=$3
  "$wrenhaven" serve --db "$db" --listen 127.0.0.1:0 --quiet \
    --signin-limits off >"$work/$name.log" 2>&1 &
  server=$!
  local url=""
  for _ in $(seq 1 100); do
    url=$(grep -o 'http://127\.0\.0\.1:[0-9]*/' "$work/$name.log" | head -n 1 || true)
    [ -n "$url" ] && break
    sleep 0.1
  done
  [ -n "$url" ] || { cat "$work/$name.log" >&2; echo "the server did not start" >&2; exit 2; }
  local form="LoginName=$account&LoginPwd=${account}123&Screen=1920*1080&oldwin=true"
  # The first sign-in replaces a stored plain-text password by its hash;
  # measure the ones after it.
  curl -s -o /dev/null -d "$form" "$url"
  cat >"$work/signin-$name.lua" <<EOF
wrk.method = "POST"
wrk.body = "$form"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
EOF
  local out
  out=$(wrk -t2 -c16 -d"${seconds}s" --timeout 30s -s "$work/signin-$name.lua" "$url")
  echo "sign-in $(rate "$out")" >>"$work/$name.rates"
  local session
  session=$(curl -s -o /dev/null -D - -d "$form" "$url" |
    grep -i '^Set-Cookie: WRENHAVEN_SESSION=' | head -n 1 |
    sed -E 's/^[^=]*=([^;]*).*/\1/' | tr -d '\r')
  [ -n "$session" ] || { echo "$name: the sign-in gave no session" >&2; exit 1; }
  for page in "${pages[@]}"; do
    local status
    status=$(curl -s -o /dev/null -w '%{http_code}' \
      -H "Cookie: WRENHAVEN_SESSION=$session" "$url$page")
    [ "$status" = 200 ] || { echo "$name: $page answered $status" >&2; exit 1; }
    out=$(wrk -t2 -c8 -d"${seconds}s" --timeout 30s \
      -H "Cookie: WRENHAVEN_SESSION=$session" "$url$page")
    echo "$page $(rate "$out")" >>"$work/$name.rates"
  done
  kill -TERM "$server" && wait "$server" || true
  server=""
}

echo "== the demo office"
measure demo "$work/demo.db" ann
echo "== the large office"
measure large "$work/large.db" p000001

echo
printf '%-28s %12s %12s %8s\n' page demo/s large/s ratio
missed=0
while read -r page demo; do
  large=$(awk -v p="$page" '$1 == p {print $2}' "$work/large.rates")
  verdict=$(awk -v d="$demo" -v l="$large" 'BEGIN {
    r = (l > 0) ? d / l : 1e9
    printf "%8.2f %s", r, (r <= 1.5 ? "ok" : "MISSED") }')
  printf '%-28s %12.1f %12.1f %s\n' "$page" "$demo" "$large" "$verdict"
  case "$verdict" in *MISSED) missed=1 ;; esac
done <"$work/demo.rates"
exit "$missed"
