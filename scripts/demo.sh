#!/usr/bin/env bash
# The program's main job: builds QXSetup and runs the shipped 32-bit exe twice under Wine in
# ./demo, beside a placeholder add-in and workbook, with the stand-in Excel (install, then the
# uninstall question).
set -euo pipefail
cd "$(dirname "$0")/.."

# Where 32-bit code cannot run, this stops the demo with the one line that says why, unless
# the 64-bit twin was asked for (QXSETUP_E2E=twin).
scripts/install-prerequisites.sh || {
    status=$?
    [[ $status -eq 3 && ${QXSETUP_E2E:-} == twin ]] || exit $status
}
for preset in i686 x86_64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done

if [[ -n ${DISPLAY:-} && -z ${QXSETUP_DEMO_HEADLESS:-} ]]; then
    exec /usr/bin/python3 scripts/demo.py
fi
exec xvfb-run -a -s "-screen 0 1280x1024x24" env QXSETUP_DEMO_HEADLESS=1 /usr/bin/python3 scripts/demo.py
