#!/usr/bin/env bash
# make fuzz: builds the libFuzzer targets into build-fuzz/ with clang and runs each for
# FUZZ_SECONDS (default 60) on its corpus in build-fuzz/corpus/<target>. A crash leaves its input
# in build-fuzz/findings/ and fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
out=build-fuzz

cmake -S fuzz -B "$out" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$out" -j "$(nproc)"

# Seeds: records as the board sends them, a record behind garbage, and a small S file.
seed() { mkdir -p "$out/corpus/$1"; printf '%s' "$3" >"$out/corpus/$1/$2"; }
seed record board $'\x1aad0:00001234ad1:00005678\r\n\x1a+0001234ad1:-0000042\r\n'
seed record shifted $'\x1cxxad0:    1234ad1:    5678\r\n\xfe\x1aad0:-9999999ad1:+9999999\r\n'
seed text srec $'S00600004844521B\r\nS1130000285F245F2212226A000424290008237C2A\nS9030000FC\n\x1a'
seed text straddle $'\x08\x20line\r\n\x1aafter'
mkdir -p "$out/findings"

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for target in record text; do
    echo "fuzz: ${target}_fuzzer for ${seconds} s"
    if ! "$out/bin/${target}_fuzzer" -max_total_time="$seconds" -max_len=512 -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$out/findings/${target}-" \
        "$out/corpus/$target" 2>"$out/${target}.log"; then
        status=1
        echo "fuzz: ${target}_fuzzer found a fault; its input is in $out/findings/"
    fi
    grep -E '^stat::(number_of_executed_units|new_units_added|peak_rss_mb)' "$out/${target}.log" \
        | sed "s/^/fuzz: ${target}: /" || true
    tail -n 3 "$out/${target}.log" | grep -E 'ERROR|Fault|fuzzer:|SUMMARY' || true
done
exit $status
