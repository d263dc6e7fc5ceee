#!/usr/bin/env bash
# Every test: installs what is missing, builds the four configurations, runs the unit tests (again
# under the sanitizers, with a bounded run of the command-line fuzzer), the checks of the shipped
# 32-bit program, and the end-to-end tests of that program under Wine (headless). Ends with
# "N passed, N failed, N skipped".
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-prerequisites.sh

# The 32-bit tree first: the 64-bit tree's end-to-end tests run its QXSetup.exe.
for preset in native sanitize i686 x86_64; do
    cmake --preset "$preset" >"build-$preset.log" 2>&1 || { cat "build-$preset.log"; exit 1; }
    cmake --build --preset "$preset"
done
rm -f build-*.log

passed=0
failed=0
skipped=0
status=0
run_ctest() {
    local log
    log=$(mktemp)
    "$@" 2>&1 | tee "$log" || status=1
    local line
    line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
    if [[ $line =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
        # CTest counts a skipped test among those that did not fail.
        local skips
        skips=$(grep -cE '\(Skipped\)$' "$log" || true)
        failed=$((failed + BASH_REMATCH[1]))
        skipped=$((skipped + skips))
        passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1] - skips))
    else
        status=1
    fi
    rm -f "$log"
}

# The fault and kill injectors, native unit tests, leave their one-line summaries here.
injection=build/native/tests/unit/fault-injection.txt
kills=build/native/tests/unit/kill-injection.txt
rm -f "$injection" "$kills"
run_ctest ctest --preset native
run_ctest ctest --preset sanitize
run_ctest ctest --preset i686

# The end-to-end tests run the shipped 32-bit QXSetup.exe. Only a machine that cannot run
# 32-bit code runs its 64-bit twin instead, and the shipped file's runs then count as skipped.
wine32=${QXSETUP_WINE32:-/usr/lib/wine/wine}
if "$wine32" --version >/dev/null 2>&1; then
    e2e=(ctest --preset x86_64 --label-exclude twin)
else
    echo "This machine cannot run 32-bit code ($wine32 does not start): the end-to-end tests run the 64-bit twin of QXSetup.exe, and the shipped file's runs are skipped."
    e2e=(ctest --preset x86_64)
fi
# One X server for the whole Wine run; the tests find it through DISPLAY. A display number of
# its own lets two runs on one machine start at the same moment.
run_ctest xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1280x1024x24" "${e2e[@]}"

runs=build/x86_64/tests/e2e/work/qxsetup-runs.txt
if [[ -f $runs ]]; then
    echo "End-to-end runs of QXSetup.exe: $(grep -c '^32$' "$runs" || true) of the shipped 32-bit file, $(grep -c '^64$' "$runs" || true) of the 64-bit twin"
fi
if [[ -f $injection ]]; then
    cat "$injection"
else
    echo "fault injection: did not finish"
fi
if [[ -f $kills ]]; then
    cat "$kills"
else
    echo "kill injection: did not finish"
fi
echo "$passed passed, $failed failed, $skipped skipped"
exit $status
