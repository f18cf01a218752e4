#!/usr/bin/env bash
# Installs Telvane on the device (the default one, or $TELVANE_DEVICE) when needed and starts it.
set -euo pipefail
build=${1:-build}
tool="$build/tools/telvane-device"
if ! "$tool" reg get HKLM 'SOFTWARE\Orvella\Telvane' mgr_config >/dev/null 2>&1; then
  "$tool" install
fi
if [ -x "$build/ui/telvane" ]; then
  exec "$build/ui/telvane"
fi
echo "The telvane program is not built yet; the device is ready:"
exec "$tool" state
