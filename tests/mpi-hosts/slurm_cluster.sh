# The throw-away Slurm cluster of tests/mpi-hosts/slurm.sh, sourced by it:
# a fresh cluster per case (scripts/simulate-slurm up, down) with the checks
# that nothing of it stays, and the throttled loop disk of the timed case.
# Uses slurm.sh's settings (exe, simulate, set_prefix, hosts, scratch,
# work, root, disk_root, loop_device, up_group) and lib.sh's check and
# finish_case.
# shellcheck shell=bash disable=SC2154,SC2034

# The cluster's processes still running.
cluster_processes() { ps -eo stat=,args= | grep -F "$root/$set_prefix/" | grep -v '^Z' | grep -v grep; }

# An ext4 on a loop device mounted on the work folder, with the nodes'
# folders, and a cgroup that holds writes to it to rate_mb MB/s: mounted
# before the cluster comes up (each node's mount namespace is private from
# then on), and the cluster started in the cgroup, so that every daemon, and
# every rank they start, writes at that rate. Sets skip_reason and fails
# where a piece is missing.
make_loop_disk() {
    local rate_mb=$1 numbers name=vorlax-stonewall-slurm-$$ limit
    if [ -e /sys/fs/cgroup/blkio/blkio.throttle.write_bps_device ]; then
        up_group=/sys/fs/cgroup/blkio/$name limit=blkio.throttle.write_bps_device
    elif grep -qw io /sys/fs/cgroup/cgroup.subtree_control 2>/dev/null; then
        up_group=/sys/fs/cgroup/$name limit=io.max
    else
        skip_reason="no block-I/O throttle: neither cgroup v1 blkio nor v2 io.max"
        return 1
    fi
    for tool in losetup mkfs.ext4 mount; do
        command -v "$tool" >/dev/null || { skip_reason="$tool is missing"; up_group=""; return 1; }
    done
    truncate -s 1G "$scratch/disk.img" && mkfs.ext4 -q -F -m 0 "$scratch/disk.img" || return 1
    if ! loop_device=$(losetup --find --show "$scratch/disk.img" 2>/dev/null); then
        skip_reason="losetup cannot attach a loop device here"
        loop_device="" up_group=""
        return 1
    fi
    mount "$loop_device" "$work" && mkdir "$work/n1" "$work/n2" "$work/n3" && mkdir "$up_group" || return 1
    numbers=$(printf '%d:%d' "0x$(stat -c %t "$loop_device")" "0x$(stat -c %T "$loop_device")")
    if [ "$limit" = io.max ]; then
        echo "$numbers wbps=$((rate_mb << 20))" >"$up_group/$limit"
    else
        echo "$numbers $((rate_mb << 20))" >"$up_group/$limit"
    fi
}

# Undoes make_loop_disk, once the cluster is down.
release_loop_disk() {
    if [ -n "$loop_device" ]; then
        umount "$work" 2>/dev/null || umount -l "$work"
        losetup --detach "$loop_device"
        rm -f "$scratch/disk.img"
    fi
    [ -n "$up_group" ] && rmdir "$up_group" 2>/dev/null
    loop_device="" up_group=""
}

# Runs CASE on a fresh cluster and takes it down, checking that nothing of
# it stays: ROOT the cluster's folder, NODES and SLOTS (3 and 1 by default).
run_case() {
    local name=$1 status=0 root_was_there=no
    root=${2:-/run/vorlax-slurm}
    work=$scratch/work
    case_failures=0
    skip_reason=""
    if [ "$root" = "$disk_root" ]; then work=$root/work; fi
    rm -rf "$work" "$scratch"/*.out "$scratch"/*.err "$scratch"/*.log && mkdir -p "$work"
    if [ ! -x "$exe" ]; then
        skip_reason="no vorlax-mpi at $exe: build it first (cmake --build build/test --target vorlax-mpi)"
    elif [ "$name" = seconds_under_srun ] && ! make_loop_disk 30; then
        [ -n "$skip_reason" ] || check "the throttled loop disk is made" false
    else
        [ -e "$root" ] && root_was_there=yes
        # In the case's cgroup, if any: every daemon and rank inherits it.
        (if [ -n "$up_group" ]; then echo "$BASHPID" >"$up_group/cgroup.procs"; fi
         exec "$simulate" up "${3:-$hosts}" --slots "${4:-1}" --prefix "$set_prefix" --root "$root") \
            >"$scratch/up.out" 2>"$scratch/up.err" || status=$?
        if [ "$status" -eq 77 ]; then
            skip_reason=$(sed -n 's/.*SKIP: //p' "$scratch/up.err" | head -n 1)
        elif [ "$status" -ne 0 ]; then
            check "the cluster comes up ($(tail -n 1 "$scratch/up.err"))" false
        else
            export SLURM_CONF
            SLURM_CONF=$(sed -n 's/^export SLURM_CONF=//p' "$scratch/up.out")
            "case_$name"
            "$simulate" down --prefix "$set_prefix" --root "$root"
            check "down leaves no folder" test ! -e "$root/$set_prefix"
            # (/run/vorlax-slurm is shared with other clusters, that come and go.)
            [ "$root" = /run/vorlax-slurm ] ||
                check "down leaves $root as up found it" test "$([ -e "$root" ] && echo yes || echo no)" = "$root_was_there"
            check "down leaves no process of the cluster running" \
                is_empty "$(cluster_processes)"
            # The namespace's first process reaps them: none waits for this machine's init.
            check "down leaves no daemon as a zombie" \
                is_empty "$(ps -eo stat=,comm= | awk '$1 ~ /^Z/ && $2 ~ /^(slurmd|slurmctld|slurmstepd|munged|holder)$/')"
        fi
    fi
    release_loop_disk
    finish_case "$name"
}
