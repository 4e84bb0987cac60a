#!/usr/bin/env bash
# wrenhaven serve as a person starts it: a demo office in a new file, the
# sign-in over HTTP, one log line per request (combined, then JSON), the
# static files under their fingerprinted names, /healthz and /metrics, a
# clean stop on SIGTERM and on SIGINT, a clear failure for a database that
# is not there, and HTTPS with a throw-away certificate.
#   serve_test.sh PATH/TO/wrenhaven
set -uo pipefail
wrenhaven=$1
work=$(mktemp -d /tmp/wrenhaven-serve-test.XXXXXX)
server=""
trap '[ -n "$server" ] && kill -9 "$server" 2>/dev/null; rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $1"
  failures=$((failures + 1))
}

# Starts the server, sets $server and $url.
start() {
  "$wrenhaven" serve --db "$work/office.db" --listen 127.0.0.1:0 "$@" \
    >"$work/server.log" 2>&1 &
  server=$!
  url=""
  for _ in $(seq 1 300); do
    url=$(grep -o 'https\?://127\.0\.0\.1:[0-9]*/' "$work/server.log" | head -n 1)
    [ -n "$url" ] && return 0
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
  done
  cat "$work/server.log"
  return 1
}

# Sends a signal and expects the server gone with exit code 0 within 10 s.
stop_with() {
  kill "-$1" "$server"
  for _ in $(seq 1 100); do
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$server" 2>/dev/null; then
    fail "still running 10 s after SIG$1"
    return
  fi
  wait "$server"
  local rc=$?
  server=""
  [ "$rc" -eq 0 ] || fail "exit code $rc after SIG$1"
  grep -q "Stopped" "$work/server.log" || fail "no stop line after SIG$1"
}

# Without --demo a missing database is an error of the command.
"$wrenhaven" serve --db "$work/missing.db" --listen 127.0.0.1:0 >"$work/out" 2>&1
rc=$?
[ "$rc" -eq 2 ] || fail "a missing database gave exit code $rc, not 2"
grep -q "missing.db" "$work/out" || fail "the error does not name the database: $(cat "$work/out")"
[ ! -e "$work/missing.db" ] || fail "a missing database was created without --demo"

start --demo || fail "the server did not start"
if [ -n "$url" ]; then
  code=$(curl -s -o "$work/page" -w '%{http_code}' "$url")
  [ "$code" = 200 ] || fail "GET / answered $code"
  grep -q '<form id="signin"' "$work/page" || fail "no sign-in form"
  code=$(curl -s -o /dev/null -w '%{http_code}' "${url}static/office.css")
  [ "$code" = 200 ] || fail "the static folder was not found ($code)"
  headers=$(curl -s -o /dev/null -D - -d 'LoginName=ann&LoginPwd=ann123&oldwin=true' "$url")
  grep -q '^HTTP/1.1 302' <<<"$headers" || fail "the sign-in did not redirect: $headers"
  grep -qi '^Location: MyOffice/?[0-9]' <<<"$headers" || fail "no main-window address: $headers"
  grep -Eq '^127\.0\.0\.1 - - \[[0-9]{2}/[A-Z][a-z]{2}/[0-9]{4}:[0-9:]{8} [-+][0-9]{4}\] "POST / HTTP/1\.1" 302 [0-9-]+ "-" "curl/[^"]*" [0-9]+$' "$work/server.log" ||
    fail "no combined log line for the sign-in: $(grep POST "$work/server.log")"
  grep -q 'ann123' "$work/server.log" && fail "the log shows a password"
  # The sign-in page refers to its style sheet by the fingerprinted name.
  sheet=$(curl -s "$url" | grep -o '/static/office\.[0-9a-f]\{12\}\.css' | head -n 1)
  [ -n "$sheet" ] || fail "the sign-in page names no fingerprinted style sheet"
  if [ -n "$sheet" ]; then
    headers=$(curl -s -o /dev/null -D - "${url}${sheet#/}")
    grep -qi '^Cache-Control: public, max-age=31536000, immutable' <<<"$headers" ||
      fail "the fingerprinted style sheet is not kept for a year: $headers"
  fi
  code=$(curl -s -o "$work/health" -w '%{http_code}' "${url}healthz")
  [ "$code" = 200 ] || fail "GET /healthz answered $code"
  grep -q '"status":"ok"' "$work/health" || fail "/healthz: $(cat "$work/health")"
  curl -s "${url}metrics" | grep -q '^wrenhaven_sign_ins_total{outcome="success"} 1$' ||
    fail "/metrics does not count the sign-in"
  stop_with TERM
fi

# The second start keeps the office of the first (and its login record),
# and logs JSON lines.
start --demo --log-format json || fail "the server did not start again"
if [ -n "$url" ]; then
  curl -s -o /dev/null "${url}MyOffice/?top=1"
  python3 -c '
import json, sys
lines = [json.loads(l) for l in open(sys.argv[1]) if l.startswith("{")]
hit = [l for l in lines if l["path"] == "/MyOffice/"]
assert hit and hit[0]["status"] == 302 and "query" not in hit[0], lines
assert isinstance(hit[0]["duration_us"], int) and hit[0]["kind"] == "main_window"
' "$work/server.log" || fail "no JSON log line for the main window"
  count=$(sqlite3 "$work/office.db" "SELECT COUNT(*) FROM HR_Login" 2>/dev/null || echo "?")
  [ "$count" = 1 ] || fail "the login records were not kept: $count"
  stop_with INT
fi

# HTTPS with a self-signed certificate for 127.0.0.1: pages, Secure cookies,
# plain HTTP on the same port refused, and unusable files refused at start.
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 \
  -addext subjectAltName=IP:127.0.0.1 -keyout "$work/key.pem" -out "$work/cert.pem" \
  >/dev/null 2>&1 || fail "openssl could not make a certificate"
start --tls-cert "$work/cert.pem" --tls-key "$work/key.pem" || fail "the HTTPS server did not start"
if [ -n "$url" ]; then
  case "$url" in https://*) ;; *) fail "the start line names $url, not https" ;; esac
  code=$(curl -s --cacert "$work/cert.pem" -o "$work/page" -w '%{http_code}' "$url")
  [ "$code" = 200 ] || fail "GET / over HTTPS answered $code"
  grep -q '<form id="signin"' "$work/page" || fail "no sign-in form over HTTPS"
  headers=$(curl -s --cacert "$work/cert.pem" -o /dev/null -D - \
    -d 'LoginName=ann&LoginPwd=ann123&oldwin=true' "$url")
  grep -q '^HTTP/1.1 302' <<<"$headers" || fail "the HTTPS sign-in did not redirect: $headers"
  session=$(grep -i '^Set-Cookie: WRENHAVEN_SESSION=' <<<"$headers")
  [ -n "$session" ] || fail "no session cookie over HTTPS: $headers"
  grep -qi '; *Secure' <<<"$session" || fail "the session cookie is not Secure: $session"
  plain=${url/https:/http:}
  code=$(curl -s -m 5 -o /dev/null -w '%{http_code}' "$plain")
  [ "$code" != 200 ] || fail "plain HTTP was served on the HTTPS port"
  code=$(curl -s --cacert "$work/cert.pem" -o /dev/null -w '%{http_code}' "$url")
  [ "$code" = 200 ] || fail "HTTPS after a plain request answered $code"
  stop_with TERM
fi
echo "not a key" >"$work/bad.pem"
"$wrenhaven" serve --db "$work/office.db" --listen 127.0.0.1:0 \
  --tls-cert "$work/cert.pem" --tls-key "$work/bad.pem" >"$work/out" 2>&1
rc=$?
[ "$rc" -eq 2 ] || fail "an unusable key gave exit code $rc, not 2"
grep -q "bad.pem" "$work/out" || fail "the error does not name the key: $(cat "$work/out")"
if "$wrenhaven" serve --db "$work/office.db" --listen 127.0.0.1:0 \
  --tls-cert "$work/cert.pem" >"$work/out" 2>&1; then
  fail "a certificate without its key was accepted"
fi

if [ "$failures" -eq 0 ]; then
  echo "serve: all checks passed"
fi
exit "$failures"
