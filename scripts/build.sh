#!/usr/bin/env bash
# build.sh DIR [cmake options...]: configures (once) and builds one build tree.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dir="$1"; shift
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$top" -B "$dir" -G Ninja "$@" >/dev/null
fi
cmake --build "$dir" --parallel "$(nproc)"
