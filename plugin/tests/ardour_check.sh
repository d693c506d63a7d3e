#!/bin/sh
# The VST3 plugin in Ardour 7 without a display: a session of two tracks is
# saved and reopened without "Ignored automation data", and a factory
# program picked from the preset list returns (it once froze Ardour).
# Usage: ardour_check.sh BUNDLE. Skips (77) without Ardour.
set -u
bundle=$1
here=$(dirname "$0")/ardour
command -v ardour7-lua >/dev/null || { echo "no ardour7-lua"; exit 77; }
scanner=/usr/lib/ardour7/ardour-vst3-scanner
[ -x "$scanner" ] || { echo "no $scanner"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home/.vst3"
ln -s "$bundle" "$work/home/.vst3/ondelith.vst3"
export HOME="$work/home" SESSION_DIR="$work/session"
LD_LIBRARY_PATH=/usr/lib/ardour7 "$scanner" -q -f "$HOME/.vst3/ondelith.vst3" >/dev/null 2>&1
timeout 120 ardour7-lua "$here/make_session.lua" >"$work/make.log" 2>&1 || { cat "$work/make.log"; exit 1; }
echo "session file: $(wc -c <"$SESSION_DIR/s.ardour") bytes"
timeout 120 ardour7-lua "$here/pick_program.lua" >"$work/pick.log" 2>&1
status=$?
ignored=$(grep -c 'Ignored automation data' "$work/pick.log")
echo "reopened: $ignored lines of ignored automation data"
[ "$status" -eq 124 ] && { echo "picking a program froze Ardour"; exit 1; }
[ "$status" -eq 0 ] || { cat "$work/pick.log"; exit 1; }
grep '^picked' "$work/pick.log"
[ "$ignored" -eq 0 ]
