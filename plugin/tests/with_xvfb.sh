#!/usr/bin/env bash
# Runs a command on a private Xvfb screen whose display the server picks
# itself: a number chosen beforehand (xvfb-run -a) can be taken by another
# test's server meanwhile, and the command then talks to that one.
set -uo pipefail
command -v Xvfb >/dev/null || { echo "with_xvfb.sh: Xvfb is not installed" >&2; exit 77; }
work=$(mktemp -d "${TMPDIR:-/tmp}/ondelith-xvfb.XXXXXX")
# -noreset: the server would start afresh whenever its last client leaves,
# between two tests, and refuse the next one meanwhile.
Xvfb -displayfd 5 -nolisten tcp -noreset -screen 0 1280x1024x24 5>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do
  [[ -s $work/display ]] && break
  sleep 0.1
done
if [[ ! -s $work/display ]]; then
  echo "with_xvfb.sh: Xvfb did not start" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi
DISPLAY=:$(cat "$work/display") "$@"
