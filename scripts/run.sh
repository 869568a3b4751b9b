#!/usr/bin/env bash
# Builds what is missing, then starts Tesmar SNMP Control from its working folder (build/run,
# which holds the splash image and the documentation).
#
#   bash scripts/run.sh                 demo: starts the crate simulator (build/bin/mpod-sim) on
#                                       127.0.0.1 with its default crate and connects to it. The
#                                       demo keeps its own settings in build/demo-config; the
#                                       user's own settings are not touched.
#   bash scripts/run.sh 10.0.0.5 [...]  a real crate at that address, with the user's own
#                                       settings ("IpAddress" is set to the address); no simulator.
#   bash scripts/run.sh 10.0.0.5:1161   the same with another SNMP port (for this run only).
#   bash scripts/run.sh --opc [FILE.json]
#                                       demo on the stand-in OPC server (build/lib/opc-standin,
#                                       put on the library path for this run only) with the
#                                       layout sim/opc/demo.json or FILE.json; the program runs
#                                       with --controller opc and the demo settings.
#   bash scripts/run.sh --vme [vmusb|v1718] [FILE.json]
#                                       demo on the simulated VME crate behind the stand-in
#                                       bridge libraries (build/lib/vme-standin, on the library
#                                       path for this run only) with the crate sim/vme/demo.json
#                                       or FILE.json, through a VM-USB (default) or a V1718; the
#                                       program runs with --controller vmusb|v1718.
#
# Further arguments go to the program. The simulator stops when the program ends.
#   BUILD_DIR as for build.sh; RUN_SKIP_BUILD=1 uses the build as it is (the script's own test
#   runs from inside that build).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
[ -n "${RUN_SKIP_BUILD:-}" ] || bash "$top/scripts/build.sh"
build_dir=${BUILD_DIR:-$top/build}
case "$build_dir" in /*) ;; *) build_dir=$top/$build_dir ;; esac
export LD_LIBRARY_PATH="$build_dir/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
export MIBS=

# The program's main settings file (QSettings, INI format, organisation "Tesmar").
settings_file() {
  echo "$1/Tesmar/tesmarcontrol.ini"
}

# set_ini_key FILE KEY VALUE: sets KEY in the [General] group of a QSettings INI file, keeping
# every other line.
set_ini_key() {
  local file=$1 key=$2 value=$3 tmp
  mkdir -p "$(dirname "$file")"
  touch "$file"
  tmp=$(mktemp "$file.XXXXXX")
  awk -v key="$key" -v value="$value" '
    BEGIN { done = 0; general = 0; seen = 0 }
    /^\[.*\]$/ {
      if (general && !done) { print key "=" value; done = 1 }
      general = ($0 == "[General]"); if (general) seen = 1
      print; next
    }
    general && index($0, key "=") == 1 { if (!done) print key "=" value; done = 1; next }
    { print }
    END {
      if (!done) {
        if (!seen) print "[General]"
        else if (!general) print "[General]"
        print key "=" value
      }
    }' "$file" > "$tmp"
  mv "$tmp" "$file"
}

program_pid=
sim_pid=
work=
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  [ -n "$work" ] && rm -rf "$work"
  return 0
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
trap 'exit 129' HUP

run_program() {
  cd "$build_dir/run"
  "$build_dir/bin/tesmarcontrol" "$@" &
  program_pid=$!
  local status=0
  wait "$program_pid" || status=$?
  program_pid=
  return "$status"
}

if [ "${1:-}" = --opc ]; then
  shift
  config=$top/sim/opc/demo.json
  if [[ ${1:-} == *.json ]]; then
    config=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
    shift
  fi
  export XDG_CONFIG_HOME=$build_dir/demo-config
  export LD_LIBRARY_PATH="$build_dir/lib/opc-standin:$LD_LIBRARY_PATH"
  export TESMAR_OPC_SIM_CONFIG=$config
  echo "run.sh: stand-in OPC server with $config (settings in $XDG_CONFIG_HOME)"
  run_program --controller opc "$@"
  exit $?
fi

if [ "${1:-}" = --vme ]; then
  shift
  kind=vmusb
  if [ "${1:-}" = vmusb ] || [ "${1:-}" = v1718 ]; then
    kind=$1
    shift
  fi
  config=$top/sim/vme/demo.json
  if [[ ${1:-} == *.json ]]; then
    config=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
    shift
  fi
  export XDG_CONFIG_HOME=$build_dir/demo-config
  export LD_LIBRARY_PATH="$build_dir/lib/vme-standin:$LD_LIBRARY_PATH"
  export TESMAR_VME_SIM_CONFIG=$config
  echo "run.sh: simulated VME crate $config through $kind (settings in $XDG_CONFIG_HOME)"
  run_program --controller "$kind" "$@"
  exit $?
fi

if [[ ${1:-} =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+(:[0-9]+)?$ ]]; then
  # The program keeps a plain dotted quad; a port goes to the SNMP library for this run.
  address=${1%%:*}
  port=
  [[ $1 == *:* ]] && port=${1##*:}
  shift
  config_home=${XDG_CONFIG_HOME:-$HOME/.config}
  set_ini_key "$(settings_file "$config_home")" IpAddress "$address"
  if [ -n "$port" ]; then
    export TESMAR_SNMP_PORT=$port
  else
    unset TESMAR_SNMP_PORT
  fi
  run_program "$@"
  exit $?
fi

# Demo against the simulator. Its control channel (standard input) is a FIFO held open here, so
# the simulator does not see an end of input while the program runs.
export XDG_CONFIG_HOME=$build_dir/demo-config
set_ini_key "$(settings_file "$XDG_CONFIG_HOME")" IpAddress 127.0.0.1
work=$(mktemp -d)
mkfifo "$work/control"
exec 3<>"$work/control"
port=
for candidate in $(seq 16161 16180); do
  "$build_dir/bin/mpod-sim" --listen "127.0.0.1:$candidate" <&3 >"$work/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do
    grep -q '^listening' "$work/sim.log" && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  if grep -q '^listening' "$work/sim.log"; then
    port=$candidate
    break
  fi
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=
done
if [ -z "$port" ]; then
  echo "run.sh: the crate simulator did not start:" >&2
  cat "$work/sim.log" >&2
  exit 1
fi
echo "run.sh: crate simulator listening on 127.0.0.1:$port (settings in $XDG_CONFIG_HOME)"
export TESMAR_SNMP_PORT=$port
status=0
run_program "$@" || status=$?
exit "$status"
