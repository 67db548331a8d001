#!/usr/bin/env bash
# Times the analysis and the deletion of synthetic libraries against the
# usual tools, in one run and interleaved (each round runs every tool once,
# so a change of machine load hits all of them alike), and prints medians,
# ratios and vellico-cli's peak memory:
#   - `vellico-cli analyze --json` against `du -s --apparent-size -B1` and
#     gdu, warm (page cache filled) and, when run as root, cold (page cache
#     dropped before every timing);
#   - `vellico-cli analyze --json --jobs N` for N = 1, 2, 4, 8 (warm);
#   - the CPU time (user + system) of both, warm;
#   - how soon a measurement stops once asked (stop_latency_bench), warm and cold;
#   - `vellico-cli clean --preset done --yes --json` (analysis included)
#     against `rm -rf` of the same folders, each on a fresh copy.
#
#   bench/analyze_bench.sh [BUILD_DIR] [SIZES] [RUNS]
#
# Defaults: build, "200000 1000000" files, 5 rounds (3 for the cold and the
# deletion timings). Libraries are generated once under $TMPDIR (or /tmp) and
# reused while their file count does not change.
set -euo pipefail

build=${1:-build}
sizes=${2:-"200000 1000000"}
runs=${3:-5}
slow_runs=$(((runs + 1) / 2 > 3 ? 3 : (runs + 1) / 2))
cli="$(realpath "$build/src/cli/vellico-cli")"
maker="$build/tools/vellico-make-library"
stop_bench="$build/bench/stop_latency_bench"
root="${TMPDIR:-/tmp}/vellico-bench"
empty_home="$root/home" # no Movies folder: no backups are looked for

for tool in "$cli" "$maker" "$stop_bench" jq; do
    command -v "$tool" >/dev/null || { echo "missing $tool: build first (make build)" >&2; exit 1; }
done
have_gdu=0
command -v gdu >/dev/null && have_gdu=1
can_drop=0
[ "$(id -u)" -eq 0 ] && [ -w /proc/sys/vm/drop_caches ] && can_drop=1
mkdir -p "$empty_home"

now_ns() { date +%s%N; }
drop_caches() { sync; echo 3 >/proc/sys/vm/drop_caches; }

# time_ms CMD...: wall time of one run in milliseconds.
time_ms() {
    local start end
    start=$(now_ns)
    "$@" >/dev/null 2>&1 || true
    end=$(now_ns)
    echo $(((end - start) / 1000000))
}

# cpu_ms CMD...: user + system time of one run in milliseconds. Unlike the
# wall time, it hardly moves when other work shares the machine: a ratio of
# CPU times says whether a tool does more work, a ratio of wall times
# whether it also spreads it over the cores.
# (bash's own `time`, which also times the shell functions below.)
cpu_ms() {
    local TIMEFORMAT='%3U %3S'
    { time "$@" >/dev/null 2>&1; } 2>"$root/cpu" || true
    awk '{ printf "%d\n", ($1 + $2) * 1000 }' "$root/cpu"
}

# shellcheck source=bench/common.sh
. "$(dirname "$0")/common.sh"


vellico() { "$cli" analyze --json --home "$empty_home" "$@"; }
du_tool() { du -s --apparent-size -B1 "$1"; }
gdu_tool() { gdu -n -p -s -a "$1"; }

# bench_analysis LIBRARY ROUNDS COLD: prints "vellico du gdu" medians (ms).
bench_analysis() {
    local library=$1 rounds=$2 cold=$3
    local v=() d=() g=()
    vellico "$library" >/dev/null 2>&1 # warm-up (and a filled cache for the warm case)
    for ((i = 0; i < rounds; i++)); do
        [ "$cold" = 1 ] && drop_caches
        v+=("$(time_ms vellico "$library")")
        [ "$cold" = 1 ] && drop_caches
        d+=("$(time_ms du_tool "$library")")
        if [ "$cold" = 0 ]; then
            vc+=("$(cpu_ms vellico "$library")")
            dc+=("$(cpu_ms du_tool "$library")")
        fi
        if [ "$have_gdu" = 1 ]; then
            [ "$cold" = 1 ] && drop_caches
            g+=("$(time_ms gdu_tool "$library")")
        fi
    done
    local gm="-"
    [ "$have_gdu" = 1 ] && gm=$(printf '%s\n' "${g[@]}" | median)
    echo "vellico ${v[*]}; du ${d[*]}" >"$root/rounds"
    echo "$(printf '%s\n' "${v[@]}" | median) $(printf '%s\n' "${d[@]}" | median) $gm"
}

report_analysis() {
    local label=$1 v d g
    read -r v d g
    printf '  %-5s vellico %6s ms | du %6s ms | gdu %6s ms | vellico/du %s | vellico/gdu %s\n' \
        "$label" "$v" "$d" "$g" "$(ratio "$v" "$d")" "$(ratio "$v" "$g")"
    echo "        rounds: $(cat "$root/rounds") ms"
}

# The CPU times gathered by the warm rounds.
report_cpu() {
    local v d
    v=$(printf '%s\n' "${vc[@]}" | median)
    d=$(printf '%s\n' "${dc[@]}" | median)
    printf '  cpu   vellico %6s ms | du %6s ms | vellico/du %s (user + system)\n' "$v" "$d" "$(ratio "$v" "$d")"
}

# bench_deletion LIBRARY ROUNDS: fresh copies; vellico-cli clean against rm -rf
# of the folders the same preset selects. The side going first alternates.
bench_deletion() {
    local library=$1 rounds=$2 work
    work="$(dirname "$library")/del"
    local v=() r=()
    for ((i = 0; i < rounds; i++)); do
        rm -rf "$work"
        mkdir -p "$work/v" "$work/r"
        cp -a "$library" "$work/v/"
        cp -a "$library" "$work/r/"
        local vlib="$work/v/$(basename "$library")" rlib="$work/r/$(basename "$library")"
        mapfile -t folders < <("$cli" analyze --json --preset done --home "$empty_home" "$rlib" |
            jq -r '.libraries[0].foundFolders[] | select(.selected) | .path')
        sync
        sleep 3
        for side in $(if ((i % 2 == 0)); then echo "v r"; else echo "r v"; fi); do
            if [ "$side" = v ]; then
                v+=("$(time_ms "$cli" clean --preset done --yes --json --home "$empty_home" "$vlib")")
            else
                r+=("$(time_ms rm -rf "${folders[@]}")")
            fi
            sync
            sleep 3
        done
        # Both must leave the same files, but for the "__Sync__" file that the
        # release of the library's lock writes, as the editor's release does.
        local left
        left=$(find "$vlib" -type f ! -path "$vlib/__Sync__" | wc -l)
        [ "$left" = "$(find "$rlib" -type f | wc -l)" ] || echo "  (clean left $left files, rm -rf a different number)" >&2
    done
    rm -rf "$work"
    local vm rm_ms
    vm=$(printf '%s\n' "${v[@]}" | median)
    rm_ms=$(printf '%s\n' "${r[@]}" | median)
    printf '  clean %6s ms | rm -rf %6s ms | clean/rm %s (%d folders, median of %d, fresh copies)\n' \
        "$vm" "$rm_ms" "$(ratio "$vm" "$rm_ms")" "${#folders[@]}" "$rounds"
    echo "        rounds: clean ${v[*]} ms; rm -rf ${r[*]} ms"
}

echo "machine: $(nproc) cores; $(uptime)"
for files in $sizes; do
    library=$(library_for "$files")
    count=$(find "$library" -type f | wc -l)
    echo "library: $library ($count files)"
    vc=() dc=()
    bench_analysis "$library" "$runs" 0 >"$root/warm"
    report_analysis warm <"$root/warm"
    report_cpu
    if [ "$can_drop" = 1 ]; then
        bench_analysis "$library" "$slow_runs" 1 | report_analysis cold
    else
        echo "  cold  skipped: dropping the page cache needs root"
    fi
    rss_kb=$(/usr/bin/time -f '%M' "$cli" analyze --json --home "$empty_home" "$library" 2>&1 >/dev/null | tail -1)
    awk -v kb="$rss_kb" 'BEGIN { printf "  vellico-cli analyze peak RSS: %.1f MiB\n", kb / 1024 }'
    echo "  $("$stop_bench" "$library" --rounds "$((runs * 2))")"
    [ "$can_drop" = 1 ] && echo "  $("$stop_bench" "$library" --rounds "$runs" --cold)"
    # Thread scaling, interleaved.
    declare -A jt=()
    for ((i = 0; i < runs; i++)); do
        for j in 1 2 4 8; do
            jt[$j]+="$(time_ms vellico --jobs "$j" "$library") "
        done
    done
    line="  jobs "
    for j in 1 2 4 8; do
        line+=" $j: $(printf '%s\n' ${jt[$j]} | median) ms"
    done
    echo "$line"
    unset jt
    bench_deletion "$library" "$slow_runs"
    echo "  after: $(uptime)"
done
