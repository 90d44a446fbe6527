#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer
# on) and runs each for the given number of seconds (default 180), starting from the
# committed seed corpora. New inputs go to build-fuzz/corpus-*, crashes to build-fuzz/.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
seconds="${1:-180}"

ensure_packages cmake make clang libclang-rt-14-dev pkg-config libtomlplusplus-dev
dir="$ROOT/build-fuzz"
CXX=clang++ cmake -S "$ROOT" -B "$dir" -DVK9RSC_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$dir" --parallel "$(nproc)"
status=0
for target in traffictext decoding receive telnet pjlink; do
    corpus="$dir/corpus-$target"
    mkdir -p "$corpus"
    cp -n "$ROOT/fuzz/corpus/$target/"* "$corpus/" 2>/dev/null || true
    echo "== fuzz_$target for ${seconds}s"
    (cd "$dir" && "./fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
        -max_len=4096 "$corpus" 2>&1 | grep -E 'Done|stat::number_of_executed_units|stat::new_units_added|ERROR|SUMMARY|crash-') ||
        true
    ls "$dir"/crash-* "$dir"/leak-* "$dir"/timeout-* 2>/dev/null && status=1
done
exit "$status"
