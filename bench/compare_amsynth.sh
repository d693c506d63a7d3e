#!/usr/bin/env bash
# Runs the render benchmark and amsynth's own benchmark side by side and
# prints seconds of audio per CPU second for our one wobbling voice, amsynth's
# "performance index" (seconds of audio times voices per CPU second), their
# ratio, and our speed as a share of the ladder filter's floor, at 44100 and
# at 48000 Hz.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh amsynth python3
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release --target render_bench >/dev/null

rounds=${ROUNDS:-5}
workdir=$(mktemp -d)
trap 'rm -rf "$workdir"' EXIT

for round in $(seq "$rounds"); do
  # amsynth keeps its settings under HOME; give it a scratch one.
  HOME="$workdir" amsynth -z 2>&1 | sed -n 's/^performance index: *//p' >>"$workdir/amsynth"
  build/release/bench/render_bench --benchmark_filter='BM_WobblingNote|BM_FilterFloor' \
    --benchmark_min_time=2 --benchmark_format=json >"$workdir/ours-$round.json" 2>/dev/null
done

python3 - "$workdir" "$rounds" <<'PY'
import json, statistics, sys
workdir, rounds = sys.argv[1], int(sys.argv[2])
amsynth = [float(v) for v in open(f"{workdir}/amsynth").read().split()]
a = statistics.median(amsynth)
print(f"rounds:                         {rounds} (medians)")
print(f"amsynth, performance index:     {a:8.1f}")
for rate in (44100, 48000):
    ours, floor, ns = [], [], []
    for r in range(1, rounds + 1):
        for b in json.load(open(f"{workdir}/ours-{r}.json"))["benchmarks"]:
            if b["name"] == f"BM_WobblingNote/{rate}":
                ours.append(b["x_realtime"])
                ns.append(b["ns_per_sample"])
            elif b["name"] == f"BM_FilterFloor/{rate}":
                floor.append(b["x_realtime"])
    o, f = statistics.median(ours), statistics.median(floor)
    print(f"-- at {rate} Hz")
    print(f"ours, wobbling voice:           {o:8.1f} x real time ({statistics.median(ns):.1f} ns per sample)")
    print(f"ratio ours / amsynth:           {o / a:8.2f}")
    print(f"filter recursion alone (floor): {f:8.1f} x real time")
    print(f"our share of the floor:         {o / f:8.2f}")
PY
