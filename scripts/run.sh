#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tesmar SNMP Control from its working folder
# (build/run, which holds the splash image and the documentation).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/build.sh"
build_dir=${BUILD_DIR:-$top/build}
export LD_LIBRARY_PATH="$build_dir/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
export MIBS=
cd "$build_dir/run"
exec "$build_dir/bin/tesmarcontrol" "$@"
