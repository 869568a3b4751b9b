#!/usr/bin/env bash
# Renews the pictures of the user manual (docs/*.png) from the program itself: starts the crate
# simulator and Tesmar SNMP Control under a virtual X display, opens every window through its
# menu or shortcut, as an operator would, and saves each window as a PNG.
#
#   bash scripts/manual-screenshots.sh [OUT_DIR]     default OUT_DIR: docs/ of this tree
#   TESMAR_PALETTE=dark bash scripts/manual-screenshots.sh /tmp/dark
#                                                    the same with the program's dark palette
#   ONLY="trends journal" bash scripts/manual-screenshots.sh
#                                                    renews only these pictures (names without .png)
#   BUILD_DIR as for build.sh (bin/tesmarcontrol, bin/mpod-sim and lib/ must be built).
#
# Needs xvfb, xdotool and imagemagick: bash scripts/install-deps.sh docs. The program runs with
# settings and data folders of its own; nothing of the user's is read or changed. A window that
# does not appear is reported and skipped; the exit status is then 1.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$top/docs}
mkdir -p "$out"
out=$(cd "$out" && pwd)
build_dir=${BUILD_DIR:-$top/build}
case "$build_dir" in /*) ;; *) build_dir=$top/$build_dir ;; esac

for tool in xvfb-run xdotool import; do
  command -v "$tool" >/dev/null || { echo "manual-screenshots: $tool is missing (bash scripts/install-deps.sh docs)" >&2; exit 2; }
done
for file in bin/tesmarcontrol bin/mpod-sim lib/libWIENER_SNMP.so; do
  [ -e "$build_dir/$file" ] || { echo "manual-screenshots: $build_dir/$file is missing; build it first" >&2; exit 2; }
done

# Everything below runs on a virtual display of its own.
if [ -z "${MANUAL_SCREENSHOTS_DISPLAY:-}" ]; then
  MANUAL_SCREENSHOTS_DISPLAY=1 exec xvfb-run -a -s '-screen 0 1280x900x24' bash "$0" "$out"
fi

work=$(mktemp -d)
sim_pid=
program_pid=
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

export LD_LIBRARY_PATH="$build_dir/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
export MIBS=
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_CACHE_HOME=$work/cache
mkdir -p "$XDG_CONFIG_HOME/Tesmar" "$XDG_DATA_HOME"
# Pictures in one font and size whatever the desktop of whoever renews them.
export QT_QPA_PLATFORMTHEME= QT_SCALE_FACTOR=1 QT_FONT_DPI=96
failed=0

# The simulator on a port it picks itself; its control channel is a FIFO held open here.
mkfifo "$work/control"
exec 3<>"$work/control"
"$build_dir/bin/mpod-sim" --listen 127.0.0.1:0 <&3 >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do
  grep -q '^listening' "$work/sim.log" && break
  sleep 0.1
done
port=$(sed -n 's/^listening 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/sim.log")
[ -n "$port" ] || { echo "manual-screenshots: the crate simulator did not start" >&2; cat "$work/sim.log" >&2; exit 1; }
export TESMAR_SNMP_PORT=$port

# start_program [ARGS...]: starts the program from its working folder and waits for its window.
main_window=
start_program() {
  (cd "$build_dir/run" && exec "$build_dir/bin/tesmarcontrol" "$@") >"$work/program.log" 2>&1 &
  program_pid=$!
  main_window=$(wait_window "Tesmar SNMP Control Version" 30) || {
    echo "manual-screenshots: the main window did not appear" >&2
    cat "$work/program.log" >&2
    exit 1
  }
  # Connected, values read, the first channel chosen.
  sleep 4
}

stop_program() {
  kill "$program_pid" 2>/dev/null
  wait "$program_pid" 2>/dev/null
  program_pid=
}

# wait_window TITLE_PATTERN SECONDS: the id of a visible window whose title matches.
wait_window() {
  local pattern=$1 seconds=$2 id
  for _ in $(seq $((seconds * 10))); do
    id=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | tail -1)
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# keys KEY...: types keys into the main window.
keys() {
  xdotool windowfocus --sync "$main_window" 2>/dev/null
  for key in "$@"; do
    xdotool key "$key"
    sleep 0.3
  done
}

# shoot FILE TITLE_PATTERN KEY...: opens a window with the keys, saves it as FILE.png and
# closes it again with Escape.
shoot() {
  local file=$1 pattern=$2 id
  shift 2
  wanted "$file" || return 0
  keys "$@"
  if ! id=$(wait_window "$pattern" 10); then
    echo "manual-screenshots: no window \"$pattern\" after $*: $file.png not renewed" >&2
    failed=1
    xdotool key Escape
    return
  fi
  sleep 1.5 # filled by the refresh
  import -window "$id" "$out/$file.png"
  echo "$out/$file.png"
  xdotool windowfocus --sync "$id" 2>/dev/null
  xdotool key Escape
  sleep 0.5
}

# wanted NAME: true when NAME.png is to be renewed in this run.
wanted() {
  [ -z "${ONLY:-}" ] || [[ " $ONLY " == *" $1 "* ]]
}

# choose_first_channel: clicks the first channel row, as the operator chooses a channel.
choose_first_channel() {
  xdotool mousemove --window "$main_window" 250 70 click 1
  sleep 1
}

# answer_prompt KEY TEXT: opens a prompt of the main window with KEY and answers it with TEXT.
answer_prompt() {
  local prompt
  keys "$1"
  if prompt=$(wait_window "^Tesmar SNMP Control$" 10); then
    xdotool windowfocus --sync "$prompt" 2>/dev/null
    xdotool key ctrl+a
    xdotool type --delay 50 "$2"
    xdotool key Return
    sleep 1
  fi
}

start_program
# Channels 0 to 3 chosen, set to 1000 V and switched on: the pictures show ramping channels, the
# trends their rise, the journal the writes.
choose_first_channel
xdotool mousemove --window "$main_window" 250 130 keydown shift click 1 keyup shift
sleep 0.5
answer_prompt v 1000
keys o
sleep 3
if wanted main-window; then
  import -window "$main_window" "$out/main-window.png"
  echo "$out/main-window.png"
fi
# The windows of one channel need one chosen channel.
choose_first_channel
shoot overview "System Overview" F5
shoot crates "^Crates" F4
shoot supplies "Supplies, Temperature and Limits" u
shoot module-status "Module Status / Control" ctrl+s
shoot channel-status "Channel [0-9]* Status / Control" s
shoot current-trip "Set Current Trip" t
shoot external-inhibit "External Inhibit Settings" n
shoot trends "^Trends" ctrl+shift+t
shoot set-voltage "^Tesmar SNMP Control$" v
shoot journal "^Journal" ctrl+j
# Module menu, from its end upwards: the last entry is Settings...
shoot resolution-settings "Resolution Settings" alt+m Up Return
# File menu, from its end upwards: Quit, Statistic..., Automatic..., Script...
shoot statistic "^Statistic" alt+f Up Up Return
shoot automatic "Automatic Control" alt+f Up Up Up Return
shoot script-console "Script Console" alt+f Up Up Up Up Return
# The connection dialogs and prompts are titled with the program's name.
shoot select-controller "^Tesmar SNMP Control$" F6
shoot connection-settings "Connection Settings" alt+f Down Return
shoot password "^Tesmar SNMP Control$" ctrl+p
shoot select-channel "^Tesmar SNMP Control$" c
shoot close-question "^Tesmar SNMP Control$" ctrl+q
stop_program

# The window on a VME crate (stand-in bridge library and simulated crate): the module list with
# the base addresses, and the windows only VME modules have.
if wanted main-window-vme || wanted variable-groups || wanted interlock-out || wanted bounds || wanted factory-settings || wanted firmware-mode; then
  LD_LIBRARY_PATH="$build_dir/lib/vme-standin:$LD_LIBRARY_PATH" TESMAR_VME_SIM_CONFIG=$top/sim/vme/demo.json \
    start_program --controller vmusb
  choose_first_channel
  if wanted main-window-vme; then
    import -window "$main_window" "$out/main-window-vme.png"
    echo "$out/main-window-vme.png"
  fi
  shoot variable-groups "Variable Groups" ctrl+g
  shoot interlock-out "InterlockOut" F7
  shoot bounds "Bounds" b
  shoot factory-settings "Factory Settings" F11
  # The special mode needs the service password.
  if wanted firmware-mode; then
    answer_prompt ctrl+p pix7cloud
    shoot firmware-mode "Special Mode" F12
  fi
  stop_program
fi

# The dark palette of the main window, for the section on colours.
if [ -z "${TESMAR_PALETTE:-}" ] && wanted main-window-dark; then
  TESMAR_PALETTE=dark start_program
  import -window "$main_window" "$out/main-window-dark.png"
  echo "$out/main-window-dark.png"
  stop_program
fi
exit "$failed"
