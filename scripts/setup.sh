#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when they are missing.
# Runs as root or through sudo; does nothing when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config
  qt6-base-dev qt6-svg-dev libpugixml-dev libsqlite3-dev sqlite3 libsodium-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
  fonts-dejavu-core clang libclang-rt-14-dev clang-format
  xvfb xauth dbus at-spi2-core python3-pyatspi
  libsdbus-c++-dev python3-dbusmock
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  SUDO=()
elif command -v sudo >/dev/null 2>&1; then
  SUDO=(sudo)
else
  echo "setup: these packages are missing and neither root nor sudo is available: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -qq || true
"${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
