#!/usr/bin/env bash
# Fuzzes the command-line parser for longer than the test run does, from a new random seed:
#     scripts/fuzz.sh [SECONDS | --runs N]      (default: 600 seconds)
# What it finds to keep exploring lands in build/sanitize/fuzz/corpus, so each run goes on from
# the last; an input that breaks a rule lands in build/sanitize/fuzz/findings and the exit is 1.
set -euo pipefail
cd "$(dirname "$0")/.."

usage="usage: scripts/fuzz.sh [SECONDS | --runs N]"
if [[ ${1:-} == --runs ]]; then
    [[ ${2:-} =~ ^[0-9]+$ ]] || { echo "$usage" >&2; exit 2; }
    limit=(-runs="$2")
elif [[ ${1:-600} =~ ^[0-9]+$ ]]; then
    limit=(-max_total_time="${1:-600}")
else
    echo "$usage" >&2
    exit 2
fi

scripts/install-prerequisites.sh --packages-only
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize --target command_line_fuzzer >/dev/null

work=build/sanitize/fuzz
mkdir -p "$work/corpus" "$work/findings"
# As the sanitize test preset runs the tests.
export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1
export UBSAN_OPTIONS=print_stacktrace=1
# libFuzzer writes into the first folder only: the seeds in the repository stay as they are.
if build/sanitize/tests/fuzz/command_line_fuzzer "${limit[@]}" -timeout=10 -print_final_stats=1 \
    -dict=tests/fuzz/command-line.dict -artifact_prefix="$work/findings/" \
    "$work/corpus" tests/fuzz/corpus; then
    echo "No rule broken. The corpus holds $(find "$work/corpus" -type f | wc -l) inputs."
else
    echo "A rule was broken; replay with: build/sanitize/tests/fuzz/command_line_fuzzer <file in $work/findings>" >&2
    exit 1
fi
