#!/usr/bin/env bash
# Builds the fuzzing harnesses with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for SECONDS (default 60), one
# after another. Inputs found along the way go to a scratch folder, not to
# the checked-in corpus; an input that breaks a harness is kept in
# build-fuzz/findings/ and named in the output. The last line is
# "fuzz: N passed, M failed".
#   scripts/fuzz.sh [SECONDS] [HARNESS...]
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

seconds=${1:-60}
shift || true
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(statement wire session_text json_variant csv)

if ! command -v clang++ >/dev/null 2>&1; then
  echo "clang++ is missing: run scripts/deps.sh"
  echo "fuzz: 0 passed, ${#harnesses[@]} failed"
  exit 1
fi

launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
build=build-fuzz
if ! cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  "-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link" \
  -DWRENHAVEN_SANITIZE=ON -DWRENHAVEN_FUZZ=ON -DWRENHAVEN_TESTS=OFF \
  -DWRENHAVEN_BENCH=OFF "${launcher[@]}" >/dev/null 2>&1 ||
  ! cmake --build "$build" -j 2 --target fuzzers >"$build/build.log" 2>&1; then
  tail -n 30 "$build/build.log"
  echo "the fuzzing harnesses did not build"
  echo "fuzz: 0 passed, ${#harnesses[@]} failed"
  exit 1
fi

findings=$build/findings
mkdir -p "$findings"
passed=0
failed=0
for name in "${harnesses[@]}"; do
  scratch=$(mktemp -d /tmp/wrenhaven-fuzz-corpus.XXXXXX)
  echo "== fuzz $name (${seconds}s)"
  log=$build/fuzz-$name.log
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1 \
      -dict="fuzz/$name.dict" -artifact_prefix="$findings/$name-" \
      "$scratch" "fuzz/corpus/$name" >"$log" 2>&1
  rc=$?
  rm -rf "$scratch"
  if [ $rc -eq 0 ]; then
    passed=$((passed + 1))
    grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE' "$log" | tail -n 2
  else
    failed=$((failed + 1))
    echo "FAILED fuzz $name (exit $rc); the log: $log"
    grep -v -a -E '^(#[0-9]|INFO|MS:|base unit|0x|\\x|    |\s+NEW_FUNC)' "$log" | tail -n 25
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
