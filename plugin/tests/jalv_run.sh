#!/usr/bin/env bash
# The plugin in a real host, end to end: jalv runs it from the build tree
# ($LV2_PATH) as a client of a JACK server with the dummy back end at 48000 Hz,
# started here under a name of its own; the end-to-end run's MIDI sender plays
# A4 into jalv's MIDI port, its recorder takes jalv's output, and its analysis
# checks the note against the same note rendered offline at 48000 Hz: silence
# before it, onset, pitch, level and release.
#
#   jalv_run.sh [--keep] RENDER
#
# RENDER is ondelith-render; the other tools come from $JACK_RECORD,
# $JACK_MIDI_SEND and $E2E_ANALYSE. --keep keeps the working folder (it is
# always kept when a check fails). $E2E_JACKD_OPTS goes to jackd first.
set -euo pipefail

keep=0
if [[ ${1:-} == --keep ]]; then
  keep=1
  shift
fi
if [[ $# -ne 1 ]]; then
  echo "usage: jalv_run.sh [--keep] RENDER" >&2
  exit 2
fi
render=$1
record=${JACK_RECORD:?} send=${JACK_MIDI_SEND:?} analyse=${E2E_ANALYSE:?}
for tool in "$render" "$record" "$send" "$analyse"; do
  [[ -x $tool ]] || { echo "jalv_run.sh: not an executable: $tool" >&2; exit 2; }
done
# Without JACK or jalv there is nothing to run: CTest reports a skip.
for tool in jackd jack_lsp jack_wait jalv; do
  command -v "$tool" >/dev/null || { echo "jalv_run.sh: $tool is not installed" >&2; exit 77; }
done

rate=48000
plugin=urn:ondelith:lv2
client=ondelith_lv2
me=jalv_run.sh
source "$(dirname "$0")/../../e2e/session.sh"
session_start ondelith-jalv
start_jack_server ondelith-lv2
log "JACK server $JACK_DEFAULT_SERVER at $rate Hz"

# --- jalv, then the sender connected to its MIDI port -------------------------
# jalv reads commands on its standard input: keep that open, and silent.
mkfifo "$work/jalv-in"
jalv -x -n "$client" "$plugin" <"$work/jalv-in" >"$work/jalv.log" 2>&1 &
jalv_pid=$!
pids+=("$jalv_pid")
exec 8>"$work/jalv-in"
jalv_ready() {
  kill -0 "$jalv_pid" 2>/dev/null || fail "jalv ended: $(tail -n 5 "$work/jalv.log")"
  jack_lsp 2>/dev/null | grep -qx "$client:lv2_out"
}
wait_for 20 jalv_ready || fail "jalv's ports did not appear: $(tail -n 5 "$work/jalv.log")"

start_sender --connect "$client:lv2_events_in"

# --- One note, live through jalv and rendered offline -------------------------
for ((attempt = 1; ; attempt++)); do
  record_and_render_note "$client:lv2_out"
  # A4 at 48000 Hz: 109 samples per period.
  analysed=0
  "$analyse" --recording "$work/note.wav" --reference "$work/note-reference.wav" \
    --start-frame "$start" --on-frame "$on" --off-frame "$off" --note-hz 440 --hz-tolerance 1 \
    >"$work/note.txt" || analysed=$?
  judge note "$attempt" "$analysed" "the note jalv played does not match" && break
done

status=0
log "pass"
