#!/usr/bin/env bash
# Measures an idle `zentrove service` holding 50 tasks whose next runs are days away: the processor
# time it takes over a measuring period (from /proc/<pid>/stat) and its resident memory (VmRSS and
# the peak VmHWM from /proc/<pid>/status). Fails when it uses 0.1% of one core or more, or 20 MB.
#
# Usage: run_idle_bench.sh /path/to/zentrove [seconds]   (default 60 seconds)
set -euo pipefail

program=${1:?usage: run_idle_bench.sh /path/to/zentrove [seconds]}
seconds=${2:-60}
max_cpu_percent=0.1
max_rss_kb=$((20 * 1024))

work=$(mktemp -d "${TMPDIR:-/tmp}/zentrove-idle-XXXXXX")
pid=""
cleanup() {
  if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Everything the program touches stays in the scratch folder: its configuration, its session lock,
# the autostart entry it keeps in step with its options.
export ZENTROVE_CONFIG_DIR="$work/config"
export XDG_CONFIG_HOME="$work/xdg"
export XDG_RUNTIME_DIR="$work/run"
mkdir -p "$ZENTROVE_CONFIG_DIR" "$XDG_RUNTIME_DIR" "$work/source" "$work/target"
chmod 700 "$XDG_RUNTIME_DIR"
echo "data" > "$work/source/file.txt"

# 50 tasks of the four time kinds, each first due three to ten days from now.
for i in $(seq 0 49); do
  number=$("$program" add)
  start=$(date -d "+$((3 + i % 8)) days" +%d/%m/%Y)
  kind=$((i % 4))
  "$program" set "$number" IsActive=1 ArhPeriod_PeriodID=$kind ArhStartDate="$start" ArhPeriod_OneDate="$start" \
    ArhPeriod_BeginTime="$((i % 24)):30:00" ArhPeriod_EveryDay=7 ArhPeriod_EveryWeek=2 \
    DayOfWeek=1111111 ArhPeriod_EveryMonth=$((1 + i % 28)) MonthOfYear=111111111111 \
    FileSourceMask="$work/source/" Target="$work/target" Description="idle $i" > /dev/null
done
scheduled=$("$program" list | awk -F'\t' '$4 != "" { n++ } END { print n + 0 }')
echo "tasks with a next start: $scheduled of $("$program" list | wc -l)"

"$program" service > "$work/service.out" 2>&1 &
pid=$!

# Measure from the moment the task list is loaded.
for _ in $(seq 100); do
  grep -q "Tasks list successfully loaded" "$ZENTROVE_CONFIG_DIR/Zentrove.log" 2>/dev/null && break
  kill -0 "$pid" 2>/dev/null || { echo "the service ended early:"; cat "$work/service.out"; exit 1; }
  sleep 0.1
done
sleep 3  # the first ticks settle the memory

ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
# The scheduler's own count of the time on a processor, in nanoseconds, summed over the threads;
# finer than the clock ticks of /proc/<pid>/stat, which may not see a few milliseconds at all.
run_ns() { cat /proc/"$pid"/task/*/schedstat 2>/dev/null | awk '{ n += $1 } END { printf "%.0f\n", n }'; }
field_kb() { awk -v key="$1:" '$1 == key { print $2 }' "/proc/$pid/status"; }

hz=$(getconf CLK_TCK)
ticks_before=$(ticks)
run_before=$(run_ns)
start_ns=$(date +%s%N)
rss_max=0
for _ in $(seq "$seconds"); do
  sleep 1
  kill -0 "$pid" 2>/dev/null || { echo "the service ended while measured:"; cat "$work/service.out"; exit 1; }
  rss=$(field_kb VmRSS)
  (( rss > rss_max )) && rss_max=$rss
done
ticks_after=$(ticks)
run_after=$(run_ns)
end_ns=$(date +%s%N)
hwm=$(field_kb VmHWM)

read -r cpu_seconds wall_seconds cpu_percent < <(awk -v t=$((ticks_after - ticks_before)) -v hz="$hz" \
  -v ns=$((end_ns - start_ns)) 'BEGIN { c = t / hz; w = ns / 1e9; printf "%.3f %.1f %.4f\n", c, w, 100 * c / w }')

echo "processor time: ${cpu_seconds} s in ${wall_seconds} s = ${cpu_percent}% of one core (limit ${max_cpu_percent}%)"
read -r run_ms run_percent < <(awk -v r=$((run_after - run_before)) -v ns=$((end_ns - start_ns)) \
  'BEGIN { printf "%.1f %.4f\n", r / 1e6, 100 * r / ns }')
echo "time on a processor (schedstat): ${run_ms} ms = ${run_percent}% of one core"
echo "resident memory: largest ${rss_max} kB while measured, peak ${hwm} kB since start (limit ${max_rss_kb} kB)"

status=0
for percent in "$cpu_percent" "$run_percent"; do
  awk -v p="$percent" -v m="$max_cpu_percent" 'BEGIN { exit !(p < m) }' || { echo "FAIL: processor use"; status=1; break; }
done
(( hwm < max_rss_kb )) || { echo "FAIL: resident memory"; status=1; }
(( status == 0 )) && echo "PASS"
exit $status
