#!/usr/bin/env bash
# `cmake --install` into a scratch prefix, then the installed program: icons, man pages, desktop
# entry and AppStream metainfo in place and valid; it answers --help and
# --version without a display, names the installed manual, and started headless (without
# LD_LIBRARY_PATH, from a folder without a manual) loads the SNMP library installed with it and
# talks to the installed simulator. Nothing a test library or stand-in is installed.
#   InstallTest.sh BUILD_DIR
set -euo pipefail
build_dir=$1
work=$(mktemp -d)
prefix=$work/prefix
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
  cat "$work/sim.log" "$work/program.log" >&2 2>/dev/null || true
  exit 1
}

cmake --install "$build_dir" --prefix "$prefix" >"$work/install.log" || fail "cmake --install failed"
for file in bin/tesmarcontrol bin/tesmar-script bin/mpod-sim lib/tesmarcontrol/libWIENER_SNMP.so \
  share/tesmarcontrol/documentation/index.html share/applications/tesmarcontrol.desktop \
  share/icons/hicolor/scalable/apps/tesmarcontrol.svg share/metainfo/org.tesmar.tesmarcontrol.metainfo.xml; do
  [ -e "$prefix/$file" ] || fail "$file was not installed"
done
# Every picture the installed manual shows is installed beside it.
manual_dir=$prefix/share/tesmarcontrol/documentation
for picture in $(grep -o '<img[^>]*src="[^"]*"' "$manual_dir/index.html" | sed 's/.*src="\([^"]*\)"/\1/'); do
  [ -e "$manual_dir/$picture" ] || fail "the manual shows $picture, which was not installed"
done
# The icon in the usual sizes, each PNG as large as its folder says (width and height from the
# IHDR chunk, bytes 16 to 23).
for size in 16 22 24 32 48 64 128 256; do
  png=$prefix/share/icons/hicolor/${size}x${size}/apps/tesmarcontrol.png
  [ -e "$png" ] || fail "no ${size}x${size} icon"
  dimensions=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
  [ "$dimensions" = "${size}x${size}" ] || fail "the ${size}x${size} icon is $dimensions"
done
for page in tesmarcontrol tesmar-script mpod-sim; do
  head -1 "$prefix/share/man/man1/$page.1" | grep -q "^\.TH ${page^^} 1 " || fail "no man page for $page"
done
# What desktops and software centres read must pass their validators.
desktop-file-validate "$prefix/share/applications/tesmarcontrol.desktop" >"$work/desktop.log" 2>&1 ||
  fail "desktop-file-validate: $(cat "$work/desktop.log")"
appstreamcli validate --no-net "$prefix/share/metainfo/org.tesmar.tesmarcontrol.metainfo.xml" >"$work/appstream.log" 2>&1 ||
  fail "appstreamcli validate: $(cat "$work/appstream.log")"
grep -qx "<launchable type=\"desktop-id\">tesmarcontrol.desktop</launchable>" <(sed 's/^ *//' \
  "$prefix/share/metainfo/org.tesmar.tesmarcontrol.metainfo.xml") || fail "the metainfo does not launch the desktop entry"
others=$(find "$prefix" -name '*.so*' ! -name libWIENER_SNMP.so; find "$prefix" -name 'tst_*' -o -name '*_probe' -o -name 'bench_*')
[ -z "$others" ] || fail "installed what only the build needs: $others"
grep -qx "Exec=$prefix/bin/tesmarcontrol" "$prefix/share/applications/tesmarcontrol.desktop" ||
  fail "the desktop entry does not start the installed program"

cd "$work"
mkdir -p home elsewhere
export HOME=$work/home XDG_CONFIG_HOME=$work/home/config XDG_DATA_HOME=$work/home/data
version=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u LD_LIBRARY_PATH "$prefix/bin/tesmarcontrol" --version)
[ "$version" = "Tesmar SNMP Control Version 1.0.8.6" ] || fail "--version answered '$version'"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u LD_LIBRARY_PATH "$prefix/bin/tesmarcontrol" --help >"$work/help.txt" ||
  fail "--help failed"
grep -q '^Usage: tesmarcontrol' "$work/help.txt" || fail "--help printed no usage"
grep -qx "User manual (Help > Index, F1): $prefix/share/tesmarcontrol/documentation/index.html" "$work/help.txt" ||
  fail "--help does not name the installed manual: $(tail -1 "$work/help.txt")"
grep -qx "Settings: $XDG_CONFIG_HOME/Tesmar/tesmarcontrol.ini" "$work/help.txt" ||
  fail "--help does not name the settings file under XDG_CONFIG_HOME: $(grep '^Settings' "$work/help.txt")"

mkfifo "$work/control"
exec 3<>"$work/control"
env -u LD_LIBRARY_PATH "$prefix/bin/mpod-sim" --listen 127.0.0.1:0 <&3 >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  grep -q '^listening' "$work/sim.log" && break
  sleep 0.1
done
port=$(sed -n 's/^listening 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/sim.log")
[ -n "$port" ] || fail "the installed simulator did not start"

status=0
# Quiet by default: the library's path is one of the debug lines of tesmar.snmp.
(cd "$work/elsewhere" && QT_QPA_PLATFORM=offscreen TESMAR_SNMP_PORT=$port MIBS= QT_LOGGING_RULES="tesmar.snmp.debug=true" \
  timeout -s TERM 6 env -u LD_LIBRARY_PATH "$prefix/bin/tesmarcontrol") >"$work/program.log" 2>&1 || status=$?
[ "$status" -eq 124 ] || fail "the installed program ended by itself with status $status"
grep -qF "$prefix/lib/tesmarcontrol/libWIENER_SNMP.so" "$work/program.log" ||
  fail "the installed program did not load the library installed with it"

# The windowless script runner, installed beside the program, reaches the crate the same way.
printf 'script.print("serial " + mod.serialNumber());\n1 + 1\n' >"$work/probe.js"
env -u LD_LIBRARY_PATH TESMAR_SNMP_PORT=$port MIBS= "$prefix/bin/tesmar-script" --crate 127.0.0.1 "$work/probe.js" \
  >"$work/script.log" 2>&1 || fail "the installed tesmar-script failed: $(cat "$work/script.log")"
grep -qx "Script exited with result 2" "$work/script.log" || fail "tesmar-script answered: $(cat "$work/script.log")"

echo quit >&3
wait "$sim_pid" || true
sim_pid=
served=$(sed -n 's/^served requests=\([0-9]*\) .*/\1/p' "$work/sim.log")
[ -n "$served" ] && [ "$served" -gt 10 ] || fail "the simulator served ${served:-no} requests"
echo "PASS: installed into $prefix; the program loaded its library and reached the crate ($served requests)"
