#!/usr/bin/env bash
# scripts/run.sh CRATE:PORT against a simulator started here: the program must talk to that
# crate (the simulator serves its requests) and the address must land in the program's own
# settings file. The program is ended by a time-out; nothing outside a scratch folder is touched.
#   RunScriptTest.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
work=$(mktemp -d)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  cat "$work/sim.log" "$work/run.log" >&2 2>/dev/null || true
  exit 1
}

mkfifo "$work/control"
exec 3<>"$work/control"
"$build_dir/bin/mpod-sim" --listen 127.0.0.1:0 <&3 >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  grep -q '^listening' "$work/sim.log" && break
  sleep 0.1
done
port=$(sed -n 's/^listening 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/sim.log")
[ -n "$port" ] || fail "the simulator did not start"

export HOME=$work/home XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=offscreen RUN_SKIP_BUILD=1
export BUILD_DIR=$build_dir TESMAR_SNMP_PORT=1
mkdir -p "$HOME"
status=0
timeout -s TERM 6 bash "$source_dir/scripts/run.sh" "127.0.0.1:$port" >"$work/run.log" 2>&1 || status=$?
[ "$status" -eq 124 ] || fail "run.sh ended by itself with status $status before the time-out"

echo quit >&3
wait "$sim_pid" || true
sim_pid=
served=$(sed -n 's/^served requests=\([0-9]*\) .*/\1/p' "$work/sim.log")
[ -n "$served" ] && [ "$served" -gt 10 ] || fail "the simulator served ${served:-no} requests"
grep -qx 'IpAddress=127.0.0.1' "$XDG_CONFIG_HOME/Tesmar/tesmarcontrol.ini" || fail "no IpAddress in tesmarcontrol.ini"
echo "PASS: run.sh reached the crate on port $port ($served requests)"
