# Sourced by the whole-program scripts: a scratch home, an X server and a
# JACK dummy server (64 frames at 48000 Hz) of their own, ended on exit.
# Sets work, DISPLAY and server; JACK_DEFAULT_SERVER is the caller's to set.
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [ -n "${KEEP:-}" ]; then echo "kept $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT

# The programs' settings and kept sound stay in here. With no sound card,
# ALSA's null device stands in for one, so PortAudio has an output to open.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
export XDG_RUNTIME_DIR=$work/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
[ -e /proc/asound/cards ] || printf 'pcm.!default { type null }\n' >"$HOME/.asoundrc"

display=$((200 + $$ % 500))
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=":$display"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done

server=ondelith-bench-$$
jackd -n "$server" -d dummy -r 48000 -p 64 >"$work/jackd.log" 2>&1 &
pids+=($!)
export JACK_NO_START_SERVER=1
for _ in $(seq 100); do JACK_DEFAULT_SERVER=$server jack_lsp >/dev/null 2>&1 && break; sleep 0.05; done
