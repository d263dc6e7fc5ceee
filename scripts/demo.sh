#!/usr/bin/env bash
# The program's main job: builds QXSetup and runs it twice under wine64 in ./demo, beside a
# placeholder add-in and workbook, with the stand-in Excel (install, then the uninstall question).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-prerequisites.sh
for preset in i686 x86_64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done

if [[ -n ${DISPLAY:-} && -z ${QXSETUP_DEMO_HEADLESS:-} ]]; then
    exec /usr/bin/python3 scripts/demo.py
fi
exec xvfb-run -a -s "-screen 0 1280x1024x24" env QXSETUP_DEMO_HEADLESS=1 /usr/bin/python3 scripts/demo.py
