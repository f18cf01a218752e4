#!/usr/bin/env bash
# Installs Telvane on the device (the default one, or $TELVANE_DEVICE) when needed and starts it,
# with the phone's home screen beside it showing Telvane's item.
set -euo pipefail
build=${1:-build}
tool="$build/tools/telvane-device"
home="$build/home/telvane-today"
if ! "$tool" reg get HKLM 'SOFTWARE\Orvella\Telvane' mgr_config >/dev/null 2>&1 ||
   ! "$tool" reg get HKLM 'Software\Microsoft\Today\Items\Telvane' DLL >/dev/null 2>&1; then
  "$tool" install
elif [ -f "$build/today/libTodayTelvane.so" ]; then
  # The home-screen item as last built.
  "$tool" file put "$build/today/libTodayTelvane.so" '\Program Files\Telvane\libTodayTelvane.so' >/dev/null
fi
if [ ! -x "$build/ui/telvane" ]; then
  echo "The telvane program is not built yet; the device is ready:"
  exec "$tool" state
fi
# The home screen runs as long as Telvane does (unless it already ran before).
if [ -x "$home" ] && ! "$tool" state | grep -q ' HomeScreen '; then
  "$home" &
  home_pid=$!
  trap 'kill "$home_pid" 2>/dev/null || true' EXIT
fi
"$build/ui/telvane"
