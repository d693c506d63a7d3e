# A JACK session for the end-to-end scripts, sourced by them: a working
# folder, the processes started (stopped newest first at exit), a private
# server with the dummy back end, the MIDI sender, the recorder and the MIDI
# files that replay what was sent. The script sets $me (its name for
# messages), $keep (1: keep the working folder), $rate and its tools
# ($record, $send, $render) before it sources this, and calls session_start.

# Waits up to $1 seconds for the command that follows to succeed.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.1
  done
}

log() { echo "$me: $*"; }
fail() {
  echo "$me: FAILED: $*" >&2
  exit 1
}

session_cleanup() {
  local pid i
  { exec 7>&- 8>&-; } 2>/dev/null || true
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
    echo "$me: files kept in $work" >&2
  fi
}

# session_start PREFIX: the working folder and the traps.
session_start() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  export JACK_NO_START_SERVER=1
  pids=()
  status=1
  trap 'session_cleanup' EXIT
  trap 'exit 130' INT TERM
}

# start_jack_server PREFIX: a server at $rate under the first free name of
# PREFIX-0 .. PREFIX-7. JACK keeps at most eight servers in its registry,
# and the slot of a server that was killed outright stays taken until a
# server of the same name starts again; a crashed run's server may still be
# running under another name of the pool.
start_jack_server() {
  local n socket
  jackd_pid=""
  for n in 0 1 2 3 4 5 6 7; do
    export JACK_DEFAULT_SERVER="$1-$n"
    [[ $(jack_wait -c 2>/dev/null) == "not running" ]] || continue
    # The server's request socket appears once the state every JACK program
    # shares (its metadata store) is set up; a client that asks sooner races
    # the server for that store and may die of SIGBUS, or break it for all.
    socket="/dev/shm/jack_${JACK_DEFAULT_SERVER}_$(id -u)_0"
    rm -f "$socket"
    stdbuf -oL -eL jackd ${E2E_JACKD_OPTS:-} -n "$JACK_DEFAULT_SERVER" -d dummy -r "$rate" -p 256 \
      >"$work/jackd.log" 2>&1 &
    jackd_pid=$!
    pids+=("$jackd_pid")
    # Ours, not a server that another run started under the same name meanwhile.
    wait_for 10 eval '! kill -0 "$jackd_pid" 2>/dev/null ||
      { [[ -e $socket ]] && [[ $(jack_wait -c 2>/dev/null) == running ]]; }' &&
      sleep 0.2 && kill -0 "$jackd_pid" 2>/dev/null && return 0
    wait "$jackd_pid" 2>/dev/null || true
    jackd_pid=""
  done
  fail "no JACK server could start: $(tail -n 3 "$work/jackd.log")"
}

# start_sender [--connect PORT]: the MIDI sender as e2e_keys, fed on fd 7.
start_sender() {
  mkfifo "$work/keys"
  "$send" --name e2e_keys "$@" <"$work/keys" >"$work/sender.out" 2>"$work/sender.err" &
  pids+=("$!")
  exec 7>"$work/keys"
  wait_for 10 grep -q '^ready' "$work/sender.out" || fail "the MIDI sender did not start"
}

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

# A format-0 Standard MIDI File, one tick per frame at $rate (rate / 2
# ticks per quarter note at 0.5 s per quarter), from lines "FRAME B0 B1 B2"
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

# Note 69 on at 0 and off $1 frames later, into $2.
write_midi() {
  printf '0 90 45 64\n%d 80 45 00\n' "$1" | write_midi_events "$2"
}

# The same key held from $on to $off, rendered offline from frame 0 into
# $work/$1-reference.wav.
render_reference() {
  write_midi $((off - on)) "$work/$1.mid"
  "$render" --midi "$work/$1.mid" --out "$work/$1-reference.wav" --tail 2.5 --rate "$rate" ||
    fail "ondelith-render failed"
}

# One second of note 69 played live from $1 into note.wav (setting $start,
# $on and $off) and the same key rendered into note-reference.wav.
record_and_render_note() {
  start_recorder note "$1"
  sleep 0.5
  send_midi "on 69 100"
  on=$frame
  sleep 1
  send_midi "off 69"
  off=$frame
  sleep 2
  stop_recorder note
  render_reference note
}
