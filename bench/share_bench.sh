#!/usr/bin/env bash
# Times vellico-cli on network shares, where latency rather than the disk or
# the processor limits a walk. Each share is set up and torn down here, in a
# private network and mount namespace (`unshare -n -m`):
#
#   latency  vellico-latency-fs (bench/latency_fs): a FUSE passthrough that
#            sleeps a fixed delay in every request and costs almost no
#            processor time: what the walk does when only latency limits it.
#   sshfs    an sshd on the namespace's loopback and an sshfs mount of it,
#            with `tc netem` delaying every packet on lo (a delay D "each
#            way": a round trip takes 2 D). Where the kernel has no netem,
#            sshfs reaches sshd through vellico-delay-proxy
#            (bench/delay_proxy) instead, which holds each chunk it reads D
#            each way in user space: the same delay, plus the relay's own
#            thread wake-ups, per chunk a read returns rather than per
#            packet, and it costs a little processor time (each case says
#            which delay it uses, and what the proxy used).
#            The client's caches are off (dir_cache=no, no kernel cache,
#            entry and attribute timeouts 0); the server side is warm (its
#            page cache holds the library).
#
# For each case, in interleaved rounds (each round runs every tool once, the
# order turning from round to round), and printing every round, then the
# medians and the ratios:
#   - `du -s --apparent-size -B1` against `vellico-cli analyze --json` with
#     the default threads and with --jobs 2, 8, 32 and 64;
#   - `rm -rf` of the folders the preset `done` selects against
#     `vellico-cli clean --yes --preset 'done' --json` (analysis included),
#     default and --jobs 2, 8, 32 and 64, each on a fresh copy of the library.
# Copies are made on the share's server side (cp -a --sparse=always), not
# through the share, so that only what is timed goes over it.
#
#   bench/share_bench.sh [BUILD_DIR] [RUNS] [CASE...]
#
# A case is SHARE:DELAY_MS:FILES. Default: latency:1:5000 sshfs:0.25:5000
# sshfs:1:2000 latency-stall:1:5000 sshfs-stall:0.25:5000, 5 rounds. The
# two "-stall" cases time nothing: the share stops answering in the middle of
# a `clean --yes` (see stall_test below). Needs root, unshare, /dev/fuse, and
# for sshfs the programs sshd, ssh-keygen and sshfs and either the kernel's
# netem queueing discipline or vellico-delay-proxy; a share that cannot be set
# up is skipped with the reason. `make bench-shares` runs it with the defaults.
#
# With VELLICO_WALK_STATS=1 in its environment vellico-cli may say on stderr
# how many threads its walks reached ("walk threads: …"); the peaks are
# printed when it does.
#
# Environment: TMPDIR (where libraries, server sides and mounts live; default
# /tmp), SSHFS_OPTIONS (extra -o options for sshfs), LATENCY_FS_OPTIONS
# (extra -o options for the latency share), STALL_SECONDS (30), and
# SSHFS_DELAY=proxy to delay the sshfs cases with vellico-delay-proxy even
# where netem works (to compare the two).
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build=$(realpath "${1:-build}")
runs=${2:-5}
shift $(($# > 2 ? 2 : $#))
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=(latency:1:5000 sshfs:0.25:5000 sshfs:1:2000 latency-stall:1:5000
    sshfs-stall:0.25:5000)

skip() { echo "share_bench: skipped: $*" >&2; exit 0; }

# Everything runs in a namespace of its own: the netem delay then slows only
# this namespace's loopback, and a mount left behind by a crash goes with it.
if [ -z "${VELLICO_SHARE_BENCH_INNER:-}" ]; then
    [ "$(id -u)" -eq 0 ] || skip "needs root (a private network namespace, FUSE mounts, tc)"
    command -v unshare >/dev/null || skip "unshare (util-linux) is missing"
    unshare -n -m true 2>/dev/null || skip "unshare -n -m is refused here (a container without CAP_SYS_ADMIN?)"
    exec unshare -n -m --propagation private env VELLICO_SHARE_BENCH_INNER=1 \
        bash "$here/$(basename "$0")" "$build" "$runs" "${cases[@]}"
fi

cli="$build/src/cli/vellico-cli"
maker="$build/tools/vellico-make-library"
latency_fs="$build/bench/vellico-latency-fs"
delay_proxy="$build/bench/vellico-delay-proxy"
for tool in "$cli" "$maker" jq; do
    command -v "$tool" >/dev/null || { echo "missing $tool: build first (make build)" >&2; exit 1; }
done
[ -c /dev/fuse ] || skip "/dev/fuse is missing (modprobe fuse, or give the container the device)"

root="${TMPDIR:-/tmp}/vellico-share-bench"
empty_home="$root/home" # no Movies folder: no backups are looked for
mkdir -p "$empty_home"
ip link set lo up

# What this run started, so that the exit takes down exactly that.
mounts=()
pids=()
netem=0
teardown() {
    local status=$?
    trap - EXIT INT TERM
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        umount "${mounts[$i]}" 2>/dev/null || umount -l "${mounts[$i]}" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    [ "$netem" = 0 ] || tc qdisc del dev lo root 2>/dev/null || true
    rm -rf --one-file-system "${root:?}/mnt" "${root:?}/srv" "${root:?}/ssh"
    exit "$status"
}
trap teardown EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

now_ns() { date +%s%N; }
# shellcheck source=bench/common.sh
. "$here/common.sh"

# time_ms CMD...: wall time of one run in milliseconds; its stderr is kept in
# $root/stderr (for the walk statistics).
time_ms() {
    local start end
    start=$(now_ns)
    "$@" >/dev/null 2>"$root/stderr" || true
    end=$(now_ns)
    echo $(((end - start) / 1000000))
}

# The peak thread line of the last vellico-cli run, when it printed one.
walk_peak() { sed -n 's/^walk threads: *//p' "$root/stderr" | tail -1; }

# Times one vellico-cli run (COMMAND ARGS…) into the caller's `ms`, and keeps
# the walk's peak thread counts under KEY.
time_vellico() {
    local key=$1 peak
    shift
    ms=$(VELLICO_WALK_STATS=1 time_ms "$@")
    peak=$(walk_peak)
    [ -z "$peak" ] || peaks[$key]=$peak
}


# wait_mounted DIR PID: until DIR is a mount point, or the program that
# should mount it has died.
wait_mounted() {
    for _ in $(seq 200); do
        mountpoint -q "$1" && return 0
        kill -0 "$2" 2>/dev/null || return 1
        sleep 0.05
    done
    return 1
}

# unmount_share: takes the last mount down and stops what served it.
unmount_share() {
    local mnt=${mounts[-1]} pid=${pids[-1]}
    umount "$mnt" 2>/dev/null || umount -l "$mnt" 2>/dev/null || true
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    unset 'mounts[-1]' 'pids[-1]'
}

# mount_latency SRV MNT DELAY_MS: the latency share of SRV on MNT. The
# kernel's caches of names and attributes are off, as on the sshfs share.
mount_latency() {
    local srv=$1 mnt=$2 delay_us
    delay_us=$(awk -v ms="$3" 'BEGIN { printf "%d", ms * 1000 }')
    "$latency_fs" "$srv" "$mnt" -f \
        -o "delay_us=$delay_us,entry_timeout=0,attr_timeout=0,negative_timeout=0${LATENCY_FS_OPTIONS:+,$LATENCY_FS_OPTIONS}" &
    pids+=($!)
    mounts+=("$mnt")
    wait_mounted "$mnt" "${pids[-1]}" || { echo "  the latency share did not mount" >&2; return 1; }
}

# start_sshd: an sshd on this namespace's loopback that lets root in with a
# key of this run only; sets ssh_port and ssh_key.
ssh_port=2222
start_sshd() {
    local dir="$root/ssh"
    rm -rf "$dir"
    mkdir -p "$dir" /run/sshd
    ssh-keygen -q -t ed25519 -N '' -f "$dir/host_key"
    ssh-keygen -q -t ed25519 -N '' -f "$dir/client_key"
    cp "$dir/client_key.pub" "$dir/authorized_keys"
    cat >"$dir/sshd_config" <<EOF
ListenAddress 127.0.0.1:$ssh_port
HostKey $dir/host_key
AuthorizedKeysFile $dir/authorized_keys
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
PidFile none
Subsystem sftp internal-sftp
EOF
    "$(command -v sshd)" -D -e -f "$dir/sshd_config" 2>"$dir/sshd.log" &
    pids+=($!)
    mounts+=("") # keeps mounts and pids in step; nothing to unmount for sshd
    for _ in $(seq 100); do
        (exec 3<>"/dev/tcp/127.0.0.1/$ssh_port") 2>/dev/null && return 0
        sleep 0.05
    done
    echo "  sshd did not start: $(tail -3 "$dir/sshd.log")" >&2
    return 1
}

# start_proxy DELAY_MS: vellico-delay-proxy from proxy_port to sshd, each
# way delayed DELAY_MS; sets proxy_pid.
proxy_port=2223
start_proxy() {
    local dir="$root/ssh"
    : >"$dir/proxy.port"
    "$delay_proxy" "$proxy_port" "$ssh_port" "$1" >"$dir/proxy.port" 2>"$dir/proxy.log" &
    proxy_pid=$!
    pids+=("$proxy_pid")
    mounts+=("")
    # It prints its port once it listens.
    for _ in $(seq 100); do
        [ -s "$dir/proxy.port" ] && return 0
        kill -0 "$proxy_pid" 2>/dev/null || break
        sleep 0.05
    done
    echo "  the delay proxy did not start: $(tail -3 "$dir/proxy.log")" >&2
    return 1
}

# cpu_ms PID: the processor time PID has used so far, in milliseconds.
cpu_ms() {
    awk -v tick="$(getconf CLK_TCK)" '{ sub(/^.*\) /, ""); printf "%d", ($12 + $13) * 1000 / tick }' \
        "/proc/$1/stat"
}

# start_sshfs_share SRV MNT DELAY_MS: sshd, the delay (netem, or the proxy
# where delay_by=proxy) and the sshfs mount; unwind_to takes them down.
start_sshfs_share() {
    local srv=$1 mnt=$2 delay=$3 port=$ssh_port
    start_sshd || return 1
    if [ "$delay_by" = netem ]; then
        set_delay "$delay"
    else
        start_proxy "$delay" || return 1
        port=$proxy_port
        echo "  delay: vellico-delay-proxy between sshfs and sshd, not tc netem ($delay_why):" \
            "each chunk a read returns is held ${delay} ms each way in user space, rather than" \
            "each packet in the kernel; the proxy costs some processor time"
    fi
    mount_sshfs "$srv" "$mnt" "$port"
}

# unwind_to N: takes down what was started after the first N entries of
# pids and mounts, the last first.
unwind_to() {
    while [ "${#pids[@]}" -gt "$1" ]; do
        unmount_share
    done
}

# mount_sshfs SRV MNT PORT: SRV over ssh (at 127.0.0.1:PORT) on MNT, every
# client cache off.
mount_sshfs() {
    local srv=$1 mnt=$2 port=$3 dir="$root/ssh"
    sshfs -f "root@127.0.0.1:$srv" "$mnt" -p "$port" \
        -o "IdentityFile=$dir/client_key,StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null,BatchMode=yes,LogLevel=ERROR" \
        -o "dir_cache=no,entry_timeout=0,attr_timeout=0,negative_timeout=0${SSHFS_OPTIONS:+,$SSHFS_OPTIONS}" &
    pids+=($!)
    mounts+=("$mnt")
    wait_mounted "$mnt" "${pids[-1]}" || { echo "  the sshfs share did not mount" >&2; return 1; }
}

set_delay() {
    tc qdisc replace dev lo root netem delay "${1}ms"
    netem=1
}

netem_works() {
    tc qdisc replace dev lo root netem delay 0ms 2>/dev/null || return 1
    tc qdisc del dev lo root 2>/dev/null || true
}

vellico_analyze() { "$cli" analyze --json --home "$empty_home" "$@"; }
vellico_clean() { "$cli" clean --yes --preset 'done' --json --home "$empty_home" "$@"; }
du_tool() { du -s --apparent-size -B1 "$1"; }

jobs_list=(default 2 8 32 64)
jobs_args() { [ "$1" = default ] || echo "--jobs $1"; }

# time_entry KEY TOOL COMMAND ARGS...: times one tool of a round, adds the
# time to the caller's t[KEY] and its round `line`. A vellico-cli command
# (TOOL "vellico:N" or "clean:N") gets --jobs N and its thread peaks kept.
time_entry() {
    local key=$1 tool=$2 ms
    shift 2
    case $tool in
    vellico:* | clean:*)
        local command=$1
        shift
        # shellcheck disable=SC2046
        time_vellico "$key" "$command" $(jobs_args "${tool#*:}") "$@"
        ;;
    *) ms=$(time_ms "$@") ;;
    esac
    t[$key]+="$ms "
    line+=" $tool $ms"
}

# print_medians KEY LABEL BASE_MS BASE_NAME: for each --jobs, the median of
# the caller's t[KEY:jobs] against BASE_MS, with the walk's thread peaks.
print_medians() {
    local key=$1 label=$2 base=$3 name=$4 j v
    for j in "${jobs_list[@]}"; do
        # shellcheck disable=SC2086
        v=$(printf '%s\n' ${t[$key:$j]} | median)
        printf '    %-16s %7s ms  %s × %s%s\n' "$label $j" "$v" "$(ratio "$v" "$base")" "$name" \
            "${peaks[$key:$j]:+  (walk threads: ${peaks[$key:$j]})}"
    done
}

# rotated N ITEMS...: the items, starting from the (N mod count)-th.
rotated() {
    local n=$1
    shift
    local items=("$@")
    local k=${#items[@]}
    for ((j = 0; j < k; j++)); do echo "${items[$(((n + j) % k))]}"; done
}

# bench_share SHARE SRV MNT LIBRARY: every round of analysis then deletion.
bench_share() {
    local share=$1 srv=$2 mnt=$3 library=$4 name
    name=$(basename "$library")
    declare -A t=() peaks=()
    local tools=(du "${jobs_list[@]/#/vellico:}")

    # Analysis: one copy on the server side, read through the share.
    rm -rf "$srv/a"
    mkdir -p "$srv/a"
    cp -a --sparse=always "$library" "$srv/a/"
    du -s "$srv/a" >/dev/null # the server side warm
    local alib="$mnt/a/$name"
    VELLICO_WALK_STATS=1 vellico_analyze "$alib" >/dev/null 2>&1 || true # warm-up
    echo "  analysis ($runs rounds, ms):"
    for ((i = 0; i < runs; i++)); do
        local line="    round $((i + 1)):"
        for tool in $(rotated "$i" "${tools[@]}"); do
            if [ "$tool" = du ]; then
                time_entry "a:$tool" "$tool" du_tool "$alib"
            else
                time_entry "a:$tool" "$tool" vellico_analyze "$alib"
            fi
        done
        echo "$line"
    done

    # Deletion: a fresh copy for each tool in each round. The folders rm -rf
    # gets are those the same preset selects, read on the server side.
    local folders=()
    mapfile -t folders < <(vellico_analyze --preset 'done' "$srv/a/$name" |
        jq -r '.libraries[0].foundFolders[] | select(.selected) | .path')
    rm -rf "$srv/a"
    echo "  deletion ($runs rounds, ${#folders[@]} folders, fresh copies, ms):"
    local dtools=(rm "${jobs_list[@]/#/clean:}")
    for ((i = 0; i < runs; i++)); do
        rm -rf "$srv/d"
        mkdir -p "$srv/d"
        for tool in "${dtools[@]}"; do
            mkdir -p "$srv/d/${tool//:/-}"
            cp -a --sparse=always "$library" "$srv/d/${tool//:/-}/"
        done
        du -s "$srv/d" >/dev/null
        local line="    round $((i + 1)):"
        for tool in $(rotated "$i" "${dtools[@]}"); do
            local lib="$mnt/d/${tool//:/-}/$name"
            if [ "$tool" = rm ]; then
                local targets=()
                for f in "${folders[@]}"; do targets+=("$lib/${f#"$srv/a/$name/"}"); done
                time_entry "d:$tool" "$tool" rm -rf "${targets[@]}"
            else
                time_entry "d:$tool" "$tool" vellico_clean "$lib"
            fi
        done
        echo "$line"
        # Every side must leave the same files, but for the "__Sync__" file
        # that the release of the library's lock writes.
        local expected
        expected=$(find "$srv/d/rm/$name" -type f | wc -l)
        for tool in "${dtools[@]:1}"; do
            local dir="$srv/d/${tool//:/-}/$name" left
            left=$(find "$dir" -type f ! -path "$dir/__Sync__" | wc -l)
            [ "$left" = "$expected" ] || echo "    ($tool left $left files, rm -rf $expected)" >&2
        done
        rm -rf "$srv/d"
    done

    local du_ms rm_ms
    du_ms=$(printf '%s\n' ${t[a:du]} | median)
    rm_ms=$(printf '%s\n' ${t[d:rm]} | median)
    echo "  medians:"
    printf '    %-16s %7s ms\n' "du -s" "$du_ms"
    print_medians a:vellico analyze "$du_ms" du
    printf '    %-16s %7s ms\n' "rm -rf" "$rm_ms"
    print_medians d:clean clean "$rm_ms" "rm -rf"
    [ ${#peaks[@]} -gt 0 ] || echo "    (this vellico-cli does not report its walk threads)"
}

# sigint_ignored: true when this shell inherited SIGINT ignored (SigIgn in
# /proc holds one bit a signal, SIGINT's being the second).
sigint_ignored() {
    local mask
    mask=$(sed -n 's/^SigIgn:[[:space:]]*//p' "/proc/$$/status")
    [ -n "$mask" ] && (((16#$mask >> 1) & 1))
}

# stall_test SRV MNT LIBRARY STOP RESUME: a share that stops answering in
# the middle of a `clean --yes`. Once the deletion is under way, STOP makes
# the share mute (netem drops every packet, or the delay proxy or the latency
# share is told to hold everything); Ctrl-C (SIGINT) follows a second later;
# STALL_SECONDS (30) later, RESUME.
# Says whether the clean waited, its exit status and how soon it ended once
# the share answered, that nothing changed while it was mute, that nothing
# was deleted past what the document reports, and that the lock was given back.
stall_test() {
    local srv=$1 mnt=$2 library=$3 stop=$4 resume=$5 seconds=${STALL_SECONDS:-30} name
    # A program started with SIGINT ignored (under nohup, or in the
    # background of a shell without job control) keeps it ignored, as shells
    # want, and so does everything it starts: no Ctrl-C could reach the clean.
    if sigint_ignored; then
        echo "  skipped: SIGINT is ignored by whatever started this script (nohup, or a" \
            "background job without job control): run it in the foreground"
        return 0
    fi
    name=$(basename "$library")
    rm -rf "$srv/s"
    mkdir -p "$srv/s"
    cp -a --sparse=always "$library" "$srv/s/"
    local slib="$srv/s/$name" mlib="$mnt/s/$name" before
    before=$(find "$slib" -type f | wc -l)
    # With job control on, the clean in the background takes SIGINT as a
    # clean in the foreground takes Ctrl-C (it is not ignored).
    set -m
    "$cli" clean --yes --preset 'done' --json --home "$empty_home" "$mlib" \
        >"$root/stall.json" 2>"$root/stall.err" &
    local pid=$!
    set +m
    pids+=("$pid")
    mounts+=("")
    for _ in $(seq 1200); do
        [ "$(find "$slib" -type f | wc -l)" -lt "$before" ] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "  the clean ended before the share could be stopped: give it more files"
        unset 'mounts[-1]' 'pids[-1]'
        return 0
    fi
    $stop
    sleep 1
    local mute_before mute_after waited=no status=0 start end
    mute_before=$(find "$slib" | wc -l)
    kill -INT "$pid"
    sleep "$seconds"
    kill -0 "$pid" 2>/dev/null && waited=yes
    mute_after=$(find "$slib" | wc -l)
    start=$(now_ns)
    $resume
    wait "$pid" || status=$?
    end=$(now_ns)
    unset 'mounts[-1]' 'pids[-1]'
    echo "  share mute for $seconds s, SIGINT sent 1 s in:"
    echo "    still waiting at the end: $waited; exit status $status (130 expected)," \
        "$(((end - start) / 1000000)) ms after the share answered again"
    if [ "$mute_before" = "$mute_after" ]; then
        echo "    nothing changed while the share was mute ($mute_after entries left)"
    else
        echo "    CHANGED while mute: $mute_before entries, then $mute_after"
    fi
    if ! jq -e . "$root/stall.json" >/dev/null 2>&1; then
        echo "    no JSON document: $(tail -2 "$root/stall.err")"
        return 0
    fi
    # Every selected folder is gone (and counted in foldersRemoved), named
    # as interrupted or failed, or untouched.
    local gone=0 untouched=0 named=0 unreported=0 path label left expected reported
    reported=$(jq -r '.libraries[0].foldersRemoved' "$root/stall.json")
    while IFS=$'\t' read -r path label; do
        path=${path/#"$mnt"/"$srv"}
        if [ ! -e "$path" ]; then
            gone=$((gone + 1))
            continue
        fi
        left=$(find "$path" | wc -l)
        expected=$(find "$library/${path#"$slib"/}" | wc -l)
        if [ "$left" = "$expected" ]; then
            untouched=$((untouched + 1))
        elif jq -e --arg l "$label" '.libraries[0] | (.interruptedFolders | index($l)) != null
                or any(.failures[]; .label == $l)' "$root/stall.json" >/dev/null; then
            named=$((named + 1))
        else
            unreported=$((unreported + 1))
            echo "    NOT REPORTED: $label lost $((expected - left)) entries"
        fi
    done < <(jq -r '.libraries[0].foundFolders[] | select(.selected) |
        [.path, (if .parentName == "" then .name else "\(.name) (\(.parentName))" end)] | @tsv' \
        "$root/stall.json")
    echo "    interrupted: $(jq -r '.interrupted' "$root/stall.json"); folders gone $gone" \
        "(foldersRemoved $reported), in part and named $named, untouched $untouched," \
        "changed but not reported $unreported"
    local lock="lock held"
    if flock -n "$slib/.lock" true 2>/dev/null && [ -z "$(find "$slib/.lock-dir" -name 'Vellico*' 2>/dev/null)" ]; then
        lock="lock given back"
    fi
    echo "    $lock"
    rm -rf "$srv/s"
}

echo "machine: $(nproc) cores; $(uptime)"
# What delays the sshfs cases: netem where the kernel has it, otherwise
# vellico-delay-proxy (delay_why says why); "none" when neither is there.
delay_by=netem delay_why=""
if [ "${SSHFS_DELAY:-}" = proxy ]; then
    delay_by=proxy delay_why="SSHFS_DELAY=proxy"
elif ! netem_works; then
    delay_by=proxy delay_why="the kernel has no netem"
fi
if [ "$delay_by" = proxy ] && [ ! -x "$delay_proxy" ]; then
    delay_by=none
fi
# sshfs_missing: why the sshfs cases cannot run here, or nothing.
sshfs_missing() {
    local missing=""
    for tool in sshd ssh-keygen sshfs; do
        command -v "$tool" >/dev/null || missing+=" $tool"
    done
    if [ -n "$missing" ]; then
        echo "missing$missing (openssh-server, sshfs: scripts/install-deps)"
    elif [ "$delay_by" = none ]; then
        echo "no delay: $delay_why and $delay_proxy is not built"
    fi
}
for case in "${cases[@]}"; do
    IFS=: read -r share delay files <<<"$case"
    if [ -z "$share" ] || [ -z "$delay" ] || [ -z "$files" ]; then
        echo "$case: not SHARE:DELAY_MS:FILES" >&2
        exit 2
    fi
    echo "$share share, ${delay} ms, $files files:"
    srv="$root/srv/$share"
    mnt="$root/mnt/$share"
    rm -rf "$srv"
    mkdir -p "$srv" "$mnt"
    # A "-stall" case sets its share up as the timed case does.
    stall=0
    [ "$share" = "${share%-stall}" ] || stall=1
    case ${share%-stall} in
    latency)
        if [ ! -x "$latency_fs" ]; then
            echo "  skipped: $latency_fs is not built (needs libfuse3-dev: scripts/install-deps, then build)"
            continue
        fi
        library=$(library_for "$files")
        mount_latency "$srv" "$mnt" "$delay" || continue
        fs_pid=${pids[-1]}
        if [ "$stall" = 1 ]; then
            stall_test "$srv" "$mnt" "$library" "kill -USR1 $fs_pid" "kill -USR2 $fs_pid"
        else
            bench_share latency "$srv" "$mnt" "$library"
        fi
        unmount_share
        ;;
    sshfs)
        why=$(sshfs_missing)
        if [ -n "$why" ]; then
            echo "  skipped: $why"
            continue
        fi
        library=$(library_for "$files")
        mark=${#pids[@]}
        start_sshfs_share "$srv" "$mnt" "$delay" || { unwind_to "$mark"; continue; }
        if [ "$stall" = 0 ]; then
            bench_share sshfs "$srv" "$mnt" "$library"
            [ "$delay_by" = netem ] ||
                echo "  the delay proxy used $(cpu_ms "$proxy_pid") ms of processor time in all"
        elif [ "$delay_by" = netem ]; then
            stall_test "$srv" "$mnt" "$library" \
                "tc qdisc change dev lo root netem delay ${delay}ms loss 100%" \
                "tc qdisc change dev lo root netem delay ${delay}ms"
        else
            # Held rather than dropped: once resumed, the proxy delivers at
            # once, where TCP over netem waits for its next retransmission.
            echo "  mute: the proxy holds every byte (SIGUSR1) until SIGUSR2, rather than netem" \
                "dropping every packet; the time to answer again leaves out TCP's retransmission back-off"
            stall_test "$srv" "$mnt" "$library" "kill -USR1 $proxy_pid" "kill -USR2 $proxy_pid"
        fi
        unwind_to "$mark" # sshfs, the proxy if any, sshd
        ;;
    *)
        echo "  skipped: unknown share $share (latency, sshfs, latency-stall, sshfs-stall)"
        ;;
    esac
    rm -rf --one-file-system "$mnt" "$srv"
done
echo "after: $(uptime)"
