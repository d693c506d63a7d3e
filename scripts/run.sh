#!/usr/bin/env bash
# Installs what is missing, builds a release build and starts the synthesizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)" --target ondelith
exec build/release/ondelith
