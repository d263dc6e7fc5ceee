#!/usr/bin/env bash
# Every test: installs what is missing, builds the four configurations, runs the unit tests (again
# under the sanitizers, with a bounded run of the command-line fuzzer), the checks of the shipped
# 32-bit program, and the end-to-end tests of that program under Wine (headless, each module with
# an X server of its own, side by side). Ends with how 32-bit code ran, the time of each step and
# "N passed, N failed, N skipped".
#
# The end-to-end tests run the shipped 32-bit QXSetup.exe, natively or emulated (see
# install-prerequisites.sh); where 32-bit code cannot run, the run fails and says why.
# QXSETUP_E2E=twin runs them on the 64-bit twin instead, and the summary says so.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/i386.sh
source scripts/i386.sh

e2e_program=${QXSETUP_E2E:-shipped}
if [[ $e2e_program != shipped && $e2e_program != twin ]]; then
    echo "QXSETUP_E2E is shipped or twin, not \"$e2e_program\"" >&2
    exit 2
fi

times=()
step_started=$SECONDS
step_done() {
    local took=$((SECONDS - step_started))
    times+=("$1 $((took / 60))m$((took % 60))s")
    step_started=$SECONDS
}

# Where 32-bit code cannot run, this stops the run with the one line that says why, unless the
# twin was asked for, which needs none.
prerequisites=0
scripts/install-prerequisites.sh || prerequisites=$?
if ((prerequisites == 3)) && [[ $e2e_program == twin ]]; then
    echo "QXSETUP_E2E=twin: the end-to-end tests run the 64-bit twin, and skip what needs 32-bit code"
elif ((prerequisites != 0)); then
    exit "$prerequisites"
fi
how_32bit=$(i386_how) || how_32bit="does not run here"
step_done prerequisites

# The 32-bit tree first: the 64-bit tree's end-to-end tests run its QXSetup.exe.
for preset in native sanitize i686 x86_64; do
    cmake --preset "$preset" >"build-$preset.log" 2>&1 || { cat "build-$preset.log"; exit 1; }
    cmake --build --preset "$preset"
    step_done "build $preset"
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
for preset in native sanitize i686; do
    run_ctest ctest --preset "$preset"
    step_done "test $preset"
done

# Each module of the end-to-end tests is registered for the shipped file (label shipped) and
# for the twin (label twin); only those of the program asked for run.
if [[ $e2e_program == twin ]]; then
    run_ctest ctest --preset x86_64 --label-exclude shipped
else
    run_ctest ctest --preset x86_64 --label-exclude twin
fi
step_done "test x86_64 (end-to-end)"

runs=build/x86_64/tests/e2e/work/qxsetup-runs.txt
shipped_runs=0
twin_runs=0
if [[ -f $runs ]]; then
    shipped_runs=$(grep -c '^32$' "$runs" || true)
    twin_runs=$(grep -c '^64$' "$runs" || true)
fi
if [[ $e2e_program == twin ]]; then
    echo "End-to-end runs of QXSetup.exe: $shipped_runs of the shipped 32-bit file, $twin_runs of the 64-bit twin, which QXSETUP_E2E=twin asked for in its place"
else
    echo "End-to-end runs of QXSetup.exe: $shipped_runs of the shipped 32-bit file, $twin_runs of the 64-bit twin"
    # Users run the shipped file: a run that never started it passes nothing.
    if ((shipped_runs == 0)); then
        echo "No end-to-end test ran the shipped file: the run fails"
        status=1
    fi
fi
echo "32-bit code: $how_32bit"
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
printf -v time_line '%s, ' "${times[@]}"
echo "Time: ${time_line%, }; in all $((SECONDS / 60))m$((SECONDS % 60))s"
echo "$passed passed, $failed failed, $skipped skipped"
exit $status
