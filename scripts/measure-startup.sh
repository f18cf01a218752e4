#!/usr/bin/env bash
# Prints the time from starting telvane on a fresh device until its main window exists, and the
# program's resident memory once it runs. Usage: scripts/measure-startup.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build}
tool="$build/tools/telvane-device"
device=$(mktemp -d /tmp/telvane-startup-XXXXXX)
export TELVANE_DEVICE="$device" QT_QPA_PLATFORM=offscreen TELVANE_DEVICE_TOOL="$tool"
cleanup() {
  "$tool" boxes answer yes >/dev/null 2>&1 || true
  "$tool" post MainWindow 273 1234 0 >/dev/null 2>&1 || true
  sleep 0.5
  pkill -f "$tool serve" >/dev/null 2>&1 || true
  [ -n "${pid:-}" ] && kill "$pid" >/dev/null 2>&1 || true
  rm -rf "$device"
}
trap cleanup EXIT
"$tool" install >/dev/null
start=$(date +%s%N)
"$build/ui/telvane" 2>/dev/null &
pid=$!
until "$tool" post MainWindow 0 0 0 >/dev/null 2>&1; do
  if ! kill -0 "$pid" 2>/dev/null; then echo "telvane ended before its window appeared" >&2; exit 1; fi
done
shown=$(date +%s%N)
sleep 1
rss=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
echo "start to main window: $(( (shown - start) / 1000000 )) ms (goal < 400 ms)"
echo "resident memory: $(( rss / 1024 )) MB (goal < 40 MB)"
