#!/usr/bin/env bash
# The program live: on a JACK dummy server of its own at 64 frames and
# 48000 Hz, its window on an X server of its own driven (computer keys
# played, the cutoff slider dragged) beside a trivial client
# (bench/live_peer.cpp: a sine and nothing else), each followed by a
# listener (the program's counts what it sounded). Prints the audio
# callback's run times as the program measured them (the
# ONDELITH_CALLBACK_TIMES debug run) against a quarter of the buffer, and
# the cycles the server found each client late in.
#   bench/live.sh [SECONDS]        (30 by default; 600 for a report)
# ORDER=peers-first starts the other clients before the program.
# MIDI=1 also plays notes into "Ondelith:MIDI In" from a client ahead of it.
# PROGRAM=/path/to/ondelith runs another build (without the debug measure
# only the server's side is reported).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
build=build/release
cmake -S . -B $build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build $build --target ondelith live_peer >/dev/null
program=${PROGRAM:-$build/ondelith}

source bench/desktop_session.sh
export JACK_DEFAULT_SERVER=$server

peers=()
start_peer() {
  $build/bench/live_peer "$@" >"$work/$1.out" 2>&1 &
  pids+=($!)
  peers+=($!)
}
# Each with a listener after it, so that both stand alike in the graph.
start_peers() {
  start_peer peer
  start_peer listener listen=Ondelith:out
  start_peer peer_listener listen=peer:out
  [ -z "${MIDI:-}" ] || start_peer sender "notes=Ondelith:MIDI In" every=250
}
# In our runs the server found the clients that joined last late far more
# often, whatever they did: ORDER=peers-first lets the others join first.
[ "${ORDER:-}" != peers-first ] || start_peers

ONDELITH_CALLBACK_TIMES=$work/times "$program" >"$work/program.log" 2>&1 &
program_pid=$!
pids+=($program_pid)
window=
for _ in $(seq 200); do
  window=$(xdotool search --name '^Ondelith' 2>/dev/null | head -1) && [ -n "$window" ] && break
  sleep 0.05
done
[ -n "$window" ] || { echo "no window" >&2; exit 1; }
xdotool windowfocus "$window" 2>/dev/null || true

[ "${ORDER:-}" = peers-first ] || start_peers

# Notes from the computer keyboard, and the filter's cutoff dragged.
end=$((SECONDS + seconds))
keys=(a s d f g h j)
k=0
while [ $SECONDS -lt $end ]; do
  key=${keys[$((k % ${#keys[@]}))]}
  xdotool keydown "$key" sleep 0.15 keyup "$key" 2>/dev/null || true
  if [ $((k % 4)) = 0 ]; then
    xdotool mousemove --window "$window" 430 460 mousedown 1 mousemove --window "$window" 430 430 \
      mousemove --window "$window" 430 450 mouseup 1 2>/dev/null || true
  fi
  k=$((k + 1))
  sleep 0.1
done

for p in "${peers[@]}"; do kill -INT "$p"; wait "$p" || true; done
# Escape ends the program the way a player does, so it writes its measure.
xdotool windowfocus "$window" key Escape 2>/dev/null || true
for _ in $(seq 100); do kill -0 $program_pid 2>/dev/null || break; sleep 0.1; done
kill $program_pid 2>/dev/null || true

late() { grep -cE "client (= )?$1 (was not finished|finished after)" "$work/jackd.log" || true; }
echo "live run: $seconds s, 64 frames at 48000 Hz, JACK dummy server"
if [ -s "$work/times" ]; then
  awk '$1 != "bucket_us" { v[$1] = $2 }
    END {
      printf "audio callback: %d runs, median %d us, 99th %d us, 99.9th %d us, max %d us\n",
        v["runs"], v["median_us"], v["p99_us"], v["p999_us"], v["max_us"]
      printf "a quarter of the buffer: %.0f us; runs over it: %d\n", v["buffer_us"] / 4, v["over_quarter"]
    }' "$work/times"
else
  echo "audio callback: not measured (a build without the debug measure)"
fi
echo "server's late cycles: Ondelith $(late Ondelith), trivial client $(late peer); their listeners $(late listener) and $(late peer_listener)${MIDI:+, sender $(late sender)}"
echo "xruns the trivial client was told of: $(sed -n 's/^xruns //p' "$work/peer.out")"
echo "samples the program sounded: $(sed -n 's/^heard //p' "$work/listener.out") of $((seconds * 48000))"
