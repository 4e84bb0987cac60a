#!/usr/bin/env bash
# The wrenhaven command as scripts use it: options, JSON output, exit codes.
set -u
wrenhaven=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
passed=0
failed=0

check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAILED %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
  fi
}

db=$dir/office.db
"$wrenhaven" init --db "$db" --demo >/dev/null
check "init exits 0" 0 $?
"$wrenhaven" init --db "$db" --demo >/dev/null 2>&1
check "init again exits 0" 0 $?

out=$("$wrenhaven" call --db "$db" Wrenhaven.RoleRight GetError)
check "RoleRight GetError" '{"calls":[{"method":"GetError","result":"","error":null}],"session":{},"sessionAbandoned":false,"response":{"written":"","cookies":{},"redirect":null,"ended":false}}' "$out"

"$wrenhaven" call --db "$db" Wrenhaven.Nope GetError >/dev/null 2>"$dir/err"
check "unknown identifier exits 2" 2 $?
check "unknown identifier says so in one line" 1 "$(wc -l <"$dir/err")"

"$wrenhaven" call --db "$db" Wrenhaven.RoleRight Nope >/dev/null 2>&1
check "unknown method exits 2" 2 $?

"$wrenhaven" call --db "$dir/missing/x.db" Wrenhaven.RoleRight GetError >/dev/null 2>&1
check "unopenable database exits 2" 2 $?

echo 'not json' | "$wrenhaven" call --db "$db" --script - Wrenhaven.RoleRight >/dev/null 2>&1
check "bad script exits 2" 2 $?

# A failed call exits 1, and GetError after it in the same script sees it.
out=$(echo '[{"method":"SetConn","args":["text"]},{"method":"GetError","args":[]}]' |
  "$wrenhaven" call --script - Wrenhaven.RoleRight)
check "failed call exits 1" 1 $?
check "GetError after a failure" 'true' "$(echo "$out" | python3 -c 'import json,sys; c=json.load(sys.stdin)["calls"]; print(str(c[0]["error"] is not None and c[1]["result"]==c[0]["error"]).lower())')"

# Session values are read as JSON variants and printed back in their order.
out=$("$wrenhaven" call --session RoleID=2 --session Role='"Clerk"' --session X='{"type":"empty"}' Wrenhaven.RoleRight GetError)
check "session values" '{"RoleID":2,"Role":"Clerk","X":{"type":"empty"}}' "$(echo "$out" | python3 -c 'import json,sys; print(json.dumps(json.load(sys.stdin)["session"],separators=(",",":")))')"

echo "cli: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
