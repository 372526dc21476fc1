#!/usr/bin/env bash
# fuzz.sh BIN_DIR SECONDS: runs every fuzz target in BIN_DIR for SECONDS,
# four at a time, each from its seed corpus under tests/fuzz-corpus/<name>.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bin="$1"; seconds="$2"
shopt -s nullglob
targets=("$bin"/*)
if [ "${#targets[@]}" -eq 0 ]; then echo "no fuzz targets"; exit 0; fi
# The fuzz tree lets UBSan continue after a report; make any report fail the run.
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
pids=(); names=()
run_one() {
  local target="$1" name; name="$(basename "$target")"
  local corpus="$work/$name"; mkdir -p "$corpus"
  local seeds="$top/tests/fuzz-corpus/$name"
  local dirs=("$corpus"); [ -d "$seeds" ] && dirs+=("$seeds")
  "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=20 -print_final_stats=0 \
    -artifact_prefix="$work/$name-" "${dirs[@]}" >"$work/$name.log" 2>&1
}
failed=0
for target in "${targets[@]}"; do
  [ -x "$target" ] || continue
  run_one "$target" & pids+=("$!"); names+=("$(basename "$target")")
  if [ "${#pids[@]}" -ge 4 ]; then
    if ! wait "${pids[0]}"; then echo "FUZZ FAILED: ${names[0]}"; tail -40 "$work/${names[0]}.log"; failed=1; else echo "fuzz ok: ${names[0]}"; fi
    pids=("${pids[@]:1}"); names=("${names[@]:1}")
  fi
done
for i in "${!pids[@]}"; do
  if ! wait "${pids[$i]}"; then echo "FUZZ FAILED: ${names[$i]}"; tail -40 "$work/${names[$i]}.log"; failed=1; else echo "fuzz ok: ${names[$i]}"; fi
done
exit "$failed"
