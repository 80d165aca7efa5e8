#!/usr/bin/env bash
# scripts/test takes long and starts by installing packages: --help prints its usage and an
# argument it does not know is refused, and neither starts anything. It runs here from a copy whose
# scripts/setup only leaves a mark, so a fault costs nothing.
#
#   test_script_arguments_test.sh SCRIPTS_TEST
set -uo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/scripts"
cp "${1:?usage: test_script_arguments_test.sh SCRIPTS_TEST}" "$work/scripts/test"
printf '#!/bin/sh\ntouch "%s/started"\nexit 1\n' "$work" >"$work/scripts/setup"
chmod +x "$work/scripts/test" "$work/scripts/setup"
failures=0
for row in "--help 0 Usage" "-h 0 Usage" "--quick 2 unknown"; do
  read -r argument expected says <<<"$row"
  rm -f "$work/started"
  status=0
  output=$(timeout 20 "$work/scripts/test" "$argument" 2>&1) || status=$?
  if [ "$status" != "$expected" ] || [ -e "$work/started" ] || [[ $output != *"$says"* ]]; then
    echo "FAILED: scripts/test $argument: status $status (not $expected), started: $([ -e "$work/started" ] && echo yes || echo no), said: $output" >&2
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ]
