#!/usr/bin/env bash
# Installs what is missing, then configures and builds.
#   BUILD_DIR (default build), TESMAR_SANITIZE (e.g. address,undefined or thread),
#   BUILD_TARGETS (default: everything)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/install-deps.sh"

build_dir=${BUILD_DIR:-$top/build}
case "$build_dir" in /*) ;; *) build_dir=$top/$build_dir ;; esac
args=(-S "$top" -B "$build_dir" -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE:-RelWithDebInfo})
[ -n "${TESMAR_SANITIZE:-}" ] && args+=("-DTESMAR_SANITIZE=$TESMAR_SANITIZE")
if [ ! -f "$build_dir/CMakeCache.txt" ] || [ -n "${TESMAR_SANITIZE:-}" ]; then
  cmake "${args[@]}" >/dev/null
fi
jobs=$(nproc 2>/dev/null || echo 2)
if [ -n "${BUILD_TARGETS:-}" ]; then
  # shellcheck disable=SC2086
  cmake --build "$build_dir" -j"$jobs" --target $BUILD_TARGETS
else
  cmake --build "$build_dir" -j"$jobs"
fi
