#!/usr/bin/env bash
# Installs the dependencies, builds the panel and starts it on the simulated
# valve unit (no hardware needed). Without a display it runs under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVALVE_BUILD_TESTS=OFF
cmake --build build -j"$(nproc)" --target valve-panel-demo

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" build/app/valve-panel-demo "$@"
fi
exec build/app/valve-panel-demo "$@"
