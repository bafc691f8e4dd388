#!/usr/bin/env bash
# make bench: the window benchmarks under the offscreen platform, a transfer against a far end at
# the line's own rate (11,520 and 3,840 B/s), then the real program under Xvfb, printed as one
# table with every figure beside its baseline from the same run or the line's rate.
#   BENCH_BIN          where the programs are (default build/bin)
#   BENCH_TRANSFERS    1 MiB transfers of each kind (default 3)
#   BENCH_LINE_SCALE   scales the line-rate transfers' files (default 1: 120,000 and 40,000 B)
#   BENCH_STARTUPS     start-ups of each program, after one warm-up each (default 9)
#   BENCH_IDLE_SECONDS how long the idle program is watched (default 10)
#   BENCH_IDLE_RUNS    how many times (default 3; the median is shown)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${BENCH_BIN:-build/bin}
startups=${BENCH_STARTUPS:-9}
idle_seconds=${BENCH_IDLE_SECONDS:-10}
idle_runs=${BENCH_IDLE_RUNS:-3}

work=$(mktemp -d)
xvfb=""
cleanup() {
    if [ -n "$xvfb" ]; then
        kill "$xvfb" 2>/dev/null || true
        wait "$xvfb" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
# Everything runs in an empty directory: the window's hidden file dialog watches the one it starts
# in, and a busy one would show up in every figure.
bin=$(realpath "$bin")
mkdir "$work/cwd"
cd "$work/cwd"

echo "bench: window benchmarks (offscreen)" >&2
QT_QPA_PLATFORM=offscreen QUENBY_BENCH_TRANSFERS=${BENCH_TRANSFERS:-3} \
    "$bin/quenby-bench" --benchmark_color=false >"$work/gui.txt" 2>"$work/gui.log" || {
    cat "$work/gui.log" >&2
    exit 1
}
grep -E '^(transfer [0-9]|tick_)' "$work/gui.log" >&2 || true

echo "bench: transfers at the line's rate (offscreen, about 1 minute)" >&2
QT_QPA_PLATFORM=offscreen QUENBY_BENCH_LINE_SCALE=${BENCH_LINE_SCALE:-1} "$bin/quenby-bench-line" >>"$work/gui.txt" 2>"$work/line.log" || {
    cat "$work/line.log" >&2
    exit 1
}
grep -E '^line_' "$work/line.log" >&2 || true

echo "bench: start-up and idle processor time (Xvfb)" >&2
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
if [ ! -s "$work/display" ]; then
    echo "bench: Xvfb did not start" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
export DISPLAY=":$(head -n 1 "$work/display")" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work"
probe="$bin/quenby-bench-xprobe"
# A probe that fails stops the run with what it was measuring and the probe's own messages.
probe_failed() {
    echo "bench: quenby-bench-xprobe failed: $1" >&2
    cat "$work/probe.log" >&2
    exit 1
}
bare=("$bin/quenby-bench-bare-window")
program=("$bin/quenby")

"$probe" startup quenby-bench-bare-window -- "${bare[@]}" >/dev/null 2>"$work/probe.log" ||
    probe_failed "warm-up start of the bare window"
"$probe" startup Quenby -- "${program[@]}" >/dev/null 2>"$work/probe.log" ||
    probe_failed "warm-up start of the program"
for _ in $(seq "$startups"); do
    "$probe" startup quenby-bench-bare-window -- "${bare[@]}" 2>"$work/probe.log" \
        >>"$work/bare.ms" || probe_failed "start-up of the bare window"
    "$probe" startup Quenby -- "${program[@]}" 2>"$work/probe.log" >>"$work/program.ms" ||
        probe_failed "start-up of the program"
done
for _ in $(seq "$idle_runs"); do
    "$probe" idle "$idle_seconds" quenby-bench-bare-window -- "${bare[@]}" --timer \
        2>"$work/probe.log" >>"$work/idle-timer.txt" || probe_failed "idle bare window with a timer"
    "$probe" idle "$idle_seconds" Quenby -- "${program[@]}" 2>"$work/probe.log" \
        >>"$work/idle.txt" || probe_failed "idle program"
done

median() { sort -g "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
{
    echo "startup_bare_ms $(median "$work/bare.ms")"
    echo "startup_program_ms $(median "$work/program.ms")"
    echo "startup_runs $startups"
    cut -d' ' -f1 "$work/idle.txt" >"$work/idle.stat"
    cut -d' ' -f2 "$work/idle.txt" >"$work/idle.sched"
    echo "idle_cpu_stat_pct $(median "$work/idle.stat")"
    echo "idle_cpu_schedstat_pct $(median "$work/idle.sched")"
    cut -d' ' -f2 "$work/idle-timer.txt" >"$work/idle-timer.sched"
    echo "idle_timer_schedstat_pct $(median "$work/idle-timer.sched")"
    echo "idle_runs $idle_runs"
    echo "idle_seconds $idle_seconds"
} >>"$work/gui.txt"

awk '
function ok(b) { return b ? "yes" : "**no**" }
{ v[$1] = $2 }
END {
    line = 115200 / 10
    ratio1 = v["transfer_real_Bps"] / v["transfer_bare_Bps"]
    idle = v["tick_idle_lines_100000_us"] / v["tick_idle_lines_0_us"]
    rec = v["tick_record_lines_100000_us"] / v["tick_record_lines_0_us"]
    paint = v["tick_record_repaint_lines_100000_us"] / v["tick_record_repaint_lines_0_us"]
    start = v["startup_program_ms"] / v["startup_bare_ms"]
    print "| # | measure | result | baseline (same run) | goal | met |"
    print "|---|---|---|---|---|---|"
    printf "| 1 | CPU efficiency: 1 MiB transfer through Button2Click as fast as the far end takes it (offscreen, COM2 = pty read at once) | %.0f B/s, ratio %.3f; %.1fx the 115200 bit/s line (%d B/s) | bare write + processEvents loop: %.0f B/s | ratio >= 0.9 | %s |\n", \
        v["transfer_real_Bps"], ratio1, v["transfer_real_Bps"] / line, line, v["transfer_bare_Bps"], ok(ratio1 >= 0.9)
    printf "| 2 | Timer1 interval during that 1 MiB transfer (%d intervals) | p50 %.2f ms, p99 %.2f ms, max %.2f ms | 50 ms | p99 <= 60 ms | %s |\n", \
        v["tick_gap_count"], v["tick_gap_p50_ms"], v["tick_gap_p99_ms"], v["tick_gap_max_ms"], ok(v["tick_gap_p99_ms"] <= 60)
    printf "| 3a | Timer1Timer, nothing waiting, 100,000-line monitor | %.2f us (%.2fx) | 0-line monitor: %.2f us | <= 1.2x | %s |\n", \
        v["tick_idle_lines_100000_us"], idle, v["tick_idle_lines_0_us"], ok(idle <= 1.2)
    printf "| 3b | Timer1Timer, a record waiting, 100,000-line monitor | %.1f us (%.2fx; %.2fx a 1-line monitor, %.1f us) | 0-line monitor: %.1f us | <= 1.2x | %s |\n", \
        v["tick_record_lines_100000_us"], rec, v["tick_record_lines_100000_us"] / v["tick_record_lines_1_us"], \
        v["tick_record_lines_1_us"], v["tick_record_lines_0_us"], ok(rec <= 1.2)
    printf "| 3c | the same with the repaint it causes (for reference) | %.1f us (%.2fx) | 0-line monitor: %.1f us | - | - |\n", \
        v["tick_record_repaint_lines_100000_us"], paint, v["tick_record_repaint_lines_0_us"]
    printf "| 4 | memory per monitor line at 100,000 lines (%.0f-char chunk texts) | heap %.0f B, RSS %.0f B | - | <= 400 B | %s |\n", \
        v["line_chars"], v["line_heap_bytes"], v["line_rss_bytes"], ok(v["line_heap_bytes"] <= 400 && v["line_rss_bytes"] <= 400)
    printf "| 5 | CPU of the idle program over %d s (Xvfb, COM2 = quiet pty; median of %d) | %.3f%% of one core (/proc/pid/stat); %.3f%% (schedstat) | for reference, a bare window with an empty 50 ms timer: %.3f%% (schedstat) | <= 0.3%% | %s |\n", \
        v["idle_seconds"], v["idle_runs"], v["idle_cpu_stat_pct"], v["idle_cpu_schedstat_pct"], v["idle_timer_schedstat_pct"], ok(v["idle_cpu_stat_pct"] <= 0.3)
    printf "| 6 | start-up to window mapped (Xvfb, median of %d) | %.1f ms, ratio %.2f | bare Qt window: %.1f ms | ratio <= 1.3 | %s |\n", \
        v["startup_runs"], v["startup_program_ms"], start, v["startup_bare_ms"], ok(start <= 1.3)
    n = split("11520 3840", rates, " ")
    split("a b", tag, " ")
    port["11520"] = "COM2 at 115200"; port["3840"] = "COM3 selected with its button, 38400"
    rate["11520"] = "11,520"; rate["3840"] = "3,840"
    for (i = 1; i <= n; i++) {
        r = rates[i]; k = "line_" r "_"
        printf "| 7%s | line utilisation: %d-byte file through Button2Click, %s, far end takes %s B/s (offscreen) | %.4f: %d B on the line in %.2f s; longest idle %.1f ms; the end text came %.2f s before the last byte | the line: %s B/s, %.2f s for these bytes | >= 0.97 | %s |\n", \
            tag[i], v[k "file_bytes"], port[r], rate[r], v[k "utilisation"], v[k "line_bytes"], v[k "span_s"], v[k "idle_max_ms"], v[k "after_end_s"], \
            rate[r], v[k "line_bytes"] / r, ok(v[k "utilisation"] >= 0.97)
    }
    for (i = 1; i <= n; i++) {
        r = rates[i]; k = "line_" r "_"
        printf "| 8%s | Timer1 interval during the %s B/s transfer (%d intervals in %.2f s) | p50 %.2f ms, p99 %.2f ms, max %.2f ms | 50 ms | p99 <= 60 ms | %s |\n", \
            tag[i], rate[r], v[k "tick_count"], v[k "handler_s"], v[k "tick_p50_ms"], v[k "tick_p99_ms"], v[k "tick_max_ms"], ok(v[k "tick_count"] > 0 && v[k "tick_p99_ms"] <= 60)
    }
    for (i = 1; i <= n; i++) {
        r = rates[i]; k = "line_" r "_"
        printf "| 9%s | the window'"'"'s answer time during the %s B/s transfer: delay of an event posted to it every 5 ms from another thread (%d events) | p50 %.2f ms, p99 %.2f ms, max %.2f ms | the idle window just before: p99 %.2f ms | p99 <= 10 ms | %s |\n", \
            tag[i], rate[r], v[k "answer_count"], v[k "answer_p50_ms"], v[k "answer_p99_ms"], v[k "answer_max_ms"], v[k "answer_idle_p99_ms"], ok(v[k "answer_count"] > 0 && v[k "answer_p99_ms"] <= 10)
    }
    for (i = 1; i <= n; i++) {
        r = rates[i]; k = "line_" r "_"
        printf "| 10%s | main thread'"'"'s CPU during the %s B/s transfer, from the dialog'"'"'s accept to the last byte on the line (%.2f s; a run without the answer probe; far end not counted) | %.2f%% of one core; over the handler'"'"'s run alone %.2f%% (%.2f%% with the probe); %.0f sleeps or waits a second | the idle window just before: %.2f%%; the bare write + processEvents loop of row 1 at %s B/s: %.2f%% | <= 5%% | %s |\n", \
            tag[i], rate[r], v[k "transfer_s"], v[k "cpu_pct"], v[k "cpu_handler_pct"], v[k "cpu_probed_pct"], v[k "waits_per_s"], v[k "cpu_idle_pct"], rate[r], 100 * r / v["transfer_bare_Bps"], ok(v[k "cpu_pct"] <= 5)
    }
}' "$work/gui.txt"
