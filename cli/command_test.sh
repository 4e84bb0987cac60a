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

# Passwords: the demo office is stored hashed; a database from before
# hashing is hashed in place once, and a second run changes nothing.
check "init --demo stores hashes" 0 "$(sqlite3 "$db" "select count(*) from HR_person where personPwd not like '\$argon2id\$%'")"
old=$dir/old.db
"$wrenhaven" init --db "$old" >/dev/null
sqlite3 "$old" "insert into HR_person (PersonID, personAccount, personPwd) values (1,'ann','ann123'),(2,'ben','ben123')"
out=$("$wrenhaven" passwords --db "$old" --hash-all --hash-preset test 2>/dev/null)
check "hash-all counts" "Hashed 2 stored passwords in $old" "$out"
before=$(sqlite3 "$old" "select group_concat(personPwd) from HR_person")
out=$("$wrenhaven" passwords --db "$old" --hash-all --hash-preset test 2>/dev/null)
check "hash-all again" "Hashed 0 stored passwords in $old (every one already was a hash)" "$out"
check "hash-all again changes nothing" "$before" "$(sqlite3 "$old" "select group_concat(personPwd) from HR_person")"

echo 'a longer secret' | "$wrenhaven" passwords --db "$old" --set ann --hash-preset test >/dev/null
check "set exits 0" 0 $?
after=$(sqlite3 "$old" "select personPwd from HR_person where PersonID=1")
check "set stores a new hash" "yes" "$([ "$after" != "${before%%,*}" ] && case $after in '$argon2id$'*) echo yes;; esac)"
echo 'short' | "$wrenhaven" passwords --db "$old" --set ann 2>"$dir/err" >/dev/null
check "a short password exits 2" 2 $?
check "a short password is refused in one line" 1 "$(grep -c 'at least 8 characters' "$dir/err")"
echo 'ben123ben' | "$wrenhaven" passwords --db "$old" --set nobody 2>/dev/null >/dev/null
check "an unknown account exits 2" 2 $?
"$wrenhaven" passwords --db "$old" >/dev/null 2>&1
check "passwords without an action exits 2" 2 $?

# The demo accounts' passwords are public: not beyond loopback unless told.
timeout 20 "$wrenhaven" serve --db "$db" --listen 0.0.0.0:0 --quiet >/dev/null 2>"$dir/err"
check "a demo office on every address exits 2" 2 $?
check "and says why" 1 "$(grep -c 'public passwords' "$dir/err")"
"$wrenhaven" serve --db "$db" --signin-limits pair=5 --listen 127.0.0.1:0 >/dev/null 2>&1
check "malformed limits exit 2" 2 $?

# Backups: a sound copy of the office, refusals that exit 2 and leave
# nothing behind, and a restore that signs in.
bak=$dir/office.bak
"$wrenhaven" backup --db "$db" --to "$bak" >/dev/null
check "backup exits 0" 0 $?
check "the backup passes the integrity check" ok "$(sqlite3 "$bak" 'pragma integrity_check')"
check "the backup holds the people" "$(sqlite3 "$db" 'select count(*) from HR_person')" \
  "$(sqlite3 "$bak" 'select count(*) from HR_person')"
"$wrenhaven" backup --db "$db" --to "$bak" 2>"$dir/err" >/dev/null
check "a backup onto an existing file exits 2" 2 $?
check "and says so" 1 "$(grep -c 'already exists' "$dir/err")"
"$wrenhaven" backup --db "$dir/missing.db" --to "$dir/m.bak" >/dev/null 2>&1
check "a backup of a missing office exits 2" 2 $?
check "and leaves no file" "" "$(ls "$dir" | grep -E '^(m\.bak|missing\.db)|partial')"
"$wrenhaven" backup --db postgresql://127.0.0.1:1/office --to "$dir/pg.bak" 2>"$dir/err" >/dev/null
check "a backup of a PostgreSQL office exits 2" 2 $?
check "and names pg_dump" 1 "$(grep -c 'pg_dump' "$dir/err")"
"$wrenhaven" backup --db "$db" --to "$dir/p.bak" --pages 0 >/dev/null 2>&1
check "--pages 0 exits 2" 2 $?
"$wrenhaven" backup --db "$db" >/dev/null 2>&1
check "backup without --to exits 2" 2 $?
"$wrenhaven" backup --db "$db" --to "$dir/slow.bak" --pages 1 --pause 0 >/dev/null
check "a backup of a page at a time is the same office" \
  "$(sqlite3 "$bak" 'select group_concat(personAccount) from HR_person')" \
  "$(sqlite3 "$dir/slow.bak" 'select group_concat(personAccount) from HR_person')"

restored=$dir/restored.db
"$wrenhaven" init --db "$restored" --from "$bak" >/dev/null
check "init --from exits 0" 0 $?
out=$("$wrenhaven" call --db "$restored" --server REQUEST_METHOD=POST --server REMOTE_ADDR=127.0.0.1 \
  --form LoginName=ann --form LoginPwd=ann123 Wrenhaven.Login LoginMain)
check "the restored office signs in" 1 \
  "$(echo "$out" | python3 -c 'import json,sys; print(json.load(sys.stdin)["session"].get("PersonID"))')"
"$wrenhaven" init --db "$db" --from "$bak" 2>"$dir/err" >/dev/null
check "a restore onto an office with people exits 2" 2 $?
check "and says so" 1 "$(grep -c 'already holds people' "$dir/err")"
"$wrenhaven" init --db "$dir/x.db" --from "$bak" --demo >/dev/null 2>&1
check "--from with --demo exits 2" 2 $?
"$wrenhaven" init --db "$dir/y.db" --from "$dir/missing.bak" >/dev/null 2>&1
check "a restore of a missing backup exits 2" 2 $?
check "and leaves no file" "" "$(ls "$dir" | grep -E '^(x|y)\.db|partial')"
"$wrenhaven" init --db postgresql://127.0.0.1:1/office --from "$bak" 2>"$dir/err" >/dev/null
check "a restore into PostgreSQL exits 2" 2 $?
check "and names pg_restore" 1 "$(grep -c 'pg_restore' "$dir/err")"

# `call` writes the audit trail for the classes' changes, naming the
# session's person and REMOTE_ADDR; a failed change writes no row.
aud=$dir/audit.db
"$wrenhaven" init --db "$aud" --demo >/dev/null
"$wrenhaven" call --db "$aud" --session PersonID=9 --server REMOTE_ADDR=10.1.2.3 \
  Wrenhaven.RoleRight UpdatePersonRoles 8 '"4,5"' >/dev/null
check "call of a change exits 0" 0 $?
check "call writes its audit row" '9|ivy|10.1.2.3|person_role.update|8|{"PersonID":8,"RoleIDs":[]}|{"PersonID":8,"RoleIDs":[4,5]}' \
  "$(sqlite3 "$aud" "select PersonID,PersonAccount,ClientIP,AuditKind,AuditTarget,BeforeValue,AfterValue from SYS_Audit")"
"$wrenhaven" call --db "$aud" Wrenhaven.Function AddData Reports '' 1 2 Office /apps/reports >/dev/null
check "an add without a session names nobody" '|function.add|19|Reports' \
  "$(sqlite3 "$aud" "select PersonID,AuditKind,AuditTarget,json_extract(AfterValue,'$.FunName') from SYS_Audit where AuditID=2")"
"$wrenhaven" call --db "$aud" Wrenhaven.Menu DelData '"x"' >/dev/null
check "a refused change exits 1" 1 $?
"$wrenhaven" call --db "$aud" Wrenhaven.Menu GetData 2 >/dev/null
check "reads and refusals write no row" 2 "$(sqlite3 "$aud" "select count(*) from SYS_Audit")"

# Old login records: exported (the typed passwords of old failures masked),
# pruned once written, the count printed; refusals exit 2.
sqlite3 "$aud" "insert into HR_Login (LoginAccount,LoginPwd,LoginOK,loginTime) values ('ann','old secret',0,'2020-01-02 03:04:05'),('ann','******',1,'2020-01-03 03:04:05'),('ben','******',1,'2031-01-01 00:00:00')"
out=$("$wrenhaven" logins --db "$aud" --before 2025-01-01 --export "$dir/logins.csv" --prune 2>/dev/null)
check "logins exits 0" 0 $?
check "logins counts" "Exported 2 login records older than 2025-01-01 to $dir/logins.csv
Deleted 2 login records older than 2025-01-01 from $aud" "$out"
check "the export masks every password" "0 2" "$(grep -c 'old secret' "$dir/logins.csv") $(grep -c ',\*\*\*\*\*\*,' "$dir/logins.csv")"
check "the newer record stays" ben "$(sqlite3 "$aud" "select group_concat(LoginAccount) from HR_Login")"
check "the export is its owner's alone" 600 "$(stat -c %a "$dir/logins.csv")"
"$wrenhaven" logins --db "$aud" --before 2025-01-01 --export "$dir/logins.csv" >/dev/null 2>"$dir/err"
check "an existing export file exits 2" 2 $?
check "and says so" 1 "$(grep -c 'File exists' "$dir/err")"
"$wrenhaven" logins --db "$aud" --before 'last year' --prune >/dev/null 2>&1
check "a bad date exits 2" 2 $?
"$wrenhaven" logins --db "$aud" --before 2025-01-01 >/dev/null 2>&1
check "neither --export nor --prune exits 2" 2 $?
out=$("$wrenhaven" audit --db "$aud" --before 2100-01-01 --export "$dir/audit.csv")
check "audit exports" "Exported 2 audit trail rows older than 2100-01-01 to $dir/audit.csv" "$out"
check "audit's export has a header and its rows" 3 "$(grep -c $'\r$' "$dir/audit.csv")"
check "an export alone deletes nothing" 2 "$(sqlite3 "$aud" "select count(*) from SYS_Audit")"
timeout 20 "$wrenhaven" serve --db "$aud" --keep-logins-export "$dir" --listen 127.0.0.1:0 >/dev/null 2>&1
check "--keep-logins-export without --keep-logins exits 2" 2 $?

echo "cli: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
