#!/usr/bin/env bash
# Installs the build into a temporary prefix and builds a program against
# it twice: through the CMake package and through pkg-config.
set -eu
build=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
expected='(0 To 8) [1] [Null] [Null] [办公] [日常办公] [Office] [Everyday office work] [office.gif] [1]'

cmake --install "$build" --prefix "$work/prefix" >/dev/null
cmake -S "$here" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
out=$(LD_LIBRARY_PATH="$work/prefix/lib" "$work/cmake/consumer" "$work/a.db")
[ "$out" = "$expected" ] || { echo "CMake package: got $out"; exit 1; }

export PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig"
g++ "$here/consumer.cc" $(pkg-config --cflags --libs wrenhaven) -o "$work/pc-consumer"
out=$("$work/pc-consumer" "$work/b.db")
[ "$out" = "$expected" ] || { echo "pkg-config: got $out"; exit 1; }
# The service unit names the command where the configured prefix puts it
# and keeps its sandbox; systemd reads it (checked against the command as
# installed here, under the temporary prefix).
unit="$work/prefix/lib/systemd/system/wrenhaven.service"
[ -f "$unit" ] || { echo "no service unit at $unit"; exit 1; }
command=$(sed -n 's/^ExecStart=\([^ ]*\) serve .*/\1/p' "$unit")
case "$command" in
  /*/bin/wrenhaven) ;;
  *) echo "ExecStart runs \"$command\""; exit 1 ;;
esac
for setting in DynamicUser=yes StateDirectory=wrenhaven ProtectSystem=strict NoNewPrivileges=yes UMask=0077; do
  grep -qx "$setting" "$unit" || { echo "the unit lacks $setting"; exit 1; }
done
if command -v systemd-analyze >/dev/null 2>&1; then
  sed "s|$command|$work/prefix/bin/wrenhaven|g" "$unit" >"$work/wrenhaven.service"
  out=$(systemd-analyze verify "$work/wrenhaven.service" 2>&1 || true)
  [ -z "$out" ] || { echo "systemd-analyze: $out"; exit 1; }
fi
echo "install: 3 passed, 0 failed"
