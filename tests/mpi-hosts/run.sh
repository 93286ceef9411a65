#!/usr/bin/env bash
# vorlax-mpi across three hosts simulated on this machine (scripts/simulate-hosts):
# {host} and {rank} in the path, the banner's host count, the per-host rows,
# a host without its folder, a host killed mid-run, sets of hosts that keep
# out of each other's way, and the notes merged with the hosts they hold
# for. Every case makes its own hosts and removes them, also when it fails;
# a case that cannot make them says why and skips.
#
#   tests/mpi-hosts/run.sh [path/to/vorlax-mpi [case...]]
#
# Prints one line per case and "hosts: P passed, F failed, S skipped";
# exits non-zero when any case failed.
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 1

exe=$(realpath -m "${1:-${VORLAX_MPI_EXE:-build/test/vorlax-mpi}}")
simulate=$PWD/scripts/simulate-hosts
# Letters from this process's id, so that a user's set (vxh) and another
# test run keep their own names.
tag=$(printf '%04d' $(($$ % 10000)) | tr 0-9 a-j)
prefix=vxt$tag
other_prefix=vxu$tag
hosts=3
# A run only ever waits on a FIFO this script holds; the limit guards
# against a hang and measures nothing.
limit_s=180

# Scratch folders in memory where it can be had. OpenMPI refuses root
# without these two.
scratch_base=${TMPDIR:-/tmp}
if [ -d /dev/shm ] && [ -w /dev/shm ]; then scratch_base=/dev/shm; fi
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1

scratch=""
held_fd=""
job=""
# A disk folder of the notes case and the memory mount inside it.
disk_work=""
memory_mount=""
cleanup() {
    # A run still going is told to stop; taking its hosts down ends it for sure.
    [ -n "$job" ] && kill "$job" 2>/dev/null
    [ -n "$held_fd" ] && exec {held_fd}>&-
    "$simulate" down --prefix "$prefix" >/dev/null 2>&1
    "$simulate" down --prefix "$other_prefix" >/dev/null 2>&1
    [ -n "$job" ] && wait "$job"
    [ -n "$memory_mount" ] && { umount "$memory_mount" || umount -l "$memory_mount"; }
    [ -n "$disk_work" ] && rm -rf "$disk_work"
    [ -n "$scratch" ] && rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

passed=0 failed=0 skipped=0
case_failures=0
skip_reason=""

# shellcheck source=tests/mpi-hosts/lib.sh
source tests/mpi-hosts/lib.sh

case_host_and_rank_names() {
    make_sinks 'run_r000R_00.BIN'
    run_on_hosts names B "$work/{host}/run" 64 1 1
    check "exit status 0 for {host}/run" status_is $? 0
    check "each rank wrote into its host's folder as run_r<R>" is_empty "$(stray_files)"

    rm -rf "${work:?}"/*
    make_sinks 'rR_00.BIN'
    run_on_hosts rank_names B "$work/{host}/r{rank}" 64 1 1
    check "exit status 0 for {host}/r{rank}" status_is $? 0
    check "{rank} named each file, without the _r part" is_empty "$(stray_files)"
    local rank
    for rank in $(seq 0 $((hosts - 1))); do
        check "rank $rank wrote every block" has_line "$scratch/rank_names.out" "rank $rank thread 0 done! 16384"
    done
}

case_banner_and_rows() {
    make_sinks 'run_r000R_00.BIN'
    run_on_hosts rows B "$work/{host}/run" 64 1 1
    check "exit status 0" status_is $? 0
    local out=$scratch/rows.out rank
    check "the banner counts $hosts ranks of $hosts hosts" has_match "$out" "^VORLAX: .*, on $hosts ranks of $hosts hosts\$"
    for rank in $(seq 0 $((hosts - 1))); do
        check "rank $rank's row names host $prefix$((rank + 1))" \
            has_match "$out" "^rank $rank on $prefix$((rank + 1)): 1024 MB written in [0-9]+\.[0-9]{3} s, [0-9]+ MB/s\$"
    done
    check "slowest and fastest name a rank with its own host" \
        status_is "$(grep -cE "^(slowest|fastest): rank ([0-9]) on $prefix([0-9]), " "$out")" 2
    local line
    while read -r line; do
        [[ "$line" =~ rank\ ([0-9])\ on\ $prefix([0-9]), ]] || continue
        check "'$line' pairs rank and host" status_is "${BASH_REMATCH[2]}" $((BASH_REMATCH[1] + 1))
    done < <(grep -E '^(slowest|fastest): ' "$out")
    check "DONE! ends the output" status_is "$(tail -n 1 "$out" | grep -cx 'DONE!')" 1
}

case_host_without_folder() {
    make_sinks 'run_r000R_00.BIN'
    rm -rf "${work:?}/${prefix}2"
    run_on_hosts missing B "$work/{host}/run" 64 1 1
    check "exit status 1 when one host fell short" status_is $? 1
    local out=$scratch/missing.out err=$scratch/missing.err
    check "stderr names rank 1, its host and the file" \
        has_text "$err" "vorlax-mpi: rank 1 (${prefix}2): $work/${prefix}2/run_r0001_00.BIN: cannot create"
    check "rank 1 has no completion line" lacks_match "$out" '^rank 1 thread '
    check "rank 1 is named as failed, with its host and why" \
        has_match "$out" "^failed: rank 1 on ${prefix}2: cannot create its test file: No such file or directory\$"
    check "no other rank is named as failed" status_is "$(grep -c '^failed: ' "$out")" 1
    check "rank 1 has no row of figures" lacks_match "$out" '^rank 1 on '
    check "slowest and fastest are ranks that wrote" \
        status_is "$(grep -cE "^(slowest|fastest): rank [02] on " "$out")" 2
    local rank
    for rank in 0 2; do
        check "rank $rank completed" has_line "$out" "rank $rank thread 0 done! 16384"
        check "rank $rank's row is whole" has_match "$out" "^rank $rank on $prefix$((rank + 1)): 1024 MB written in [0-9.]+ s, [0-9]+ MB/s\$"
    done
    check "the summary still ends with DONE!" has_line "$out" 'DONE!'
}

case_host_killed_mid_run() {
    make_sinks 'run_r000R_00.BIN'
    local fifo=$work/${prefix}2/run_r0001_00.BIN
    rm -f "$fifo"
    mkfifo "$fifo"
    # Held open and never read: rank 1 writes until the pipe is full, then waits.
    exec {held_fd}<>"$fifo"
    # Started straight from this shell, so that $! is the run itself.
    set_mpirun_line B "$work/{host}/run" 64 1 1
    "${mpirun_line[@]}" >"$scratch/killed.out" 2>"$scratch/killed.err" &
    job=$!
    local waited=0
    # Every rank is running once the banner is out (it follows a gather
    # over all of them); rank 1 cannot end while the FIFO is held.
    while ! grep -q ' hosts$' "$scratch/killed.out" 2>/dev/null && kill -0 "$job" 2>/dev/null &&
        [ $waited -lt $((limit_s * 10)) ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    check "the banner came before the kill" has_match "$scratch/killed.out" ' hosts$'
    ip netns pids "${prefix}2" | xargs -r kill -KILL
    wait "$job"
    local status=$?
    job=""
    check "the job ends non-zero after its host is killed (status $status)" \
        test "$status" -ne 0 -a "$status" -ne 124 -a "$status" -ne 137
    exec {held_fd}>&-
    held_fd=""
    # mpirun has ended; what it left on any host is gone within moments.
    local host left=""
    for _ in $(seq 100); do
        left=""
        for host in $(seq 1 "$hosts"); do left+=$(ip netns pids "$prefix$host" | tr '\n' ' '); done
        [ -z "$left" ] && break
        sleep 0.1
    done
    check "nothing runs in any host after the job ended (pids: $left)" is_empty "$left"
}

case_sets_keep_apart() {
    local first second
    "$simulate" up 1 --prefix "$other_prefix" >"$scratch/other.out" 2>&1 || {
        check "a second set comes up beside the first ($(head -n 1 "$scratch/other.out"))" false
        return
    }
    first=$(sed -n 's/.*oob_tcp_if_include \([^ ]*\) .*/\1/p' <<<"$mpirun_options")
    second=$("$simulate" options --prefix "$other_prefix" | sed -n 's/.*oob_tcp_if_include \([^ ]*\) .*/\1/p')
    check "two sets take different subnets ($first, $second)" test -n "$first" -a "$first" != "$second"
    check "the second set's host has its own name" \
        test "$(ip netns exec "${other_prefix}1" nsenter --uts="/run/vorlax-hosts/$other_prefix/uts/${other_prefix}1" hostname)" = "${other_prefix}1"
    hosts_down "$other_prefix"
    check "a subnet that overlaps a route is refused" \
        not_up --prefix "$other_prefix" --subnet "${first%.0/24}"
    check "a refused set leaves nothing" is_empty "$(ip netns list | grep "^$other_prefix")"
    check "a set of the same name is refused" not_up --prefix "$prefix"
    check "the refusal leaves the set that is up as it was" \
        status_is "$(ip netns list | grep -cE "^${prefix}[0-9]+( |\$)")" "$hosts"
}

# One host's folder is a tmpfs mount point, the others are on a disk: the
# memory-backed note comes once, for that host's rank alone.
case_notes_name_their_hosts() {
    local disk_base="" candidate
    for candidate in /var/tmp "${TMPDIR:-/tmp}"; do
        if [ ! -d "$candidate" ] || [ ! -w "$candidate" ]; then continue; fi
        case $(stat -f -c %T "$candidate") in
        tmpfs | ramfs) ;;
        *) disk_base=$candidate && break ;;
        esac
    done
    if [ -z "$disk_base" ]; then
        skip_reason="neither /var/tmp nor ${TMPDIR:-/tmp} is a writable folder on a disk (set TMPDIR to one)"
        return
    fi
    disk_work=$(mktemp -d "$disk_base/vorlax-hosts-notes.XXXXXX")
    # The sinks go into the disk folder, host 2's onto the mount.
    local work=$disk_work memory_folder=$disk_work/${prefix}2
    mkdir "$memory_folder"
    if ! mount -t tmpfs -o size=1m vorlax-test "$memory_folder" 2>"$scratch/mount.err"; then
        skip_reason="cannot mount a tmpfs: $(head -n 1 "$scratch/mount.err")"
        rm -rf "$disk_work"
        disk_work=""
        return
    fi
    memory_mount=$memory_folder
    make_sinks 'run_r000R_00.BIN'

    run_on_hosts notes B "$disk_work/{host}/run" 64 1 1
    check "exit status 0" status_is $? 0
    local err=$scratch/notes.err
    check "the memory-backed note comes once" status_is "$(grep -c 'is memory-backed' "$err")" 1
    check "it names host ${prefix}2's folder and holds for rank 1 on it alone" \
        has_line "$err" "vorlax-mpi: note: $memory_folder is memory-backed; these figures are memory speed, not a disk's (rank 1 on ${prefix}2)"
    check "no note calls a disk folder memory-backed" \
        lacks_match "$err" "$disk_work/${prefix}[13] is memory-backed"
    # The page-cache note is left out where the folder is in memory. It
    # carries the memory free as each rank saw it, so ranks 0 and 2 may
    # have it on one line or on two.
    check "no page-cache note holds for rank 1's host" \
        lacks_match "$err" "fit in the memory available .*[ ,]${prefix}2(,|\\)\$)"
    check "no note holds for all three hosts" lacks_match "$err" "on ${prefix}1, ${prefix}2, ${prefix}3\\)\$"
    check "no note goes to stdout" \
        lacks_match "$scratch/notes.out" 'note:'

    umount "$memory_mount" && memory_mount=""
    check "the memory mount is gone" is_empty "$(grep -F " $memory_folder " /proc/self/mounts)"
    rm -rf "$disk_work"
    disk_work=""
}

run_case() {
    local name=$1
    case_failures=0
    skip_reason=""
    scratch=$(mktemp -d "$scratch_base/vorlax-hosts.XXXXXX")
    work=$scratch/work
    mkdir "$work"
    if [ ! -x "$exe" ]; then
        skip_reason="no vorlax-mpi at $exe: build it first (cmake --build build/test --target vorlax-mpi)"
    elif hosts_up "$prefix"; then
        "case_$name"
        hosts_down "$prefix"
    fi
    finish_case "$name"
    rm -rf "$scratch"
    scratch=""
}

cases=("${@:2}")
[ ${#cases[@]} -gt 0 ] ||
    cases=(host_and_rank_names banner_and_rows host_without_folder host_killed_mid_run sets_keep_apart
        notes_name_their_hosts)
for name in "${cases[@]}"; do
    declare -F "case_$name" >/dev/null || { echo "no case named $name" >&2; exit 2; }
    run_case "$name"
done
echo "hosts: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
