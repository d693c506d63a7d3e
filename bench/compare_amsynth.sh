#!/usr/bin/env bash
# Times the whole ondelith-render process beside amsynth's own benchmark, at
# 44100 and at 48000 Hz: 300 s of one wobbling voice (the plugin benchmarks'
# patch, A4 struck every 8 s so the curves are read on every sample) rendered
# into a WAV file. Prints seconds of audio per CPU second (user + system) for
# the renderer, amsynth's "performance index" (seconds of audio times voices
# per CPU second), their ratio, the renderer's share of the ladder filter's
# floor (its recursion alone), and the share of the renderer's time spent
# around the engine (reading the MIDI file, writing the WAV): the process
# against the same play in-process (render_bench's BM_RendererEngine).
#
# FACTORS (1 2 4 8) names the oversampling factors the renderer is timed
# at (the built renderer's only; BEFORE's at 1x).
#
# Every figure is the best of ROUNDS (7) rounds, the runs alternated within
# each round: on a shared machine medians swing by a fifth. BEFORE=<build
# dir> times that build's renderer and render_bench in the same rounds, for
# a before/after side by side.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh amsynth python3
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release --target ondelith-render render_bench wobbling_patch >/dev/null

workdir=$(mktemp -d)
trap 'rm -rf "$workdir"' EXIT
build/release/bench/wobbling_patch >"$workdir/wobble.vx"

python3 - "$workdir" "${ROUNDS:-7}" "$PWD/build/release" "${BEFORE:-}" "${FACTORS:-1 2 4 8}" <<'PY'
import json, os, re, resource, struct, subprocess, sys

workdir, rounds, after, before = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
factors = [int(f) for f in sys.argv[5].split()]
builds = [("after", after)] + ([("before", os.path.abspath(before))] if before else [])
if not before:
    builds = [("ours", after)]
seconds, rates = 300, (44100, 48000)

# A4 at velocity 100 from 0 s, released and struck again every 8 s, released at 300 s.
def vlq(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.append(0x80 | (n & 0x7F))
        n >>= 7
    return bytes(reversed(out))
ticks = 960  # per second: 480 a quarter note at 120 bpm
events = [(0, b"\x90\x45\x64")]
for s in range(8, seconds, 8):
    events += [(s * ticks, b"\x80\x45\x00"), (s * ticks, b"\x90\x45\x64")]
events.append((seconds * ticks, b"\x80\x45\x00"))
track, last = b"", 0
for t, m in events:
    track += vlq(t - last) + m
    last = t
track += b"\x00\xff\x2f\x00"
midi = f"{workdir}/wobble.mid"
with open(midi, "wb") as f:
    f.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, 480) + b"MTrk" + struct.pack(">I", len(track)) + track)

def cpu_seconds(argv, env=None):
    r0 = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(argv, check=True, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    r1 = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (r1.ru_utime - r0.ru_utime) + (r1.ru_stime - r0.ru_stime)

best = {}
def keep(key, value):  # the best of the rounds: the most seconds of audio per CPU second
    best[key] = max(best.get(key, 0.0), value)

amsynth_home = f"{workdir}/home"  # amsynth keeps its settings under HOME
os.makedirs(f"{amsynth_home}/.local/share/amsynth", exist_ok=True)
for _ in range(rounds):
    out = subprocess.run(["amsynth", "-z"], env=dict(os.environ, HOME=amsynth_home),
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True).stdout
    keep("amsynth", float(re.search(r"performance index:\s*([0-9.]+)", out).group(1)))
    for rate in rates:
        for name, build in builds:
          for factor in factors if name != "before" else [1]:
            # A new file each time, as a render usually makes: replacing the
            # last round's output would add the freeing of its pages.
            if os.path.exists(f"{workdir}/out.wav"):
                os.unlink(f"{workdir}/out.wav")
            oversampled = ["--set", f"oversampling={factor}"] if factor != 1 else []
            cpu = cpu_seconds([f"{build}/tools/ondelith-render", "--patch", f"{workdir}/wobble.vx",
                               "--midi", midi, "--tail", "0", "--rate", str(rate),
                               "--out", f"{workdir}/out.wav"] + oversampled)
            keep((name, rate, factor, "process"), seconds / cpu)
    for name, build in builds:
        report = subprocess.run([f"{build}/bench/render_bench", "--benchmark_format=json",
                                 "--benchmark_filter=^BM_RendererEngine/|^BM_FilterFloor"],
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
        for b in json.loads(report)["benchmarks"]:
            kind, rate = b["name"].split("/")[:2]
            keep((name, int(rate), kind), b["x_realtime"])

a = best["amsynth"]
print(f"rounds:                           {rounds} (best of each, alternated)")
print(f"amsynth, performance index:       {a:8.1f}")
for rate in rates:
    print(f"-- at {rate} Hz, ondelith-render, {seconds} s of a wobbling voice into a WAV file")
    for name, _ in builds:
      for factor in factors if name != "before" else [1]:
        p = best[(name, rate, factor, "process")]
        label = name if factor == 1 else f"{name} {factor}x"
        floor = best.get((name, rate, "BM_FilterFloor"))
        engine = best.get((name, rate, "BM_RendererEngine"))
        if factor != 1:
            base = best[(name, rate, 1, "process")]
            print(f"{label + ':':10s} {p:8.1f} x real time ({1e9 / (p * rate):.1f} ns a sample),"
                  f" {p / a:.2f} x amsynth, {base / p:.2f} x the cost at 1x")
            continue
        print(f"{label + ':':10s} {p:8.1f} x real time ({1e9 / (p * rate):.1f} ns a sample),"
              f" {p / a:.2f} x amsynth", end="")
        if floor:
            print(f", {p / floor:.2f} of the filter's floor ({floor:.0f} x)", end="")
        if engine:
            print(f", {max(0.0, 1 - p / engine) * 100:.1f} % around the engine", end="")
        print()
PY
