# The checks and host handling of tests/mpi-hosts/run.sh and slurm.sh,
# which source this file; they use their variables (simulate, hosts,
# scratch, work, prefix, exe, limit_s) and count into case_failures and
# skip_reason.
# shellcheck shell=bash disable=SC2154,SC2034

# check DESCRIPTION COMMAND...: counts a failure of this case when COMMAND fails.
check() {
    local description=$1
    shift
    if ! "$@"; then
        echo "    FAILED: $description"
        case_failures=$((case_failures + 1))
    fi
}

has_line() { grep -qxF -- "$2" "$1"; }
has_match() { grep -qE -- "$2" "$1"; }
has_text() { grep -qF -- "$2" "$1"; }
lacks_match() { ! grep -qE -- "$2" "$1"; }
is_empty() { [ -z "$1" ]; }
status_is() { [ "$1" -eq "$2" ]; }

# Makes the hosts PREFIX1..PREFIX3 and sets mpirun_options for them, or
# sets skip_reason and fails.
hosts_up() {
    local set_prefix=$1
    if [ "$(id -u)" -ne 0 ]; then skip_reason="needs root for network namespaces"; return 1; fi
    for tool in ip nsenter unshare mpirun; do
        command -v "$tool" >/dev/null || { skip_reason="$tool is missing"; return 1; }
    done
    if ! "$simulate" up "$hosts" --prefix "$set_prefix" >/dev/null 2>"$scratch/up.err"; then
        skip_reason="cannot make simulated hosts: $(head -n 1 "$scratch/up.err")"
        return 1
    fi
    mpirun_options=$("$simulate" options --prefix "$set_prefix")
}

# Removes a set and checks that nothing of it stays: namespaces, links, mounts.
hosts_down() {
    local set_prefix=$1
    "$simulate" down --prefix "$set_prefix"
    check "no namespace of $set_prefix left" is_empty "$(ip netns list | grep -E "^${set_prefix}[0-9]+( |\$)")"
    check "no link of $set_prefix left" is_empty "$(ip -o link show | grep -E ": $set_prefix(br|[0-9]+v)[@:]")"
    check "no mount of $set_prefix left" is_empty "$(grep -F "/run/vorlax-hosts/$set_prefix/" /proc/self/mounts)"
}

# The command line of mpirun over the set's hosts, one rank each, into the
# array mpirun_line. The session folders go with the scratch folder, also
# those of a killed host.
set_mpirun_line() {
    # shellcheck disable=SC2206
    mpirun_line=(env "TMPDIR=$scratch" timeout -k 5 "$limit_s" mpirun -n "$hosts" $mpirun_options "$exe" "$@")
}

# Runs vorlax-mpi over the set's hosts; output into NAME.out and NAME.err.
run_on_hosts() {
    local name=$1
    shift
    set_mpirun_line "$@"
    "${mpirun_line[@]}" >"$scratch/$name.out" 2>"$scratch/$name.err"
}

# Folders host1..hostN under the scratch folder, with a /dev/null sink at
# each rank's test file name (leaf: a name with R for the rank number).
make_sinks() {
    local leaf=$1 i
    for i in $(seq 1 "$hosts"); do
        mkdir -p "$work/$prefix$i"
        ln -s /dev/null "$work/$prefix$i/${leaf//R/$((i - 1))}"
    done
}

# Files the program made besides the sinks; none where every name was right.
stray_files() { find "$work" -type f; }

not_up() { ! "$simulate" up 1 "$@" >/dev/null 2>&1; }

# After case NAME: the outputs of a failed case (the *.out, *.err and *.log
# files of the scratch folder), then its verdict line, counted into passed,
# failed or skipped.
finish_case() {
    local name=$1 output
    if [ "$case_failures" -gt 0 ]; then
        for output in "$scratch"/*.out "$scratch"/*.err "$scratch"/*.log; do
            [ -s "$output" ] || continue
            echo "    --- ${output##*/} (first 20 lines)"
            head -n 20 "$output" | sed 's/^/    /'
        done
    fi
    if [ -n "$skip_reason" ]; then
        echo "skipped: $name: $skip_reason"
        skipped=$((skipped + 1))
    elif [ "$case_failures" -eq 0 ]; then
        echo "passed: $name"
        passed=$((passed + 1))
    else
        echo "FAILED: $name"
        failed=$((failed + 1))
    fi
}
