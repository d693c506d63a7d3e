#!/usr/bin/env bash
# Times the program's start-up to its window's map against the floor program
# (bench/startup_floor.cpp), alternated, on an X server of its own, with a
# JACK dummy server of its own and with none; prints the median, the range
# and the ratio to the floor.
#   bench/startup.sh [RUNS]        (10 by default)
# BEFORE=/path/to/another/ondelith times that build too, in the same rounds.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-10}
build=build/release
cmake -S . -B $build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build $build --target ondelith map_watch startup_floor >/dev/null

source bench/desktop_session.sh

declare -A program=([ondelith]=$build/ondelith [floor]=$build/bench/startup_floor)
names=(ondelith floor)
if [ -n "${BEFORE:-}" ]; then program[before]=$BEFORE; names=(before ondelith floor); fi

for condition in jack none; do
  if [ $condition = jack ]; then export JACK_DEFAULT_SERVER=$server; else
    export JACK_DEFAULT_SERVER=ondelith-startup-none-$$; fi
  for round in $(seq "$runs"); do
    # Each round starts with another program, so none always goes first.
    count=${#names[@]}
    for k in $(seq 0 $((count - 1))); do
      name=${names[$(((k + round) % count))]}
      $build/bench/map_watch 20000 -- "${program[$name]}" 2>/dev/null >>"$work/$condition-$name" ||
        echo "($name: no window)" >&2
    done
  done
done

python3 - "$work" "$runs" "${names[@]}" <<'PY'
import statistics, sys
work, runs, names = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
print(f"window mapped after start, ms: median (min-max) of {runs}")
for condition, title in (("jack", "JACK dummy server"), ("none", "no JACK server")):
    print(f"-- {title}")
    times = {n: [float(v) for v in open(f"{work}/{condition}-{n}").read().split()] for n in names}
    floor = statistics.median(times["floor"])
    for n in names:
        t = times[n]
        m = statistics.median(t)
        print(f"{n:10s} {m:7.1f} ({min(t):.1f}-{max(t):.1f})  {m / floor:5.2f} x floor")
PY
