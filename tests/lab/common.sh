# shellcheck shell=bash disable=SC2034
# Shared by the lab tests. Expects $lab_script (the lab) as the first test argument.
lab_script=$(readlink -f "$1")
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
python=/usr/bin/python3
peer="$here/lab_peer.py"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

check() {
  local what=$1
  shift
  if ! "$@"; then
    echo "FAILED: $what" >&2
    exit 1
  fi
}

# Waits (at most about 5 s) until a file holds a line.
wait_for_line() {
  local file=$1 line=$2 tries
  for ((tries = 0; tries < 100; tries++)); do
    grep -qx "$line" "$file" 2>/dev/null && return 0
    sleep 0.05
  done
  echo "no line '$line' in $file:" >&2
  cat "$file" >&2 || true
  return 1
}

namespaces_of() {
  ip netns list | awk '{print $1}' | grep -E "^$1-" || true
}

root_link_names() {
  ip -o link | awk -F': ' '{print $2}' | sort
}
