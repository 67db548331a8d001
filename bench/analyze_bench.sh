#!/usr/bin/env bash
# Times `vellico-cli analyze --json` against `du -s --apparent-size` and gdu on
# the same synthetic library, in the same run, on a warm cache, and reports
# the medians, their ratios and vellico-cli's peak memory.
#
#   bench/analyze_bench.sh [BUILD_DIR] [FILES] [RUNS]
#
# Defaults: build, 200000 files, 7 runs. The library is generated once under
# $TMPDIR (or /tmp) and reused while its file count does not change.
set -euo pipefail

build=${1:-build}
files=${2:-200000}
runs=${3:-7}
cli="$build/src/cli/vellico-cli"
maker="$build/tools/vellico-make-library"
work="${TMPDIR:-/tmp}/vellico-bench-$files"
library="$work/Bench.fcpbundle"

for tool in "$cli" "$maker"; do
    [ -x "$tool" ] || { echo "missing $tool: build first (make build)" >&2; exit 1; }
done

if [ ! -f "$work/.complete" ]; then
    rm -rf "$work"
    mkdir -p "$work"
    echo "generating a $files-file library in $library…" >&2
    "$maker" synthetic --files "$files" "$library" >/dev/null
    touch "$work/.complete"
fi

now_ns() { date +%s%N; }

# median_ms CMD...: runs CMD $runs times (after one warm-up) and prints the
# median wall time in milliseconds.
median_ms() {
    "$@" >/dev/null 2>&1 || true
    local times=()
    for ((i = 0; i < runs; i++)); do
        local start end
        start=$(now_ns)
        "$@" >/dev/null 2>&1 || true
        end=$(now_ns)
        times+=($(((end - start) / 1000000)))
    done
    printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'
}

count=$(find "$library" -type f | wc -l)
vellico=$(median_ms "$cli" analyze --json "$library")
du_ms=$(median_ms du -s --apparent-size -B1 "$library")
if command -v gdu >/dev/null; then
    gdu_ms=$(median_ms gdu -n -p -s -a "$library")
else
    gdu_ms=""
fi
rss_kb=$(/usr/bin/time -f '%M' "$cli" analyze --json "$library" 2>&1 >/dev/null | tail -1)

echo "library: $library ($count files)"
echo "vellico-cli analyze --json: ${vellico} ms (median of $runs)"
echo "du -s --apparent-size -B1:  ${du_ms} ms"
awk -v a="$vellico" -v b="$du_ms" 'BEGIN { if (b > 0) printf "  ratio vellico/du:  %.2f\n", a / b }'
if [ -n "$gdu_ms" ]; then
    echo "gdu -n -p -s -a:            ${gdu_ms} ms"
    awk -v a="$vellico" -v b="$gdu_ms" 'BEGIN { if (b > 0) printf "  ratio vellico/gdu: %.2f\n", a / b }'
fi
awk -v kb="$rss_kb" 'BEGIN { printf "vellico-cli peak RSS: %.1f MiB\n", kb / 1024 }'
