#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$top/scripts/setup.sh"
bash "$top/scripts/build.sh" "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
exec "$top/build/bin/vorn-sarn" "$@"
