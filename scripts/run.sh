#!/usr/bin/env bash
# Installs what building and running need, builds a release build of
# everything `cmake --install` installs (the program, the renderer and the
# plugins) and starts the synthesizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)" --target ondelith ondelith-render ondelith_plugins
exec build/release/ondelith "$@"
