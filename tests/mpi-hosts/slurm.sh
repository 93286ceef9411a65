#!/usr/bin/env bash
# vorlax-mpi under Slurm, on a cluster of three nodes simulated on this
# machine (scripts/simulate-slurm): srun --mpi=pmix over all nodes with
# {host} in the path, what a Slurm start without PMIx prints, a node without
# its folder, the session folder note with the nodes' spools on the disk
# of the test files, sbatch of docs/vorlax-mpi.sbatch, requests the cluster
# can never hold refused at once, down ending a running srun, Ctrl-C during
# up, the script's own messages, a run for a fixed time (--seconds, on a
# throttled loop device), and a cluster that leaves nothing behind.
# Skips with the reason where root, Slurm or namespaces are missing.
#
#   tests/mpi-hosts/slurm.sh [path/to/vorlax-mpi]
#
# Prints one line per case and "slurm: P passed, F failed, S skipped";
# exits non-zero when any case failed.
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 1

exe=$(realpath -m "${1:-${VORLAX_MPI_EXE:-build/test/vorlax-mpi}}")
simulate=$PWD/scripts/simulate-slurm
# Letters from this process's id: a user's cluster (vxs) and another test
# run keep their own.
set_prefix=vxp$(printf '%04d' $(($$ % 10000)) | tr 0-9 a-j)
# The nodes' host names, as make_sinks in lib.sh builds folder names.
prefix=n
hosts=3
# A run only ever writes 64 KB blocks into /dev/null; the limit guards
# against a hang and measures nothing.
limit_s=120
scratch_base=${TMPDIR:-/tmp}
if [ -d /dev/shm ] && [ -w /dev/shm ]; then scratch_base=/dev/shm; fi
# Open MPI's ranks refuse root without these two; srun hands them on.
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1

scratch=$(mktemp -d "$scratch_base/vorlax-slurm.XXXXXX")
work=$scratch/work
# The cluster's folder: /run/vorlax-slurm, or a disk folder for one case.
root=/run/vorlax-slurm
disk_root=""
# The timed case's loop device and the cgroup that holds the cluster to a rate.
loop_device=""
up_group=""
cleanup() {
    "$simulate" down --prefix "$set_prefix" --root "$root" >/dev/null 2>&1
    release_loop_disk
    rm -rf "$scratch"
    [ -n "$disk_root" ] && rm -rf "$disk_root"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

passed=0 failed=0 skipped=0
# shellcheck source=tests/mpi-hosts/lib.sh
source tests/mpi-hosts/lib.sh
# shellcheck source=tests/mpi-hosts/slurm_cluster.sh
source tests/mpi-hosts/slurm_cluster.sh

# srun with the cluster's configuration and a time limit; output into NAME.out and NAME.err.
run_srun() {
    local name=$1
    shift
    timeout -k 5 "$limit_s" srun "$@" >"$scratch/$name.out" 2>"$scratch/$name.err"
}

case_srun_over_pmix() {
    make_sinks 'run_r000R_00.BIN'
    run_srun pmix -N "$hosts" --mpi=pmix "$exe" B "$work/{host}/run" 64 1 1
    check "exit status 0" status_is $? 0
    check "the banner counts $hosts ranks of $hosts hosts" has_match "$scratch/pmix.out" ", on $hosts ranks of $hosts hosts\$"
    check "each rank wrote into its node's folder" is_empty "$(stray_files)"
    local rank
    for rank in $(seq 0 $((hosts - 1))); do
        check "rank $rank runs on n$((rank + 1))" has_match "$scratch/pmix.out" "^rank $rank on n$((rank + 1)): 1024 MB written"
    done
    run_srun list --mpi=list
    check "srun --mpi=list names pmix" has_match "$scratch/list.out" '^[[:space:]]+pmix$'
    # Slurm's default: what docs/slurm.md says the abort looks like.
    run_srun none -N 1 --mpi=none "$exe" B "$work/{host}/run" 64 1 1
    check "without PMIx the rank fails" test $? -ne 0
    check "and Open MPI says it was not started over PMI" has_text "$scratch/none.err" "OMPI was not built with SLURM's PMI support"
}

case_node_without_folder() {
    make_sinks 'run_r000R_00.BIN'
    rm -rf "${work:?}/n2"
    run_srun missing -N "$hosts" --mpi=pmix "$exe" B "$work/{host}/run" 64 1 1
    check "exit status 1" status_is $? 1
    check "rank 1 is named as failed on n2" \
        has_line "$scratch/missing.out" "failed: rank 1 on n2: cannot create its test file: No such file or directory"
    check "no note holds for n2, whose folder is missing" lacks_match "$scratch/missing.err" "note: .*[ ,]n2[,)]"
    check "the other ranks completed" status_is "$(grep -c '^rank [02] thread 0 done! 16384$' "$scratch/missing.out")" 2
}

# Run with the cluster's folder on a disk (run_case's second argument): the
# spools, and so the job step's PMIx folder, share the test files' file system.
case_session_note_names_the_spool() {
    make_sinks 'run_r000R_00.BIN'
    run_srun note -N "$hosts" --mpi=pmix "$exe" B "$work/{host}/run" 64 1 1
    check "exit status 0" status_is $? 0
    local spool="$root/$set_prefix/node/spool/pmix\\.[0-9]+\\.0/?"
    check "each rank's note names the step's folder in slurmd's spool and the site's setting" status_is "$(grep -cE \
        "^vorlax-mpi: note: Slurm keeps this job step's PMIx folder $spool in slurmd's spool \\(SlurmdSpoolDir\\) on the file system of the test files \\($work/n[1-3]\\); .*setting SlurmdSpoolDir in slurm\\.conf .* \\(rank [0-2] on n[1-3]\\)\$" \
        "$scratch/note.err")" 3
    check "and gives no advice that does not move it" lacks_match "$scratch/note.err" 'TMPDIR|orte_tmpdir_base|mpirun'
}

case_sbatch_of_the_docs_script() {
    make_sinks 'run_r000R_00.BIN'
    timeout -k 5 "$limit_s" sbatch --wait -N "$hosts" --output="$scratch/job.log" \
        --export="ALL,VORLAX_MPI=$exe,VORLAX_PREFIX=$work/{host}/run,VORLAX_ARGS=B 64 1 1" \
        docs/vorlax-mpi.sbatch >"$scratch/sbatch.out" 2>"$scratch/sbatch.err"
    check "sbatch --wait ends 0" status_is $? 0
    check "the job ran on $hosts ranks of $hosts hosts" has_match "$scratch/job.log" ", on $hosts ranks of $hosts hosts\$"
    check "DONE! ends its output" has_line "$scratch/job.log" 'DONE!'
    check "each rank wrote into its node's folder" is_empty "$(stray_files)"
}

# The done-when command of a run for a fixed time: each rank writes
# unbuffered to its node's folder until 5 s, then the ranks behind write on
# until every file holds as many blocks; rank 0 prints both figures.
case_seconds_under_srun() {
    run_srun seconds -N "$hosts" --mpi=pmix "$exe" --seconds 5 U "$work/{host}/run" 1024 1 8
    check "exit status 0" status_is $? 0
    check "the stonewall line" has_match "$scratch/seconds.out" \
        '^stonewall: [0-9]+ MB in 5\.[0-9]{3} s, [0-9]+ MB/s \(all ranks until they stopped at 5 s\)'
    check "the wear-out line" has_match "$scratch/seconds.out" \
        "^wear-out: [0-9]+ MB in [0-9]+\\.[0-9]{3} s, [0-9]+ MB/s \\(to the last rank's end, every file written on to [0-9]+ blocks\\)\$"
    local target rank
    target=$(sed -n 's/.*every file written on to \([0-9]*\) blocks.*/\1/p' "$scratch/seconds.out")
    for rank in $(seq 0 $((hosts - 1))); do
        check "rank $rank's file holds the ${target:-?} blocks of every file" status_is \
            "$(stat -c %s "$work/n$((rank + 1))/run_r000${rank}_00.BIN" 2>/dev/null || echo 0)" "$((${target:-0} << 20))"
    done
}

# On two nodes of 2 CPUs, in folders up makes: what the cluster can never
# hold fails at once (status 1; a queued request would meet the time
# limit), and what fits runs.
case_what_never_fits_is_refused() {
    local request
    while read -r request; do
        # shellcheck disable=SC2086
        timeout -k 5 "$limit_s" srun $request true >"$scratch/refused.out" 2>"$scratch/refused.err"
        check "srun $request is refused at once" status_is $? 1
        check "and says why" has_text "$scratch/refused.err" "Unable to allocate resources"
    done <<'EOF'
-N 3
-N 1 --ntasks-per-node=3
-n 5
EOF
    timeout -k 5 "$limit_s" sbatch docs/vorlax-mpi.sbatch >"$scratch/sbatch.out" 2>"$scratch/sbatch.err"
    check "sbatch of the docs' script (4 nodes) is refused at once" status_is $? 1
    check "and says why" has_text "$scratch/sbatch.err" "Batch job submission failed"
    run_srun fits -N 2 --ntasks-per-node=2 hostname
    check "two tasks on each of the two nodes run" status_is "$(sort "$scratch/fits.out" | uniq -c | grep -cE '^ +2 n[12]$')" 2
}

# On one node: down while srun runs cancels the job, and srun ends.
case_down_ends_a_running_srun() {
    check "up names one node and one CPU" has_line "$scratch/up.out" "1 node n1..n1 up, 1 CPU each; use them with:"
    timeout -k 5 "$limit_s" srun -N 1 sleep "$limit_s" >"$scratch/sleep.out" 2>"$scratch/sleep.err" &
    local srun_pid=$! waited=0 status
    until squeue -h -t R | grep -q .; do
        (( waited++ < limit_s * 10 )) || break
        sleep 0.1
    done
    "$simulate" down --prefix "$set_prefix" --root "$root"
    wait "$srun_pid"
    status=$?
    check "srun ends with the job, before its time limit" test "$status" -ne 124 -a "$status" -ne 137
}

# The script's own lines without a cluster: --help, down without root, and
# Ctrl-C while up waits for its nodes (a stand-in sinfo holds it there):
# one line, nothing left.
case_interrupted_up() {
    local up_pid waited=0 status
    "$simulate" --help >"$scratch/help.out" 2>"$scratch/help.err"
    check "--help exits 0" status_is $? 0
    check "with the usage on stdout alone" has_match "$scratch/help.out" ' up N \[--slots S\] '
    check "and nothing on stderr" test ! -s "$scratch/help.err"
    setpriv --reuid=65534 --regid=65534 --clear-groups "$simulate" down --prefix "$set_prefix" 2>"$scratch/down.err"
    check "down without root exits 77" status_is $? 77
    check "with the reason up gives" has_line "$scratch/down.err" "simulate-slurm: SKIP: needs root (namespaces, mounts, daemons)"
    mkdir -p "$scratch/bin"
    # Like the real one, it ends on SIGINT with a status, not by the signal.
    cat >"$scratch/bin/sinfo" <<EOF
#!/bin/sh
trap 'kill \$!; exit 1' INT
sleep $limit_s &
touch "$scratch/sinfo.ran"
wait
EOF
    chmod 755 "$scratch/bin/sinfo"
    root=$scratch/made/by/up
    # Job control: up in a process group of its own, as at a terminal.
    set -m
    PATH=$scratch/bin:$PATH "$simulate" up 1 --prefix "$set_prefix" --root "$root" </dev/null \
        >"$scratch/up.out" 2>"$scratch/up.err" &
    up_pid=$!
    set +m
    until [ -e "$scratch/sinfo.ran" ] || ! kill -0 "$up_pid" 2>/dev/null; do
        (( waited++ < limit_s * 10 )) || break
        sleep 0.1
    done
    kill -INT -- -"$up_pid" 2>/dev/null
    wait "$up_pid"
    status=$?
    if [ "$status" -eq 77 ]; then
        skip_reason=$(sed -n 's/.*SKIP: //p' "$scratch/up.err" | head -n 1)
        return
    fi
    check "Ctrl-C ends up with 130" status_is "$status" 130
    check "saying so in one line" test "$(cat "$scratch/up.err")" = "simulate-slurm: interrupted; removing what was made"
    check "and removes the folders it made" test ! -e "$scratch/made"
    check "no process of the cluster stays" \
        is_empty "$(cluster_processes)"
}

for name in srun_over_pmix node_without_folder sbatch_of_the_docs_script seconds_under_srun; do run_case "$name"; done
run_case what_never_fits_is_refused "$scratch/made/by/up" 2 2
run_case down_ends_a_running_srun /run/vorlax-slurm 1
case_failures=0 skip_reason=""
case_interrupted_up
finish_case interrupted_up
# A disk folder: /var/tmp, else $TMPDIR, where it is not in memory.
for base in /var/tmp "${TMPDIR:-/tmp}"; do
    [[ "$(stat -f -c %T "$base" 2>/dev/null)" =~ ^(tmpfs|ramfs)?$ ]] && continue
    disk_root=$(mktemp -d "$base/vorlax-slurm-disk.XXXXXX") && break
done
if [ -n "$disk_root" ]; then
    run_case session_note_names_the_spool "$disk_root"
else
    echo "skipped: session_note_names_the_spool: neither /var/tmp nor \$TMPDIR is on a disk"
    skipped=$((skipped + 1))
fi
echo "slurm: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
