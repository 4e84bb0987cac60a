#!/usr/bin/env bash
# Configures (once) and builds one build folder: build.sh FOLDER [cmake options...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$1
shift
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$top" -B "$dir" -G Ninja "$@"
fi
cmake --build "$dir" -j "$(nproc)"
