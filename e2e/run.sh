#!/usr/bin/env bash
# The real audio and MIDI path, end to end, on a private JACK server with its
# dummy back end: a MIDI sender that exists before the synthesizer (so it is
# the synthesizer's MIDI entry 0), the synthesizer, a recorder on its audio
# output; one note played live, the same note rendered offline, and the two
# compared; then a note bent with the wheel and held by the sustain pedal,
# live and rendered from a MIDI file of the same messages. With a window
# (Xvfb and xdotool) more scenarios follow: choosing the audio device again
# while a key is held, choosing the MIDI device again, a note held on the
# computer keyboard while the X server repeats it, and losing the JACK
# server while a note plays.
#
#   run.sh [--standin] [--keep] [--rate HZ] SYNTH RENDER
#
# SYNTH is the synthesizer (no arguments) or, with --standin, e2e_standin;
# RENDER is ondelith-render. The harness's own tools are taken from
# $JACK_RECORD, $JACK_MIDI_SEND and $E2E_ANALYSE, else from beside this build
# ($E2E_TOOLS, default: the directory of RENDER's build's e2e/). --keep keeps
# the working folder (it is always kept when a check fails). $E2E_JACKD_OPTS
# goes to jackd before its own options (-r: a machine without real-time
# scheduling). --rate runs the server at that rate (44100 unless given): the
# synthesizer must then open its stream and make its engine at it.
set -euo pipefail

standin=0
keep=0
rate=44100
while [[ $# -gt 0 && $1 == --* ]]; do
  case $1 in
    --standin) standin=1 ;;
    --keep) keep=1 ;;
    --rate) rate=${2:-}; shift ;;
    *) echo "run.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
if [[ $# -ne 2 || ! $rate =~ ^[0-9]+$ ]] || ((rate < 22050 || rate > 65534)); then
  echo "usage: run.sh [--standin] [--keep] [--rate HZ] SYNTH RENDER" >&2
  exit 2
fi
synth=$1
render=$2
tools=${E2E_TOOLS:-$(dirname "$render")/../e2e}
record=${JACK_RECORD:-$tools/jack_record}
send=${JACK_MIDI_SEND:-$tools/jack_midi_send}
analyse=${E2E_ANALYSE:-$tools/e2e_analyse}
for tool in "$synth" "$render" "$record" "$send" "$analyse"; do
  [[ -x $tool ]] || { echo "run.sh: not an executable: $tool" >&2; exit 2; }
done
# Without a JACK server there is nothing to test: CTest reports a skip.
for tool in jackd jack_lsp jack_connect jack_wait; do
  command -v "$tool" >/dev/null || { echo "run.sh: $tool is not installed (jackd2)" >&2; exit 77; }
done

me=run.sh
source "$(dirname "$0")/session.sh"
session_start ondelith-e2e

# Ports of clients whose name starts with "Ondelith": $1 audio or midi,
# $2 input or output.
synth_ports() {
  jack_lsp -p -t 2>/dev/null | awk -v kind="$1" -v dir="$2" '
    /^[^ \t]/ { name = $0; props = ""; next }
    /properties:/ { props = $0; next }
    { if (name ~ /^Ondelith[^:]*:/ && props ~ dir && $0 ~ kind) print name }'
}
first_synth_output() { synth_ports audio output | head -n 1; }
has_synth_output() { [[ -n $(first_synth_output) ]]; }
synth_alive() {
  local rc=0
  if kill -0 "$synth_pid" 2>/dev/null && [[ $(ps -o stat= -p "$synth_pid") != Z* ]]; then return 0; fi
  wait "$synth_pid" || rc=$?
  fail "the synthesizer ended with status $rc: $(tail -n 5 "$work/synth.log")"
}
synth_output_ready() { synth_alive && has_synth_output; }

sender_connected() { jack_lsp -c e2e_keys:out 2>/dev/null | grep -q '^ \+Ondelith'; }
recorder_connected() { jack_lsp -c e2e_rec:in 2>/dev/null | grep -q '^ '; }
recorder_unconnected() { ! recorder_connected; }

# --- The server, a display, the sender, the synthesizer ---------------------
start_jack_server ondelith-e2e
log "JACK server $JACK_DEFAULT_SERVER at $rate Hz"

ui=0
if [[ $standin -eq 0 ]]; then
  if command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
    # Auto-repeat on, as a desktop has it: 660 ms, then 25 times a second.
    Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 r -ardelay 660 -arinterval 40 \
      3>"$work/display" \
      >"$work/xvfb.log" 2>&1 &
    pids+=("$!")
    wait_for 10 test -s "$work/display" || fail "Xvfb did not start"
    export DISPLAY=":$(cat "$work/display")"
    export QT_QPA_PLATFORM=xcb
    ui=1
  else
    export QT_QPA_PLATFORM=offscreen
    log "no Xvfb or xdotool: the window scenarios are skipped"
  fi
fi

# Qt complains on stderr without a runtime folder of its own. The settings
# and data folders are the run's own: nothing remembered from the user's
# runs or earlier ones decides which devices open.
mkdir -m 700 "$work/runtime" "$work/config" "$work/data"
export XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"

start_sender

"$synth" >"$work/synth.log" 2>&1 &
synth_pid=$!
pids+=("$synth_pid")
wait_for 30 synth_output_ready || fail "no audio output port from the synthesizer in 30 s"
wait_for 10 sender_connected ||
  fail "the synthesizer's MIDI input is not connected to the first MIDI output (e2e_keys:out)"
audio_port=$(first_synth_output)
log "synthesizer output: $audio_port"

# --- Scenario 1: one note, live and rendered --------------------------------
play_note() {
  record_and_render_note "$audio_port"
  analysed=0
  "$analyse" --recording "$work/note.wav" --reference "$work/note-reference.wav" \
    --start-frame "$start" --on-frame "$on" --off-frame "$off" >"$work/note.txt" || analysed=$?
}

# --- Scenario 2: the audio device chosen again while a key is held ---------
# On JACK the program's own client plays: choosing its entry again tears
# nothing down. Its port keeps its name and the recorder stays connected,
# and the note plays on as if nothing had happened.
play_switch() {
  start_recorder switch "$audio_port"
  sleep 0.3
  send_midi "on 69 100"
  on=$frame
  sleep 1
  send_midi time
  switched=$frame
  # The Audio drop-down, then its current entry again. It lies at
  # (422..530, 525..545) of the 590-pixel-high client area, which the menu
  # bar above and the status bar below push down by about half their sum;
  # its middle leaves ten pixels either way (the MIDI drop-down ends at 522).
  height=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: [0-9]*x\([0-9]*\).*/\1/p')
  read -r cx cy <<<"${E2E_AUDIO_DROPDOWN_XY:-476 $((535 + (height - 590) / 2))}"
  xdotool mousemove --window "$window" "$cx" "$cy" click 1
  sleep 0.5
  xdotool key Return
  sleep 0.5
  recorder_connected || fail "choosing the audio output again dropped the recorder's connection"
  [[ $(first_synth_output) == "$audio_port" ]] ||
    fail "choosing the audio output again renamed its port: $(first_synth_output)"
  sleep 0.5
  send_midi "off 69"
  off=$frame
  sleep 2
  stop_recorder switch
  render_reference switch
  analysed=0
  "$analyse" --recording "$work/switch.wav" --reference "$work/switch-reference.wav" \
    --start-frame "$start" --on-frame "$on" --off-frame "$off" \
    --held $((switched + 4410)) $((off - 2205)) >"$work/switch.txt" || analysed=$?
}

# --- Scenario 2b: the MIDI device chosen again while a key is held ----------
# Closing the input releases every key: the note goes into its release
# though the key itself is still down.
play_midi() {
  start_recorder midi "$audio_port"
  sleep 0.3
  send_midi "on 69 100"
  on=$frame
  sleep 1
  # The MIDI drop-down lies at (422..530, 502..522) of the client area.
  read -r mx my <<<"${E2E_MIDI_DROPDOWN_XY:-476 $((512 + (height - 590) / 2))}"
  xdotool mousemove --window "$window" "$mx" "$my" click 1
  sleep 0.5
  xdotool key Return
  send_midi time
  closed=$frame
  sleep 2.5
  stop_recorder midi
  analysed=0
  "$analyse" --recording "$work/midi.wav" --start-frame "$start" --on-frame "$on" \
    --off-frame "$closed" --max-latency-ms 250 >"$work/midi.txt" || analysed=$?
  send_midi "off 69"
  wait_for 10 sender_connected || fail "the MIDI input did not come back after the switch"
}

# --- Scenario 1b: the wheel and the pedal, live and from a file -----------
# The note is bent up, the pedal holds it past its note-off, the wheel goes
# back and the pedal up lets it go. Live messages land at the start of an
# audio cycle, not at the frame they were sent, so the sound is compared
# with the renderer's only up to the bend; after it the pitch and the level
# tell whether the wheel and the pedal arrived.
play_bend() {
  start_recorder bend "$audio_port"
  sleep 0.5
  local events=() bent pedal released back up
  send_midi "on 69 100"; on=$frame; events+=("$frame 90 45 64")
  sleep 0.3
  send_midi "raw E0 7F 7F"; bent=$frame; events+=("$frame E0 7F 7F")
  sleep 0.3
  send_midi "raw B0 40 7F"; pedal=$frame; events+=("$frame B0 40 7F")
  sleep 0.2
  send_midi "off 69"; released=$frame; events+=("$frame 80 45 00")
  sleep 0.3
  send_midi "raw E0 00 40"; back=$frame; events+=("$frame E0 00 40")
  sleep 0.3
  send_midi "raw B0 40 00"; up=$frame; off=$frame; events+=("$frame B0 40 00")
  sleep 2
  stop_recorder bend
  printf '%s\n' "${events[@]}" | write_midi_events "$work/bend.mid"
  "$render" --midi "$work/bend.mid" --out "$work/bend-reference.wav" --tail 2.5 --rate "$rate" ||
    fail "ondelith-render failed"
  local margin=$((rate / 20))
  analysed=0
  "$analyse" --recording "$work/bend.wav" --reference "$work/bend-reference.wav" \
    --start-frame "$start" --on-frame "$on" --off-frame "$off" --correlate-until "$bent" \
    --note-hz "$(period_hz 440)" \
    --held $((bent + margin)) $((released - margin / 2)) --held-hz "$(period_hz 493.8833013)" \
    --held $((back + margin)) $((up - margin / 2)) --held-hz "$(period_hz 440)" \
    >"$work/bend.txt" || analysed=$?
  : "$pedal"
}

# The pitch the oscillator plays for a note of $1 Hz: the rate over a whole
# number of samples.
period_hz() {
  awk -v r="$rate" -v f="$1" 'BEGIN { p = r / f; p = (p - int(p) >= 0.5) ? int(p) + 1 : int(p); print r / p }'
}

# --- Scenario 2c: a note on the computer keyboard ---------------------------
# The key where A sits on a US keyboard plays C4, held for two seconds while
# the X server repeats it (from 0.66 s, 25 times a second, each repeat a
# release and a press at the same time): one note at C4's pitch whose level
# never dips, measured over windows of four periods.
play_key() {
  start_recorder key "$audio_port"
  sleep 0.3
  xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
  send_midi time
  on=$frame
  xdotool keydown a
  sleep 2.2
  xdotool keyup a
  send_midi time
  off=$frame
  sleep 2
  stop_recorder key
  local period
  period=$(awk -v r="$rate" 'BEGIN { p = r / 261.6255653; printf "%d", (p - int(p) >= 0.5) ? int(p) + 1 : int(p) }')
  analysed=0
  "$analyse" --recording "$work/key.wav" --start-frame "$start" --on-frame "$on" \
    --off-frame "$off" --note-hz "$(awk -v r="$rate" -v p="$period" 'BEGIN { print r / p }')" \
    --max-latency-ms 250 --steady $((on + rate / 10)) $((off - rate / 10)) \
    >"$work/key.txt" || analysed=$?
}

for ((attempt = 1; ; attempt++)); do
  play_note
  judge note "$attempt" "$analysed" "the live note does not match" && break
done
for ((attempt = 1; ; attempt++)); do
  play_bend
  judge bend "$attempt" "$analysed" "the bent and held note does not match its rendering" && break
done

if [[ $ui -eq 1 ]]; then
  window=$(timeout 10 xdotool search --sync --onlyvisible --name '^Ondelith$' | head -n 1)
  [[ -n $window ]] || fail "no window titled Ondelith"
  for ((attempt = 1; ; attempt++)); do
    play_switch
    judge switch "$attempt" "$analysed" "the note did not play on through the device choice" && break
  done
  for ((attempt = 1; ; attempt++)); do
    play_midi
    judge midi "$attempt" "$analysed" "choosing the MIDI device again did not release the held key" &&
      break
  done
  for ((attempt = 1; ; attempt++)); do
    play_key
    judge key "$attempt" "$analysed" "the held key did not play one steady C4" && break
  done
fi

# --- Scenario 3: the JACK server goes away while a note plays ---------------
# (The stand-in is no application: it simply ends with its server.)
if [[ $standin -eq 1 ]]; then
  status=0
  log "pass"
  exit 0
fi
send_midi "on 69 100"
sleep 0.5
kill -TERM "$jackd_pid"
wait "$jackd_pid" 2>/dev/null || true
sleep 3
synth_alive
if [[ $ui -eq 1 ]]; then
  # Escape is Quit: the window must still take it, and shut down cleanly.
  window=$(xdotool search --onlyvisible --name '^Ondelith$' | head -n 1)
  [[ -n $window ]] || fail "the window is gone after the JACK server stopped"
  xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
  # The window may close on the key's press, before xdotool sends its
  # release to it: what counts is how the synthesizer ends.
  xdotool key --window "$window" Escape 2>/dev/null || true
  rc=0
  wait_for 10 eval '! kill -0 "$synth_pid" 2>/dev/null' || fail "Escape did not end the synthesizer"
  wait "$synth_pid" || rc=$?
  [[ $rc -eq 0 ]] || fail "the synthesizer ended with status $rc"
fi
log "the synthesizer outlived its JACK server"

status=0
log "pass"
