#!/usr/bin/env bash
# Installs every Debian package the project needs (idempotent, non-interactive)
# and the pinned npm packages of the test peers. Safe to run again.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
top="$(cd "$here/.." && pwd)"

wanted=()
for list in "$here"/packages/*.txt; do
  while IFS= read -r line; do
    line="${line%%#*}"
    line="$(echo "$line" | tr -d '[:space:]')"
    [ -n "$line" ] && wanted+=("$line")
  done <"$list"
done

missing=()
for pkg in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

# Node and npm serve the test peers only. The machine image may bring its own
# Node build, which Debian's npm package conflicts with, so install them only
# when no node is present.
if ! command -v node >/dev/null 2>&1; then missing+=(nodejs); fi
if ! command -v npm >/dev/null 2>&1; then missing+=(npm); fi

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${#missing[@]} Debian packages: ${missing[*]}"
  # sudo drops the caller's environment, so the front end is passed through
  # env; kept configuration files never stop the install with a question.
  apt=("${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get)
  "${apt[@]}" update -qq
  "${apt[@]}" install -y -qq --no-install-recommends \
    -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold "${missing[@]}"
else
  echo "setup: every Debian package is installed"
fi

# npm test peers: every folder under tests/ with a lockfile gets a clean install,
# skipped when its node_modules already matches the lockfile.
while IFS= read -r lock; do
  dir="$(dirname "$lock")"
  stamp="$dir/node_modules/.lock-stamp"
  sum="$(sha256sum "$lock" | cut -d' ' -f1)"
  if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$sum" ]; then
    continue
  fi
  echo "setup: npm ci in ${dir#$top/}"
  (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error)
  echo "$sum" >"$stamp"
done < <(find "$top/tests" -name package-lock.json -not -path '*/node_modules/*' 2>/dev/null | sort)
