#!/usr/bin/env bash
# The real audio and MIDI path, end to end, on a private JACK server with its
# dummy back end: a MIDI sender that exists before the synthesizer (so it is
# the synthesizer's MIDI entry 0), the synthesizer, a recorder on its audio
# output; one note played live, the same note rendered offline, and the two
# compared; then a note bent with the wheel and held by the sustain pedal,
# live and rendered from a MIDI file of the same messages. With a window
# (Xvfb and xdotool) more scenarios follow: switching the audio device while
# a key is held, choosing the MIDI device again, a note played on the
# computer keyboard, and losing the JACK server while a note plays.
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

work=$(mktemp -d "${TMPDIR:-/tmp}/ondelith-e2e.XXXXXX")
export JACK_NO_START_SERVER=1
pids=()
status=1

log() { echo "run.sh: $*"; }
fail() {
  echo "run.sh: FAILED: $*" >&2
  exit 1
}

cleanup() {
  local pid
  { exec 7>&-; } 2>/dev/null || true
  # The newest first, each gone before the next: clients before the server
  # they talk to. A server killed outright keeps its slot in JACK's registry.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    pid=${pids[i]}
    # Only a child still running: the id of one that has ended may be reused.
    [[ " $(jobs -pr | tr '\n' ' ') " == *" $pid "* ]] || continue
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  if [[ $status -eq 0 && $keep -eq 0 ]]; then
    rm -rf "$work"
  else
    echo "run.sh: files kept in $work" >&2
  fi
}
trap 'cleanup' EXIT
trap 'exit 130' INT TERM

# Waits up to $1 seconds for the command that follows to succeed.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.1
  done
}

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

# Sends one command to the MIDI sender and sets $frame to the JACK frame
# time of its answer.
send_midi() {
  local before
  before=$(grep -c '^sent \|^time ' "$work/sender.out" || true)
  echo "$1" >&7
  wait_for 5 eval '(( $(grep -c "^sent \|^time " "$work/sender.out") > before ))' ||
    fail "the MIDI sender did not answer '$1'"
  frame=$(sed -n 's/.*frame=\([0-9]*\).*/\1/p' "$work/sender.out" | tail -n 1)
}

# Records $2 into $1.wav in the background; sets $rec_pid and $start, the
# JACK frame time of the recording's first sample.
start_recorder() {
  "$record" --name e2e_rec --connect "$2" --out "$work/$1.wav" >"$work/$1.out" \
    2>"$work/$1.err" &
  rec_pid=$!
  pids+=("$rec_pid")
  wait_for 10 grep -q '^ready' "$work/$1.out" || fail "the recorder did not start"
  start=$(sed -n 's/^ready start_frame=\([0-9]*\).*/\1/p' "$work/$1.out")
}
stop_recorder() {
  kill -TERM "$rec_pid"
  local rc=0
  wait "$rec_pid" || rc=$?
  [[ $rc -eq 0 ]] || fail "the recorder failed ($rc): $(cat "$work/$1.err")"
  log "recorder: $(tail -n 1 "$work/$1.out")"
}

# A recorder that missed cycles of the server (a loaded machine without
# real-time scheduling) heard nothing where the synthesizer may have played:
# its recording proves nothing either way, so such a scenario is played
# again, up to $attempts times in all.
attempts=3
recorder_gaps() { sed -n 's/.* gaps=\([0-9]*\).*/\1/p' "$work/$1.out" | tail -n 1; }

# judge NAME ATTEMPT STATUS WHY: the verdict on one playing of a scenario
# whose analysis ended with STATUS and wrote $work/NAME.txt. Returns 1 when
# the scenario must be played again.
judge() {
  local gaps
  gaps=$(recorder_gaps "$1")
  if [[ $3 -eq 0 ]]; then
    sed 's/^/  /' "$work/$1.txt"
    return 0
  fi
  cat "$work/$1.txt"
  if ((${gaps:-0} > 0 && $2 < attempts)); then
    log "the recorder missed $gaps cycle(s); '$1' is played again"
    grep -i 'xrun\|not finished' "$work/jackd.log" | tail -n 3 | sed 's/^/  jackd: /' || true
    return 1
  fi
  fail "$4"
}

# A format-0 Standard MIDI File, one tick per frame at the server's rate
# (rate / 2 ticks per quarter note at 0.5 s per quarter): note 69 on at 0,
# off $1 frames later; written to $2.
write_midi() {
  local delta=$1 vlq=() track=() length
  vlq=($((delta & 0x7f)))
  for ((delta >>= 7; delta > 0; delta >>= 7)); do vlq=($(((delta & 0x7f) | 0x80)) "${vlq[@]}"); done
  track=(0 0xff 0x51 3 0x07 0xa1 0x20 0 0x90 69 100 "${vlq[@]}" 0x80 69 0 0 0xff 0x2f 0)
  length=${#track[@]}
  local division=$((rate / 2))
  local bytes=(0x4d 0x54 0x68 0x64 0 0 0 6 0 0 0 1 $((division >> 8)) $((division & 255))
               0x4d 0x54 0x72 0x6b $((length >> 24)) $(((length >> 16) & 255))
               $(((length >> 8) & 255)) $((length & 255)) "${track[@]}")
  local text="" b
  for b in "${bytes[@]}"; do text+=$(printf '\\x%02x' "$b"); done
  printf '%b' "$text" >"$2"
}

# A format-0 Standard MIDI File like write_midi's from lines "FRAME B0 B1 B2"
# (hexadecimal bytes) on standard input, frames counted from the first
# line's; written to $1.
write_midi_events() {
  local track=() last="" frame b0 b1 b2 delta vlq
  while read -r frame b0 b1 b2; do
    [[ -n $last ]] || last=$frame
    delta=$((frame - last))
    last=$frame
    vlq=($((delta & 0x7f)))
    for ((delta >>= 7; delta > 0; delta >>= 7)); do vlq=($(((delta & 0x7f) | 0x80)) "${vlq[@]}"); done
    track+=("${vlq[@]}" "0x$b0" "0x$b1" "0x$b2")
  done
  track=(0 0xff 0x51 3 0x07 0xa1 0x20 "${track[@]}" 0 0xff 0x2f 0)
  local length=${#track[@]} division=$((rate / 2))
  local bytes=(0x4d 0x54 0x68 0x64 0 0 0 6 0 0 0 1 $((division >> 8)) $((division & 255))
               0x4d 0x54 0x72 0x6b $((length >> 24)) $(((length >> 16) & 255))
               $(((length >> 8) & 255)) $((length & 255)) "${track[@]}")
  local text="" b
  for b in "${bytes[@]}"; do text+=$(printf '\\x%02x' "$((b))"); done
  printf '%b' "$text" >"$1"
}

# The same key held from $on to $off, rendered offline from frame 0 into
# $work/$1-reference.wav.
render_reference() {
  write_midi $((off - on)) "$work/$1.mid"
  "$render" --midi "$work/$1.mid" --out "$work/$1-reference.wav" --tail 2.5 --rate "$rate" ||
    fail "ondelith-render failed"
}

# --- The server, a display, the sender, the synthesizer ---------------------
# JACK keeps at most eight servers in its registry, and the slot of a server
# that was killed outright stays taken until a server of the same name starts
# again. So the name comes from a small pool: the first one not running now
# (a crashed run's server may still be running under another).
jackd_pid=""
for n in 0 1 2 3 4 5 6 7; do
  export JACK_DEFAULT_SERVER="ondelith-e2e-$n"
  [[ $(jack_wait -c 2>/dev/null) == "not running" ]] || continue
  # The server's request socket appears once the state every JACK program
  # shares (its metadata store) is set up; a client that asks sooner races
  # the server for that store and may die of SIGBUS, or break it for all.
  socket="/dev/shm/jack_${JACK_DEFAULT_SERVER}_$(id -u)_0"
  rm -f "$socket"
  stdbuf -oL -eL jackd ${E2E_JACKD_OPTS:-} -n "$JACK_DEFAULT_SERVER" -d dummy -r "$rate" -p 256 >"$work/jackd.log" 2>&1 &
  jackd_pid=$!
  pids+=("$jackd_pid")
  # Ours, not a server that another run started under the same name meanwhile.
  wait_for 10 eval '! kill -0 "$jackd_pid" 2>/dev/null ||
    { [[ -e $socket ]] && [[ $(jack_wait -c 2>/dev/null) == running ]]; }' &&
    sleep 0.2 && kill -0 "$jackd_pid" 2>/dev/null && break
  wait "$jackd_pid" 2>/dev/null || true
  jackd_pid=""
done
[[ -n $jackd_pid ]] || fail "no JACK server could start: $(tail -n 3 "$work/jackd.log")"
log "JACK server $JACK_DEFAULT_SERVER at $rate Hz"

ui=0
if [[ $standin -eq 0 ]]; then
  if command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
    Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$work/display" \
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

mkfifo "$work/keys"
"$send" --name e2e_keys <"$work/keys" >"$work/sender.out" 2>"$work/sender.err" &
pids+=("$!")
exec 7>"$work/keys"
wait_for 10 grep -q '^ready' "$work/sender.out" || fail "the MIDI sender did not start"

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
  start_recorder note "$audio_port"
  sleep 0.5
  send_midi "on 69 100"
  on=$frame
  sleep 1
  send_midi "off 69"
  off=$frame
  sleep 2
  stop_recorder note

  render_reference note
  analysed=0
  "$analyse" --recording "$work/note.wav" --reference "$work/note-reference.wav" \
    --start-frame "$start" --on-frame "$on" --off-frame "$off" >"$work/note.txt" || analysed=$?
}

# --- Scenario 2: another audio device while a key is held -------------------
play_switch() {
  start_recorder switch "$audio_port"
  sleep 0.3
  send_midi "on 69 100"
  on=$frame
  sleep 1
  send_midi time
  switched=$frame
  # The Audio drop-down, then its current entry again: a full switch (the
  # stream torn down and reopened) that lands on JACK whatever else the
  # machine offers.
  # It lies at (390..530, 525..545) of the 590-pixel-high client area, which
  # the menu bar above and the status bar below push down by about half their
  # sum; its middle leaves ten pixels either way (the MIDI drop-down ends at 522).
  height=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: [0-9]*x\([0-9]*\).*/\1/p')
  read -r cx cy <<<"${E2E_AUDIO_DROPDOWN_XY:-460 $((535 + (height - 590) / 2))}"
  xdotool mousemove --window "$window" "$cx" "$cy" click 1
  sleep 0.5
  xdotool key Return
  wait_for 5 recorder_unconnected || fail "the audio device switch did not reopen the stream"
  wait_for 10 synth_output_ready || fail "no audio output port after the switch"
  audio_port=$(first_synth_output)
  jack_connect "$audio_port" e2e_rec:in
  send_midi time
  resumed=$frame
  sleep 1
  send_midi "off 69"
  off=$frame
  sleep 2
  stop_recorder switch
  render_reference switch
  analysed=0
  "$analyse" --recording "$work/switch.wav" --reference "$work/switch-reference.wav" \
    --start-frame "$start" --on-frame "$on" --off-frame "$off" --correlate-until "$switched" \
    --max-dropout-ms 5000 \
    --held $((resumed + 4410)) $((off - 2205)) >"$work/switch.txt" || analysed=$?
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
  # The MIDI drop-down lies at (390..530, 502..522) of the client area.
  read -r mx my <<<"${E2E_MIDI_DROPDOWN_XY:-460 $((512 + (height - 590) / 2))}"
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
# The key where A sits on a US keyboard plays C4, held for a second while
# the X server repeats it: one note, no retrigger, at C4's pitch.
play_key() {
  start_recorder key "$audio_port"
  sleep 0.3
  xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
  send_midi time
  on=$frame
  xdotool keydown a
  sleep 1
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
    --max-latency-ms 250 >"$work/key.txt" || analysed=$?
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
    judge switch "$attempt" "$analysed" "the note did not survive the device switch" && break
  done
  for ((attempt = 1; ; attempt++)); do
    play_midi
    judge midi "$attempt" "$analysed" "choosing the MIDI device again did not release the held key" &&
      break
  done
  for ((attempt = 1; ; attempt++)); do
    play_key
    judge key "$attempt" "$analysed" "the computer keyboard's key did not play C4" && break
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
