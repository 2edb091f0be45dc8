#!/usr/bin/env bash
# The main job on a fresh Debian 12 machine: installs what it needs, builds qv3sim and runs the
# real update driver on the built-in default machine (Windows 7 64-bit, Quorvia 3 installed and
# running), printing every dialog, child process, registry change and file change, and the
# outcome. Extra arguments go to qv3sim (e.g. --machine examples/default.json, --matrix).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >&2
cmake --preset native >/dev/null
cmake --build --preset native --target qv3sim -j "$(nproc)" >&2
exec build/native/tools/qv3sim/qv3sim "$@"
