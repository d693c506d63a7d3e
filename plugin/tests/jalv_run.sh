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
work=$(mktemp -d "${TMPDIR:-/tmp}/ondelith-jalv.XXXXXX")
export JACK_NO_START_SERVER=1
pids=()
status=1

log() { echo "jalv_run.sh: $*"; }
fail() {
  echo "jalv_run.sh: FAILED: $*" >&2
  exit 1
}

cleanup() {
  local pid
  { exec 7>&- 8>&-; } 2>/dev/null || true
  # The newest first, each gone before the next: clients before their server.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    pid=${pids[i]}
    [[ " $(jobs -pr | tr '\n' ' ') " == *" $pid "* ]] || continue
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  if [[ $status -eq 0 && $keep -eq 0 ]]; then
    rm -rf "$work"
  else
    echo "jalv_run.sh: files kept in $work" >&2
  fi
}
trap 'cleanup' EXIT
trap 'exit 130' INT TERM

wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.1
  done
}

# --- The server: a name from a small pool, as the end-to-end run does --------
# JACK keeps at most eight servers in its registry, and a server killed
# outright keeps its slot until one of the same name starts again.
jackd_pid=""
for n in 0 1 2 3 4 5 6 7; do
  export JACK_DEFAULT_SERVER="ondelith-lv2-$n"
  [[ $(jack_wait -c 2>/dev/null) == "not running" ]] || continue
  # Clients wait for the server's request socket, which appears once the
  # state all JACK programs share is set up.
  socket="/dev/shm/jack_${JACK_DEFAULT_SERVER}_$(id -u)_0"
  rm -f "$socket"
  stdbuf -oL -eL jackd ${E2E_JACKD_OPTS:-} -n "$JACK_DEFAULT_SERVER" -d dummy -r $rate -p 256 \
    >"$work/jackd.log" 2>&1 &
  jackd_pid=$!
  pids+=("$jackd_pid")
  wait_for 10 eval '! kill -0 "$jackd_pid" 2>/dev/null ||
    { [[ -e $socket ]] && [[ $(jack_wait -c 2>/dev/null) == running ]]; }' &&
    sleep 0.2 && kill -0 "$jackd_pid" 2>/dev/null && break
  wait "$jackd_pid" 2>/dev/null || true
  jackd_pid=""
done
[[ -n $jackd_pid ]] || fail "no JACK server could start: $(tail -n 3 "$work/jackd.log")"
log "JACK server $JACK_DEFAULT_SERVER at $rate Hz"

# --- jalv, then the sender connected to its MIDI port -------------------------
# jalv reads commands on its standard input: keep that open, and silent.
mkfifo "$work/jalv-in" "$work/keys"
jalv -x -n "$client" "$plugin" <"$work/jalv-in" >"$work/jalv.log" 2>&1 &
jalv_pid=$!
pids+=("$jalv_pid")
exec 8>"$work/jalv-in"
jalv_ready() {
  kill -0 "$jalv_pid" 2>/dev/null || fail "jalv ended: $(tail -n 5 "$work/jalv.log")"
  jack_lsp 2>/dev/null | grep -qx "$client:out"
}
wait_for 20 jalv_ready || fail "jalv's ports did not appear: $(tail -n 5 "$work/jalv.log")"

"$send" --name e2e_keys --connect "$client:midi_in" <"$work/keys" >"$work/sender.out" \
  2>"$work/sender.err" &
pids+=("$!")
exec 7>"$work/keys"
wait_for 10 grep -q '^ready' "$work/sender.out" || fail "the MIDI sender did not connect"

send_midi() {
  local before
  before=$(grep -c '^sent ' "$work/sender.out" || true)
  echo "$1" >&7
  wait_for 5 eval '(( $(grep -c "^sent " "$work/sender.out") > before ))' ||
    fail "the MIDI sender did not answer '$1'"
  frame=$(sed -n 's/.*frame=\([0-9]*\).*/\1/p' "$work/sender.out" | tail -n 1)
}

# A format-0 MIDI file at one tick per frame (24000 ticks per quarter note of
# 0.5 s): note 69 on at 0 and off $1 ticks later, into $2.
write_midi() {
  local delta=$1 vlq=() track=() text="" b
  vlq=($((delta & 0x7f)))
  for ((delta >>= 7; delta > 0; delta >>= 7)); do vlq=($(((delta & 0x7f) | 0x80)) "${vlq[@]}"); done
  track=(0 0xff 0x51 3 0x07 0xa1 0x20 0 0x90 69 100 "${vlq[@]}" 0x80 69 0 0 0xff 0x2f 0)
  local length=${#track[@]}
  local bytes=(0x4d 0x54 0x68 0x64 0 0 0 6 0 0 0 1 0x5d 0xc0
               0x4d 0x54 0x72 0x6b 0 0 0 "$length" "${track[@]}")
  for b in "${bytes[@]}"; do text+=$(printf '\\x%02x' "$b"); done
  printf '%b' "$text" >"$2"
}

# --- One note, live through jalv and rendered offline -------------------------
attempts=3
for ((attempt = 1; ; attempt++)); do
  "$record" --name e2e_rec --connect "$client:out" --out "$work/note.wav" >"$work/note.out" \
    2>"$work/note.err" &
  rec_pid=$!
  pids+=("$rec_pid")
  wait_for 10 grep -q '^ready' "$work/note.out" || fail "the recorder did not start"
  start=$(sed -n 's/^ready start_frame=\([0-9]*\).*/\1/p' "$work/note.out")
  sleep 0.5
  send_midi "on 69 100"
  on=$frame
  sleep 1
  send_midi "off 69"
  off=$frame
  sleep 2
  kill -TERM "$rec_pid"
  rc=0
  wait "$rec_pid" || rc=$?
  [[ $rc -eq 0 ]] || fail "the recorder failed ($rc): $(cat "$work/note.err")"
  log "recorder: $(tail -n 1 "$work/note.out")"

  write_midi $((off - on)) "$work/note.mid"
  "$render" --midi "$work/note.mid" --out "$work/reference.wav" --rate $rate --tail 2.5 ||
    fail "ondelith-render failed"
  # A4 at 48000 Hz: 109 samples per period.
  analysed=0
  "$analyse" --recording "$work/note.wav" --reference "$work/reference.wav" \
    --start-frame "$start" --on-frame "$on" --off-frame "$off" --note-hz 440 --hz-tolerance 1 \
    >"$work/note.txt" || analysed=$?
  if [[ $analysed -eq 0 ]]; then
    sed 's/^/  /' "$work/note.txt"
    break
  fi
  cat "$work/note.txt"
  # A recorder that missed server cycles (no real-time scheduling on a busy
  # machine) proves nothing either way: play the note again.
  gaps=$(sed -n 's/.* gaps=\([0-9]*\).*/\1/p' "$work/note.out" | tail -n 1)
  ((${gaps:-0} > 0 && attempt < attempts)) || fail "the note jalv played does not match"
  log "the recorder missed $gaps cycle(s); the note is played again"
done

status=0
log "pass"
