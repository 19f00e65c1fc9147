#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build-fuzz/) and runs each for a
# short while, starting from the committed seed corpus in fuzz/corpus/.
# Any crash or broken property fails the stage; the input that found it is
# left in build-fuzz/findings/.
#
#   scripts/test_fuzz.sh                 every target, 30 s each (10 s for
#                                        game_time and funds: their inputs
#                                        of 5 and 9 bytes reach their full
#                                        coverage within the first second),
#                                        as many at a time as there are
#                                        processors
#   FUZZ_SECONDS=3600 scripts/test_fuzz.sh convert_file
#                                        one target, an hour
#
# New inputs found along the way go to build-fuzz/corpus/<target>/ (kept
# between runs, never committed); fuzz/corpus/ is only read.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/apt_install.sh cmake ninja-build clang libclang-rt-14-dev

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(split_path make_output_name game_time funds convert_file)

# How long each target runs unless FUZZ_SECONDS says otherwise.
run_seconds() {
    case $1 in
        game_time|funds) echo "${FUZZ_SECONDS:-10}" ;;
        *) echo "${FUZZ_SECONDS:-30}" ;;
    esac
}

# Longest input worth trying for each target.
max_len() {
    case $1 in
        split_path|make_output_name) echo 300 ;;
        game_time) echo 5 ;;
        funds) echo 9 ;;
        convert_file) echo 4096 ;;
    esac
}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc 2>/dev/null || echo 2)" \
    --target $(printf '%s_fuzz ' "${targets[@]}")

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p build-fuzz/findings

# Runs one target and writes what it found to build-fuzz/<target>.result
# (the verdict's lines) and its exit status to build-fuzz/<target>.status.
fuzz_one() {
    local target=$1 work=build-fuzz/corpus/$1 log=build-fuzz/$1.log result=build-fuzz/$1.result
    mkdir -p "$work"
    if build-fuzz/fuzz/${target}_fuzz -max_total_time="$(run_seconds "$target")" \
        -max_len="$(max_len "$target")" -print_final_stats=1 \
        -artifact_prefix="build-fuzz/findings/${target}-" "$work" "fuzz/corpus/$target" >"$log" 2>&1; then
        runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' "$log")
        rate=$(sed -nE 's/^stat::average_exec_per_sec: *([0-9]+)/\1/p' "$log")
        cov=$(grep -E '^#[0-9]+.*(DONE|cov:)' "$log" | tail -1 | sed -nE 's/.*cov: ([0-9]+) ft: ([0-9]+).*/cov \1, features \2/p')
        echo "fuzz $target: $runs executions ($rate/s), $cov, no findings" >"$result"
        echo 0 >"build-fuzz/$target.status"
    else
        { echo "fuzz $target: FINDING (see $log and build-fuzz/findings/)"; tail -40 "$log"; } >"$result"
        echo 1 >"build-fuzz/$target.status"
    fi
}

# As many targets at a time as there are processors (each runs on one),
# the longest first; each tells its verdict in the order given.
jobs=$(nproc 2>/dev/null || echo 2)
running=0
for target in $(for t in "${targets[@]}"; do echo "$(run_seconds "$t") $t"; done | sort -rn | cut -d' ' -f2); do
    if [ "$running" -ge "$jobs" ]; then
        wait -n || true
        running=$((running - 1))
    fi
    echo "--- $target: $(run_seconds "$target") s" >&2
    rm -f "build-fuzz/$target.status"
    fuzz_one "$target" &
    running=$((running + 1))
done
wait || true
status=0
for target in "${targets[@]}"; do
    cat "build-fuzz/$target.result" >&2
    [ "$(cat "build-fuzz/$target.status" 2>/dev/null)" = 0 ] || status=1
done
exit $status
