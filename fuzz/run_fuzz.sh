#!/usr/bin/env bash
# Runs the fuzz targets of a build made with -DSITEWAVE_FUZZ=ON (clang).
#
#   fuzz/run_fuzz.sh BUILD [--replay] [--runs N] [--time SECONDS] [TARGET...]
#
# --replay      run every input of the seed corpus and the regression cases once
# --runs N      then N fresh executions per target with a fixed seed (deterministic)
# --time S      or fuzz each target for S seconds (new inputs go to a scratch folder)
# Fails on a crash, a sanitizer report or a leak (libFuzzer's exit status).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
shift
replay=0 runs=0 seconds=0 targets=()
while (($#)); do
    case $1 in
    --replay) replay=1 ;;
    --runs) runs=$2; shift ;;
    --time) seconds=$2; shift ;;
    *) targets+=("$1") ;;
    esac
    shift
done
if ((${#targets[@]} == 0)); then
    targets=(list_read record soil at2 batch_cli run steps plan site rvt)
fi
for t in "${targets[@]}"; do
    exe="$build/fuzz/fuzz_$t"
    seeds=(fuzz/corpus/"$t")
    [[ -d fuzz/regressions/$t ]] && seeds+=(fuzz/regressions/"$t")
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    if ((replay)); then
        echo "== $t: replaying ${seeds[*]}"
        "$exe" -runs=0 "${seeds[@]}" 2>&1 | tail -n 2
    fi
    if ((runs > 0)); then
        echo "== $t: $runs executions, seed 1"
        "$exe" -runs="$runs" -seed=1 -max_len=4096 -timeout=20 "$scratch" "${seeds[@]}" 2>&1 | tail -n 2
    fi
    if ((seconds > 0)); then
        echo "== $t: fuzzing for $seconds s"
        "$exe" -max_total_time="$seconds" -max_len=4096 -timeout=20 -print_final_stats=1 \
            -artifact_prefix="$scratch/" "$scratch" "${seeds[@]}" 2>&1 | tail -n 12
        if ls "$scratch" | grep -qE '^(crash|leak|timeout|oom)-'; then
            mkdir -p "fuzz/found/$t"
            cp "$scratch"/crash-* "$scratch"/leak-* "$scratch"/timeout-* "$scratch"/oom-* \
                "fuzz/found/$t/" 2>/dev/null || true
            echo "== $t: failing inputs kept in fuzz/found/$t/"
            exit 1
        fi
    fi
    rm -rf "$scratch"
done
