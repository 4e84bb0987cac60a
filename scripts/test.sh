#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite: the unit
# and behavioural tests (on SQLite, and on PostgreSQL in a throw-away
# cluster), the same tests under AddressSanitizer and UndefinedBehavior-
# Sanitizer, the browser tests, and each fuzzing harness for 20 seconds. A
# second run reuses the builds.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

bash scripts/deps.sh || exit 1

total=0
failures=0
record() {  # record LOGFILE: add a ctest summary to the totals
  local line n f
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$1" | tail -n 1)
  if [ -z "$line" ]; then
    failures=$((failures + 1))
    return
  fi
  n=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  f=$(sed -E 's/.*, ([0-9]+) tests failed.*/\1/' <<<"$line")
  total=$((total + n))
  failures=$((failures + f))
}

run_ctest() {  # run_ctest BUILD_DIR LABEL [ctest args...]
  local dir=$1 label=$2 log
  shift 2
  log=$(mktemp)
  echo "== $label"
  ctest --test-dir "$dir" --output-on-failure -j 2 "$@" 2>&1 | tee "$log"
  record "$log"
  rm -f "$log"
}

# PostgreSQL: a throw-away cluster on a local port for the length of the
# run; the behavioural suites then run on both databases.
pgdir=$(mktemp -d /tmp/wrenhaven-pg.XXXXXX)
trap 'bash scripts/pg-test-cluster.sh stop "$pgdir" >/dev/null 2>&1; rm -rf "$pgdir"' EXIT
if [ -x scripts/pg-test-cluster.sh ]; then
  if address=$(bash scripts/pg-test-cluster.sh start "$pgdir" 55432); then
    export WRENHAVEN_TEST_POSTGRES=$address
  else
    echo "the PostgreSQL test cluster did not start"
    failures=$((failures + 1))
  fi
fi

echo "== build (warnings are errors)"
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWRENHAVEN_WERROR=ON || exit 1
run_ctest build "tests"

echo "== sanitizer build (AddressSanitizer, UndefinedBehaviorSanitizer)"
bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DWRENHAVEN_SANITIZE=ON \
  -DWRENHAVEN_BENCH=OFF -DWRENHAVEN_WERROR=ON || exit 1
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_ctest build-asan "tests under the sanitizers"

if [ -x tests/e2e/run.sh ]; then
  echo "== browser tests"
  log=$(mktemp)
  bash tests/e2e/run.sh "$top/build" 2>&1 | tee "$log"
  line=$(grep -E '^e2e: [0-9]+ passed, [0-9]+ failed' "$log" | tail -n 1)
  if [ -n "$line" ]; then
    total=$((total + $(sed -E 's/^e2e: ([0-9]+) passed, ([0-9]+) failed.*/\1+\2/' <<<"$line")))
    failures=$((failures + $(sed -E 's/^e2e: [0-9]+ passed, ([0-9]+) failed.*/\1/' <<<"$line")))
  else
    failures=$((failures + 1))
  fi
  rm -f "$log"
fi

echo "== fuzzers (20 seconds each)"
log=$(mktemp)
bash scripts/fuzz.sh 20 2>&1 | tee "$log"
line=$(grep -E '^fuzz: [0-9]+ passed, [0-9]+ failed' "$log" | tail -n 1)
if [ -n "$line" ]; then
  total=$((total + $(sed -E 's/^fuzz: ([0-9]+) passed, ([0-9]+) failed.*/\1+\2/' <<<"$line")))
  failures=$((failures + $(sed -E 's/^fuzz: [0-9]+ passed, ([0-9]+) failed.*/\1/' <<<"$line")))
else
  failures=$((failures + 1))
fi
rm -f "$log"

echo "wrenhaven: $((total - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
