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
echo "install: 2 passed, 0 failed"
