# Helpers both benchmark scripts source. They expect `maker` (the
# sample-library tool) and `root` (the benchmark's work folder) to be set.

median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

# A synthetic library of about FILES files, written once under $root and
# reused while its file count does not change; prints its path.
library_for() {
    local files=$1 work="$root/lib-$1"
    if [ ! -f "$work/.complete" ]; then
        rm -rf "$work"
        mkdir -p "$work"
        echo "generating a $files-file library in $work…" >&2
        "$maker" synthetic --files "$files" "$work/Bench.fcpbundle" >/dev/null
        touch "$work/.complete"
    fi
    echo "$work/Bench.fcpbundle"
}
