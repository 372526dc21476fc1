#!/usr/bin/env bash
# build.sh DIR [cmake options...]: configures (once) and builds one build tree.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dir="$1"; shift
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$top" -B "$dir" -G Ninja "$@" >"$dir.configure.log" || { cat "$dir.configure.log"; exit 1; }
fi
cmake --build "$dir" --parallel "$(nproc)"
