#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, but only those that are
# missing, so a second run costs a dpkg query and nothing more.
#   bash scripts/install-deps.sh        what the build, the tests and the demo need
#   bash scripts/install-deps.sh docs   also what renewing the manual's pictures needs
#                                       (scripts/manual-screenshots.sh); the tests do not need it
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev
  qt6-declarative-dev qt6-charts-dev
  libgl-dev libxkbcommon-dev
  libsnmp-dev snmp
  xvfb xauth
  appstream desktop-file-utils librsvg2-bin
  clang-format git
  libqt6sql6-sqlite libqt6sql6-psql
  postgresql
)
for set in "$@"; do
  case "$set" in
    docs) packages+=(xdotool imagemagick fonts-dejavu-core) ;;
    *) echo "install-deps: unknown set '$set' (known: docs)" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
