#!/usr/bin/env bash
# The plugin's panel in a real host: jalv.gtk3 opens the built bundle under
# Xvfb on a JACK dummy server, at scale 1 and 2. From pictures of it:
#  - every slider, spin box, curve editor and the display is drawn where the
#    panel's layout (the window's places under the header row) puts it;
#  - the scale-2 picture is the scale-1 picture at twice the size;
#  - the Volume slider pressed at its top is drawn at its maximum.
# Usage: panel_run.sh LAYOUT_DUMP LV2_DIR [PICTURE_DIR]  (the pictures kept there)
set -euo pipefail
dump=$1
export LV2_PATH=$(realpath "$2")
pictures=${3:-}
for tool in jackd jack_wait jalv.gtk3 Xvfb xdotool xwd xwininfo convert python3; do
  command -v "$tool" >/dev/null || { echo "panel_run.sh: $tool is not installed" >&2; exit 77; }
done
rate=48000
me=panel_run.sh
keep=0
source "$(dirname "$0")/../../e2e/session.sh"
session_start ondelith-panel
start_jack_server ondelith-panel
"$dump" >"$work/layout.txt"
read -r _ _ _ _ panel_w panel_h < <(grep '^panel ' "$work/layout.txt")

# open_panel SCALE: a screen and jalv on it; the panel's picture as
# $work/panel-SCALE.png and .ppm, its screen place in $px $py.
open_panel() {
  local scale=$1 w h
  w=$((panel_w * scale)) h=$((panel_h * scale))
  Xvfb -displayfd 5 -nolisten tcp -noreset -screen 0 1400x1400x24 5>"$work/display-$scale" \
    >"$work/xvfb-$scale.log" 2>&1 &
  pids+=($!)
  wait_for 10 test -s "$work/display-$scale" || fail "Xvfb did not start"
  export DISPLAY=:$(cat "$work/display-$scale")
  DPF_SCALE_FACTOR=$scale jalv.gtk3 -n "ondelith_panel_$scale" urn:ondelith:lv2 \
    >"$work/jalv-$scale.log" 2>&1 &
  pids+=($!)
  wait_for 20 locate "$scale" ||
    fail "no ${w}x${h} panel at scale $scale: $(xwininfo -root -tree | grep -i distrho)"
}

# locate SCALE: the framework's own window inside jalv's, at the panel's size,
# placed on the screen (while jalv is still taking it in, it can sit off it);
# its place in $px $py.
locate() {
  local w=$((panel_w * $1)) h=$((panel_h * $1)) line
  line=$(xwininfo -root -tree 2>/dev/null | grep '"DISTRHO-Ondelith"' | grep " ${w}x${h}+" | head -n 1)
  [[ -n $line ]] || return 1
  read -r px py < <(sed -E 's/.* \+(-?[0-9]+)\+(-?[0-9]+)$/\1 \2/' <<<"$line")
  ((px >= 0 && py >= 0))
}

shoot() {
  locate "$1" || return 1
  xwd -root -silent | convert xwd:- -crop "$((panel_w * $1))x$((panel_h * $1))+$px+$py" +repage "$work/$2.png"
  convert "$work/$2.png" "$work/$2.ppm"
}

# shoot_settled SCALE NAME [UNLIKE]: a picture once the panel has stopped
# changing (and differs from picture UNLIKE), however slowly a loaded
# machine paints it.
shoot_settled() {
  local previous=
  settled() {
    shoot "$1" "$2" || { previous=; return 1; }
    local now
    now=$(md5sum <"$work/$2.ppm")
    if [[ -n ${3:-} ]] && cmp -s "$work/$2.ppm" "$work/$3.ppm"; then previous=; return 1; fi
    # Painted: the panel's own background at its bottom left corner.
    [[ $(convert "$work/$2.ppm" -format "%[pixel:p{1,$((panel_h * $1 - 3))}]" info:) != *"(0"* ]] ||
      { previous=; return 1; }
    [[ $now == "$previous" ]] && return 0
    previous=$now
    sleep 0.3
    return 1
  }
  wait_for 30 settled "$@" || fail "the panel at scale $1 never settled for $2"
}

open_panel 1
shoot_settled 1 panel-1
# The Volume slider pressed near its top end.
read -r _ _ vx vy vw _ < <(grep "^slider 21 " "$work/layout.txt")
xdotool mousemove $((px + vx + vw / 2)) $((py + vy + 5)) click 1 mousemove $((px + 5)) $((py + panel_h - 5))
shoot_settled 1 volume-moved panel-1
open_panel 2
shoot_settled 2 panel-2

python3 - "$work" <<'PY' || fail "the pictures do not match the layout (see $work)"
import sys
work = sys.argv[1]

def ppm(path):
    data = open(path, "rb").read()
    parts, pos = [], 0
    while len(parts) < 4:
        while data[pos:pos + 1].isspace(): pos += 1
        if data[pos:pos + 1] == b"#":  # a comment, to the end of its line
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace(): end += 1
        parts.append(data[pos:end]); pos = end
    w, h = int(parts[1]), int(parts[2])
    return w, h, data[pos + 1:]

def at(img, x, y):
    w, h, px = img
    i = 3 * (y * w + x)
    return px[i] << 16 | px[i + 1] << 8 | px[i + 2]

places = [l.split() for l in open(f"{work}/layout.txt")]
faults = []
for scale in (1, 2):
    img = ppm(f"{work}/panel-{scale}.ppm")
    back = at(img, 1, img[1] - 2)  # the panel's background, bottom left
    for kind, ident, x, y, w, h in places:
        x, y, w, h = (int(v) * scale for v in (x, y, w, h))
        if kind == "panel":
            continue
        # Inside each place its own paint, just outside it the background.
        inside = {"slider": (x + w // 2, y + h // 2), "spinbox": (x + 3 * scale, y + h // 2),
                  "display": (x + 2, y + 2), "curve": (x + 2, y + 2)}[kind]
        want = {"slider": None, "spinbox": 0xFFFFFF, "display": 0, "curve": 0}[kind]
        got = at(img, *inside)
        if (want is None and got == back) or (want is not None and got != want):
            faults.append(f"scale {scale}: {kind} {ident} not drawn at {inside} ({got:06x})")
        if kind in ("display", "curve", "spinbox") and at(img, x - 2, y + h // 2) != back:
            faults.append(f"scale {scale}: {kind} {ident} reaches left of {x}")
# Scale 2 shrunk to half is scale 1, within antialiasing and font hinting.
one, two = ppm(f"{work}/panel-1.ppm"), ppm(f"{work}/panel-2.ppm")
if (two[0], two[1]) != (2 * one[0], 2 * one[1]):
    faults.append(f"scale 2 is {two[0]}x{two[1]}, not twice {one[0]}x{one[1]}")
else:
    differ = 0
    for y in range(one[1]):
        for x in range(one[0]):
            a = at(one, x, y) & 0xFF
            b = sum(at(two, 2 * x + dx, 2 * y + dy) & 0xFF for dx in (0, 1) for dy in (0, 1)) // 4
            differ += abs(a - b) > 64
    if differ > one[0] * one[1] // 50:
        faults.append(f"scale 2 differs from scale 1 in {differ} pixels")
# The Volume slider's thumb went to the top of its groove.
moved = ppm(f"{work}/volume-moved.ppm")
_, _, x, y, w, h = next(p for p in places if p[:2] == ["slider", "21"])
x, y, w = int(x), int(y), int(w)
top = at(moved, x + w // 2, y + 4)
if top == at(one, x + w // 2, y + 4):
    faults.append("the Volume slider did not move to its top")
print("\n".join(faults) or "panel as laid out")
sys.exit(1 if faults else 0)
PY
if [[ -n $pictures ]]; then
  cp "$work/panel-1.png" "$pictures/plugin_panel_scale1.png"
  cp "$work/panel-2.png" "$pictures/plugin_panel_scale2.png"
fi
status=0
