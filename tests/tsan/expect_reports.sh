#!/usr/bin/env bash
# Runs the hand-off program of this folder with the project's suppressions and checks what the race
# detector said, not only how the program ended: "racy" passes only when exactly one data race is
# reported and its two sides are the worker's write and the read on the GUI thread; "ordered" only
# when nothing is reported and the program ends with 0. A suppression that hid the GUI thread's
# stacks again would fail the first.
set -uo pipefail
program=$1 variant=$2 suppressions=$3
# Whatever the caller set, every report is counted and these suppressions are the ones in force.
export TSAN_OPTIONS="${TSAN_OPTIONS:-} halt_on_error=0 exitcode=66 log_path=stderr suppressions=$suppressions"
output=$(QT_QPA_PLATFORM=offscreen "$program" "$variant" 2>&1)
status=$?
printf '%s\n' "$output"
reports=$(grep -c '^WARNING: ThreadSanitizer:' <<<"$output")
races=$(grep -c '^WARNING: ThreadSanitizer: data race' <<<"$output")
fail() { echo "FAILED ($variant): $*"; exit 1; }
case "$variant" in
  racy)
    [ "$status" -eq 66 ] || fail "the program ended with $status, not with the detector's 66"
    [ "$reports" -eq 1 ] && [ "$races" -eq 1 ] || fail "$reports reports ($races data races), expected the one race"
    grep -q 'writeOnWorker' <<<"$output" || fail "the report does not name the worker's write (writeOnWorker)"
    grep -q 'readOnGuiThread' <<<"$output" || fail "the report does not name the GUI thread's read (readOnGuiThread)"
    grep -q "handedOver" <<<"$output" || fail "the report does not name the variable (handedOver)"
    ;;
  ordered)
    [ "$reports" -eq 0 ] || fail "$reports reports where the hand-off orders the write"
    [ "$status" -eq 0 ] || fail "the program ended with $status"
    ;;
  *) fail "unknown variant" ;;
esac
echo "PASSED ($variant)"
