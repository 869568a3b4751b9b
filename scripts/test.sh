#!/usr/bin/env bash
# Installs, builds and runs every test headless. Extra arguments go to ctest
# (for example: bash scripts/test.sh -R device -V).
#   BUILD_DIR, TESMAR_SANITIZE as for build.sh; CTEST_LABEL runs only tests with that label;
#   TEST_JOBS tests run at once (default: the number of processors). Every test has its own
#   ports, home and temporary folders; the few that must run alone say so (RUN_SERIAL).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/build.sh"
build_dir=${BUILD_DIR:-$top/build}
case "$build_dir" in /*) ;; *) build_dir=$top/$build_dir ;; esac
export QT_QPA_PLATFORM=offscreen
label=()
[ -n "${CTEST_LABEL:-}" ] && label=(-L "$CTEST_LABEL")
jobs=${TEST_JOBS:-$(nproc 2>/dev/null || echo 2)}
cd "$build_dir"
ctest --output-on-failure -j "$jobs" "${label[@]}" "$@"
