#!/usr/bin/env bash
# Fails when a C or C++ file of the tree is not formatted as .clang-format says. Fix with
#   git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format -i
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/install-deps.sh"
cd "$top"
git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
echo "check-format: all files formatted"
