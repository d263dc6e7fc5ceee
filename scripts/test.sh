#!/usr/bin/env bash
# Every test: installs what is missing, builds the three configurations, runs the unit tests,
# the checks of the shipped 32-bit program, and the end-to-end tests under wine64 (headless).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-prerequisites.sh

for preset in native i686 x86_64; do
    cmake --preset "$preset" >"build-$preset.log" 2>&1 || { cat "build-$preset.log"; exit 1; }
    cmake --build --preset "$preset"
done
rm -f build-*.log

passed=0
failed=0
status=0
run_ctest() {
    local log
    log=$(mktemp)
    "$@" 2>&1 | tee "$log" || status=1
    local line
    line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
    if [[ $line =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
        failed=$((failed + BASH_REMATCH[1]))
        passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
    else
        status=1
    fi
    rm -f "$log"
}

run_ctest ctest --preset native
run_ctest ctest --preset i686
# One X server for the whole Wine run; the tests find it through DISPLAY.
run_ctest xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset x86_64

echo "$passed passed, $failed failed"
exit $status
