#!/usr/bin/env bash
# Browser tests: starts `wrenhaven serve` from BUILD_DIR on a free port of
# 127.0.0.1 with a fresh demo database in a temporary folder, runs the tests
# in headless Chromium and stops the server. Screenshots go to
# BUILD_DIR/e2e-screenshots. The last line reads "e2e: N passed, M failed".
#
#   bash tests/e2e/run.sh BUILD_DIR
set -uo pipefail

fail() {
  echo "$1" >&2
  echo "e2e: 0 passed, 1 failed"
  exit 1
}

[ $# -eq 1 ] || fail "usage: run.sh BUILD_DIR"
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" 2>/dev/null && pwd) || fail "no build folder $1"
wrenhaven="$build/cli/wrenhaven"
[ -x "$wrenhaven" ] || fail "no $wrenhaven: build the project first"
[ -x /usr/bin/chromium ] || fail "no /usr/bin/chromium: install the Debian package chromium"
command -v sqlite3 >/dev/null || fail "no sqlite3: install the Debian package sqlite3"

cd "$here" || fail "cannot enter $here"
if [ -f package-lock.json ]; then
  npm ci --silent --no-audit --no-fund >/dev/null || fail "npm ci failed"
else
  npm install --silent --no-audit --no-fund >/dev/null || fail "npm install failed"
fi

work=$(mktemp -d /tmp/wrenhaven-e2e.XXXXXX)
server=""
cleanup() {
  if [ -n "$server" ] && kill -0 "$server" 2>/dev/null; then
    kill -TERM "$server" 2>/dev/null
    wait "$server" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

"$wrenhaven" serve --db "$work/office.db" --demo --listen 127.0.0.1:0 \
  >"$work/server.log" 2>&1 &
server=$!

url=""
for _ in $(seq 1 300); do
  url=$(grep -o 'http://127\.0\.0\.1:[0-9]*/' "$work/server.log" | head -n 1)
  [ -n "$url" ] && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$url" ]; then
  cat "$work/server.log" >&2
  fail "the server did not start"
fi

shots="$build/e2e-screenshots"
# The suites share the server and its database, in this order; each prints
# its own count, and the last line adds them up.
passed=0
failed=0
rc=0
for suite in office admin audit; do
  node "$suite.test.mjs" --url "$url" --db "$work/office.db" --shots "$shots" \
    >"$work/$suite.out" 2>&1 || rc=1
  sed "s/^e2e: /$suite: /" "$work/$suite.out"
  line=$(grep -E '^e2e: [0-9]+ passed, [0-9]+ failed' "$work/$suite.out" | tail -n 1)
  if [ -z "$line" ]; then
    failed=$((failed + 1))
    rc=1
  else
    passed=$((passed + $(sed -E 's/^e2e: ([0-9]+) passed.*/\1/' <<<"$line")))
    failed=$((failed + $(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")))
  fi
done
echo "e2e: $passed passed, $failed failed"
if [ $rc -ne 0 ]; then
  echo "--- server log" >&2
  tail -n 40 "$work/server.log" >&2
fi
exit $rc
