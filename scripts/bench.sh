#!/usr/bin/env bash
# Start-up benchmark (not a test): builds, then under Wine times the shipped 32-bit QXSetup.exe
# from start to its success window shown and closed, against a minimal one-window program built
# the same way in the same run.
# Prints both medians, their ratio and the exe sizes. Options go to tests/bench/bench.py
# (--pairs N, at least 15).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-prerequisites.sh
for preset in i686 x86_64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" >/dev/null
done

exec xvfb-run -a -s "-screen 0 1280x1024x24" /usr/bin/python3 tests/bench/bench.py \
    build/x86_64 build/i686 "$@"
