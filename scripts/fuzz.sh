#!/usr/bin/env bash
# Builds the fuzz preset and runs every harness for SECONDS (default 20) on a copy of its seed
# corpus with a fresh seed. A crash, a leak, a sanitizer report or a time-out fails the run and
# prints the reproducer's path; the fuzzer's own log of each harness stays beside it.
#   bash scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
[[ $seconds =~ ^[0-9]+$ ]] || { echo "usage: scripts/fuzz.sh [SECONDS]" >&2; exit 2; }

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_harnesses -j"$(nproc)" >/dev/null

work=build/fuzz/runs
rm -rf "$work"
mkdir -p "$work"
failed=0
for harness in build/fuzz/tests/fuzz/fuzz_*; do
    [[ -x $harness ]] || continue
    surface=${harness##*/fuzz_}
    corpus="$work/$surface/corpus"
    mkdir -p "$corpus" "$work/$surface/findings"
    cp tests/fuzz/corpus/"$surface"/* "$corpus"/ 2>/dev/null || true
    log="$work/$surface/fuzz.log"
    # A single input taking more than 10 s is a hang; no input may use more than 2 GB.
    if "$harness" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -seed="$RANDOM$RANDOM" -print_final_stats=1 \
        -artifact_prefix="$work/$surface/findings/" >"$log" 2>&1; then
        stats=$(grep -E "^stat::number_of_executed_units|^stat::average_exec_per_sec" "$log" |
            sed 's/stat:://' | tr '\n' ' ')
        cov=$(grep -oE "cov: [0-9]+ ft: [0-9]+" "$log" | tail -1)
        echo "== fuzz_$surface: clean after ${seconds} s ($stats$cov)"
    else
        failed=1
        echo "== fuzz_$surface: FAILED; reproducer:"
        ls "$work/$surface/findings/"* 2>/dev/null | sed 's/^/   /'
        grep -E "ERROR:|SUMMARY:|runtime error" "$log" | head -5 | sed 's/^/   /'
        echo "   log: $log"
    fi
done
exit $failed
