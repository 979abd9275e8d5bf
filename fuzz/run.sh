#!/usr/bin/env bash
# Builds the fuzz targets (the "fuzz" preset: clang-14, AddressSanitizer + UndefinedBehavior-
# Sanitizer) and runs each for SECONDS on its seed corpus, which is written afresh from small
# generated databases. Inputs that add coverage are kept in build/fuzz/corpus/<target>; a crash
# leaves its input in build/fuzz/artifacts/ and makes the script fail.
#
# Usage: fuzz/run.sh [SECONDS] [TARGET...]     (default: 60 seconds, every target)
#   e.g. fuzz/run.sh 20                        the short run of CI
#        fuzz/run.sh 1800 detail_table         half an hour on one target
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(header film_rows detail_layouts detail_table search export check import)
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

out=build/fuzz/fuzz
rm -rf "$out/seeds"
"$out/ordavo-fuzz-seeds" "$out/seeds"
mkdir -p "$out/artifacts"

failed=()
for target in "${targets[@]}"; do
    corpus="$out/corpus/$target"
    log="$out/$target.log"
    mkdir -p "$corpus"
    echo "== fuzz_$target for ${seconds} s"
    if "$out/fuzz_$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$out/artifacts/$target-" \
        "$corpus" "$out/seeds/$target" >"$log" 2>&1; then
        runs=$(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}')
        echo "   ${runs:-?} inputs run, $(ls "$corpus" | wc -l) in the corpus, nothing found"
    else
        echo "   FAILED: see $log and $out/artifacts/"
        grep -E -m5 'ERROR|property violated|runtime error|SUMMARY' "$log" | sed 's/^/   /' || true
        failed+=("$target")
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzzing found problems in: ${failed[*]}"
    exit 1
fi
